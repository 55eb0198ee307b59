"""Installing a file from the USB stick from the rescue menu (U): the numbered list of the
stick's files, the number typed with the line editor as an operator types it, and the
signature check of what is picked."""

import os
import pathlib
import re
import subprocess
import time

import harness

PROMPT = "Option? : "
MENU = "Please select one of the following options:"
CHOOSE = "Choose file number to install (q to quit): "
ROOT = pathlib.Path(__file__).resolve().parents[2]
DEMO_KEY = ROOT / "keys/demo/demo-signing-key.NOT-FOR-PRODUCTION.pem"


def rescue_with_stick(board, files):
    """A power-on at the rescue menu with a stick holding FILES, mounted at once."""
    board.set_env("diagnostics=rescue")
    board.eeprom_set(harness.USB_STATUS, harness.USB_PRESENT)
    board.set_conf("usb_delay", 0)
    board.insert_usb(files)
    console = board.power_on(timeout=60)
    console.expect_exact(PROMPT)
    deadline = time.monotonic() + 10
    while "bootsim.usb-ready /tmp/usb" not in board.events():
        assert time.monotonic() < deadline, "the stick never got mounted"
        time.sleep(0.05)
    return console


def open_list(console) -> list[str]:
    """Presses U; returns the listed names by number (index 0 unused)."""
    console.send("u")
    console.expect_exact(CHOOSE)
    listed = re.findall(r"\t(\d+): (\S+)\r\n", console.child.before)
    assert [int(n) for n, _ in listed] == list(range(1, len(listed) + 1))
    return [""] + [name for _, name in listed]


def back_at_menu(console) -> str:
    """Waits for the full menu and its prompt; returns what was shown before it."""
    console.expect_exact(MENU)
    shown = console.child.before
    console.expect_exact(PROMPT)
    return shown


# Keys as an operator types them, each with its echo: 7, Ctrl-C (SIGINT: the bell), DEL,
# x, 9, Ctrl-B, Ctrl-D, Ctrl-A, 3, Ctrl-F, arrow left, arrow right, Enter. The line is "3x".
EDITING = [("7", "7"), (None, "\a"), ("\x7f", "\b \b"), ("x", "x"), ("9", "9"), ("\x02", "\b"),
           ("\x04", " \b"), ("\x01", "\b"), ("3", "3x\b"), ("\x06", "x"), ("\x1b[D", "\b"),
           ("\x1b[C", "x"), ("\r", "\r\n")]


def test_files_are_numbered_and_chosen_by_the_typed_number(board):
    kernels = {name: harness.component(name.encode() * 300, type="kernel", version="0.0.0.0")
               for name in ("alpha.img", "beta.img", "gamma.img")}
    console = rescue_with_stick(board, {**kernels, "folder/inner.img": b"not listed"})

    names = open_list(console)
    assert sorted(names[1:]) == sorted(kernels)  # the folder is left out
    console.sendline("abc")
    console.expect_exact("Invalid file number abc. Try again pleas")
    console.sendline("0")
    assert "Installing" not in back_at_menu(console)
    for answer in ("q", "4"):  # quit; a number past the last file
        open_list(console)
        console.sendline(answer)
        shown = back_at_menu(console)
        assert "Installing" not in shown and "Invalid" not in shown

    open_list(console)
    console.sendline("2x")
    console.expect_exact(f"Installing {names[2]}\r\n")
    console.expect_exact("File processed")
    back_at_menu(console)
    assert board.flash_read("kernel").startswith(kernels[names[2]])

    open_list(console)
    console.type_keys(EDITING)
    console.expect_exact(f"Installing {names[3]}\r\n")
    console.expect_exact("File processed")
    back_at_menu(console)
    console.send("r")
    assert console.wait_end().rebooted
    assert board.flash_read("kernel").startswith(kernels[names[3]])


def test_only_an_application_signed_with_a_trusted_key_is_installed(board, tmp_path):
    other_key = tmp_path / "other.pem"
    subprocess.run(["openssl", "genrsa", "-out", str(other_key), "2048"], check=True,
                   capture_output=True)
    payload = harness.tarball(dict(harness.DEFAULT_APP_FILES, **{"home/bin/tag": "signed"}))
    trusted = harness.component(payload, version="1.0.0.1", format=3, sign=DEMO_KEY)
    untrusted = harness.component(payload, version="1.0.0.1", format=3, sign=other_key)
    console = rescue_with_stick(board, {"trusted.img": trusted, "untrusted.img": untrusted})

    names = open_list(console)
    console.sendline(str(names.index("untrusted.img")))
    console.expect_exact("Installing Application: \tImage rejected: key not trusted\r\n")
    assert "Installing image as" not in back_at_menu(console)
    assert board.read_slot(1) is None

    names = open_list(console)
    console.sendline(str(names.index("trusted.img")))
    console.expect_exact("Installing Application: \tImage signature verified\r\n")
    console.expect_exact("Install image as image 1 or 2 (hit return to just boot image): ")
    console.sendline("1")
    console.expect_exact("Image1 updated succeeded")
    back_at_menu(console)
    console.send("r")
    assert console.wait_end().rebooted
    assert board.read_slot(1) == trusted


def test_names_are_listed_escaped_and_a_fifo_is_not_installed(board):
    console = rescue_with_stick(board, {})
    os.mkfifo(board.path / "usb" / "pipe")
    (board.path / "usb" / "x\n\t2:forged.img").write_bytes(b"not an image")
    names = open_list(console)
    assert sorted(names[1:]) == ["pipe", "x\\n\\x092:forged.img"]
    console.sendline(str(names.index("pipe")))
    console.expect_exact("Cannot install /mnt/usb/pipe: not a regular file")
    back_at_menu(console)
    console.send("r")
    assert console.wait_end().rebooted


def test_over_long_slot_answer_does_not_answer_the_next_question(board):
    first = harness.tagged_image("first", version="0.0.0.0")
    second = harness.tagged_image("second", version="0.0.0.0")
    console = rescue_with_stick(board, {"first.img": first, "second.img": second})
    for name, answer in (("first.img", "1" + "x" * 30 + "2"), ("second.img", "1")):
        names = open_list(console)
        console.sendline(str(names.index(name)))
        console.expect_exact("Install image as image 1 or 2 (hit return to just boot image): ")
        console.sendline(answer)
        console.expect_exact("Image1 updated succeeded")
        back_at_menu(console)
    console.send("r")
    assert console.wait_end().rebooted
    assert board.read_slot(1) == second and board.read_slot(2) is None


def test_component_larger_than_its_partition_refuses_the_package(board):
    with open(board.path / "board.conf", "a") as conf:
        conf.write("mtd kernel 0x10000 0x10000\n")
    rfs = harness.component(b"R" * 3000, type="rfs", version="0.0.0.0")
    kernel = harness.component(b"K" * (0x12010 - 16), type="kernel", version="0.0.0.0")
    console = rescue_with_stick(board, {"pkg.img": harness.package(rfs, kernel)})
    open_list(console)
    console.sendline("1")
    console.expect_exact("KERNEL image is too big for its partition (73744 > 65536)")
    back_at_menu(console)
    console.send("r")
    assert console.wait_end().rebooted
    assert board.flash_read("rfs")[:4] == b"\xff" * 4
