"""A power cut at every flash operation of an install from the rescue menu (kernel, root fs,
application): the next power-on boots the old slot image or the whole new one, never a mix,
no temporary slot file is left, and the install can be run again."""

import random
import re

import pexpect

import harness



def flash_operations(board) -> list[str]:
    """Partition reads, erases and writes, and file operations under /user, so far."""
    log = board.path / "devices.log"
    return [line for line in (log.read_text().splitlines() if log.exists() else [])
            if re.match(r"mtd-\S+ (pread|erase|pwrite) ", line) or line.startswith("user ")]


def install(board, cut: int) -> None:
    """A power-on that installs pkg.img from the stick into slot 1, with the power cut at
    flash operation CUT (0: none)."""
    board.set_conf("power_cut", cut)
    board.set_env("diagnostics=rescue")
    console = board.power_on(timeout=60)
    for text, reply in [(harness.PROMPT, None), (None, "u"), ("(q to quit): ", "1\r"),
                        ("(hit return to just boot image): ", "1\r"), ("File processed", None),
                        (harness.PROMPT, "r")]:
        if text is None:  # the stick must be mounted before U lists it
            board.wait_usb_ready()
        elif console.expect_exact([text, pexpect.EOF]) == 1:
            break
        if reply:
            console.send(reply)
    run = console.wait_end()
    assert run.status == (harness.REBOOT if cut == 0 else harness.KILLED), run.output
    board.set_conf("power_cut", 0)


def boots(board) -> str:
    """Powers on without the rescue request; returns the tag of the started application."""
    board.set_env()
    run = board.boot(timeout=30)
    assert run.application_started, run.output
    return harness.started_tag(run)


def test_power_cut_at_every_flash_operation_of_an_install(board):
    # Small erase blocks keep the kernel to a few flash operations per block; an application
    # over 128 KiB takes three slot-file writes.
    board.add_partition("kernel 0x10000 0x400")
    board.add_partition("rfs 0x10000 0x400")
    old_kernel = harness.component(b"o" * 2500, type="kernel", version="0.0.0.0")
    new_kernel = harness.component(b"n" * 2500, type="kernel", version="0.0.0.0")
    old_rfs = harness.component(b"p" * 1500, type="rfs", version="0.0.0.0")
    new_rfs = harness.component(b"m" * 1500, type="rfs", version="0.0.0.0")
    old_app = harness.tagged_image("old", version="0.0.0.0")
    bulk = random.Random(12).randbytes(140_000)  # does not compress
    new_app = harness.application_image(dict(harness.DEFAULT_APP_FILES, **{
        "home/bin/tag": "new", "home/bin/bulk": bulk}), version="0.0.0.0")
    board.insert_usb({"pkg.img": harness.package(new_kernel, new_rfs, new_app)})

    def restore_old():
        board.flash_write("kernel", old_kernel)
        board.flash_write("rfs", old_rfs)
        board.write_slot(1, old_app)

    restore_old()
    before = len(flash_operations(board))
    install(board, 0)
    operations = flash_operations(board)[before:]
    assert sum(op.startswith("user write ") for op in operations) == 3
    assert operations[-2:] == ["user sync /user/images/image1.new",
                               "user rename /user/images/image1.new /user/images/image1"]

    for cut in range(1, len(operations) + 1):
        restore_old()
        install(board, cut)
        slot = board.read_slot(1)
        assert slot in (old_app, new_app), f"cut {cut}: slot 1 is a mix"
        # The flash parts are written first: a new application means the whole new kernel
        # and root fs.
        if slot == new_app:
            assert board.flash_read("kernel").startswith(new_kernel), f"cut {cut}"
            assert board.flash_read("rfs").startswith(new_rfs), f"cut {cut}"
        assert boots(board) == ("new" if slot == new_app else "old"), f"cut {cut}"
        assert not board.user_path("images/image1.new").exists(), f"cut {cut}"

    # Once the power stays on, the same install completes.
    install(board, 0)
    assert board.read_slot(1) == new_app
    assert board.flash_read("kernel").startswith(new_kernel)
    assert boots(board) == "new"
