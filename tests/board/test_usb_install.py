"""Installing a file from the USB stick from the rescue menu (U): the numbered list, the typed
number, and the signature check and slot question of what is picked."""

import os
import re
import subprocess

import harness

CHOOSE = "Choose file number to install (q to quit): "


def rescue_with_stick(board, files):
    """A power-on at the rescue menu with a stick holding FILES, mounted at once."""
    board.insert_usb(files)
    console = board.rescue_menu()
    board.wait_usb_ready()
    return console


def choose(console, answer) -> list[str]:
    """Presses U and answers ANSWER (a name is typed as its number); returns the names."""
    console.send("u")
    console.expect_exact(CHOOSE)
    listed = re.findall(r"\t(\d+): (\S+)\r\n", console.child.before)
    assert [int(n) for n, _ in listed] == list(range(1, len(listed) + 1))
    names = [""] + [name for _, name in listed]
    console.sendline(str(names.index(answer)) if answer in names else answer)
    return names


def back_at_menu(console) -> str:
    """Waits for the full menu and its prompt; returns what was shown before the menu."""
    console.expect_exact(harness.MENU)
    shown = console.child.before
    console.expect_exact(harness.PROMPT)
    return shown


def reboot(console):
    console.send("r")
    assert console.wait_end().rebooted


def test_files_are_numbered_escaped_and_chosen_by_the_typed_number(board):
    board.add_partition("kernel 0x10000 0x10000")
    kernels = {name: harness.component(name.encode() * 300, type="kernel", version="0.0.0.0")
               for name in ("alpha.img", "beta.img")}
    # A root fs, then a kernel larger than its partition: the whole package is refused.
    too_big = harness.package(harness.component(b"R" * 3000, type="rfs", version="0.0.0.0"),
                              harness.component(b"K" * (0x12010 - 16), type="kernel", version="0.0.0.0"))
    console = rescue_with_stick(board, {**kernels, "pkg.img": too_big, "folder/inner.img": b"not listed"})
    os.mkfifo(board.path / "usb" / "pipe")
    (board.path / "usb" / "x\n\t2:forged.img").write_bytes(b"not an image")

    names = choose(console, "abc")
    # The folder is left out; a name with a newline cannot forge a row.
    assert sorted(names[1:]) == sorted([*kernels, "pkg.img", "pipe", "x\\n\\x092:forged.img"])
    console.expect_exact("Invalid file number abc. Try again pleas")
    console.sendline("0")
    for answer in (None, "q", "6"):  # 0 after a retry; quit; a number past the last file
        if answer:
            choose(console, answer)
        shown = back_at_menu(console)
        assert "Installing" not in shown and "Invalid" not in shown
    choose(console, "pipe")
    console.expect_exact("Cannot install /mnt/usb/pipe: not a regular file")
    back_at_menu(console)
    choose(console, "pkg.img")
    console.expect_exact("KERNEL image is too big for its partition (73744 > 65536)")
    back_at_menu(console)
    assert board.flash_read("rfs")[:4] == b"\xff" * 4

    choose(console, f"{names.index('beta.img')}x")
    console.expect_exact("Installing beta.img\r\n")
    console.expect_exact("File processed")
    back_at_menu(console)
    reboot(console)
    assert board.flash_read("kernel").startswith(kernels["beta.img"])


def test_only_a_trusted_signature_installs_and_an_over_long_answer_is_one_answer(board, tmp_path):
    other_key = tmp_path / "other.pem"
    subprocess.run(["openssl", "genrsa", "-out", str(other_key), "2048"], check=True,
                   capture_output=True)
    payload = harness.tarball(dict(harness.DEFAULT_APP_FILES, **{"home/bin/tag": "first"}))
    trusted = harness.component(payload, version="1.0.0.1", format=3, sign=harness.DEMO_KEY)
    untrusted = harness.component(payload, version="1.0.0.1", format=3, sign=other_key)
    second = harness.tagged_image("second", version="0.0.0.0")
    console = rescue_with_stick(board, {"trusted.img": trusted, "untrusted.img": untrusted,
                                        "second.img": second})

    choose(console, "untrusted.img")
    console.expect_exact("Installing Application: \tImage rejected: key not trusted\r\n")
    assert "Installing image as" not in back_at_menu(console)
    assert board.read_slot(1) is None

    choose(console, "trusted.img")
    console.expect_exact("Installing Application: \tImage signature verified\r\n")
    for name, answer in (("trusted.img", "1" + "x" * 30 + "2"), ("second.img", "1")):
        if name == "second.img":
            choose(console, name)
        console.expect_exact(harness.SLOT_QUESTION)
        console.sendline(answer)
        console.expect_exact("Image1 updated succeeded")
        back_at_menu(console)
        assert board.read_slot(1) == (trusted if name == "trusted.img" else second)
    reboot(console)
    assert board.read_slot(2) is None
