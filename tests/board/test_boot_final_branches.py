"""What the operator sees when neither slot can be booted: the rescue menu (final branch A)
or straight to the reboot (final branch B), each with a shell first when shell=on; and
which of the boot path's messages go to standard error rather than the console's output."""

import pathlib
import shutil

import pytest

import harness


def no_slot_files(board):
    pass


def slots_without_application(board):
    board.write_slot(1, harness.component(b"k" * 64, type="kernel"))
    board.write_slot(2, harness.package(harness.component(b"u" * 32, type="uboot"),
                                        harness.component(b"r" * 16, type="rfs", format=3)))


def slots_with_crc_errors(board):
    board.write_slot(1, harness.corrupt(harness.application_image()))
    board.write_slot(2, harness.corrupt(harness.application_image()))


def use_the_shell(console):
    """Types a command into the shell and leaves it; the boot goes on when it exits."""
    console.sendline("echo shell-$((6*7))")
    console.expect_exact("shell-42")
    console.sendline("exit")


# Each scenario: how the slots look, the messages in order, and whether the rescue menu
# comes before the (optional) shell and the reboot.
SCENARIOS = {
    "both slot files missing": (no_slot_files, [
        "Booting image '1'",
        "Failed to open Application image 1. Trying image 2.",
        "Failed to open Application image 2.",
    ], True),
    "no bootable component in either slot": (slots_without_application, [
        "Image has invalid header 0x35a514b. (0x65a514b)",
        "Image1 has invalid header... trying Image2.",
        "Booting image '2'",
        "No valid application image found. Trying rescue image",
    ], True),
    "CRC failure in both slots": (slots_with_crc_errors, [
        "Image1 CRC failed, trying Image2 now.",
        "Booting image '2'",
        "Both image1 and image2 failed.",
    ], False),
}


@pytest.mark.parametrize("shell", [False, True], ids=["shell off", "shell on"])
@pytest.mark.parametrize("scenario", SCENARIOS)
def test_unbootable_slots_end_in_a_reboot(board, scenario, shell):
    prepare, messages, rescue_menu = SCENARIOS[scenario]
    prepare(board)
    if shell:
        board.set_env("shell=on")
    console = board.power_on(timeout=30)
    for message in messages:
        console.expect_exact(message)
    if rescue_menu:
        console.expect_exact("Entering Rescue Mode.")
        console.expect_exact("Option? : ")
        console.send("e")
    if shell:
        use_the_shell(console)
    run = console.wait_end()
    assert run.rebooted, run.output
    assert ("Entering Rescue Mode." in run.transcript) == rescue_menu
    assert run.events.calls("reboot") == [""]
    assert run.events.calls("backtrace") == []


def crc_then_no_component(board):
    board.write_slot(1, harness.corrupt(harness.application_image()))
    board.write_slot(2, harness.component(b"k" * 64, type="kernel"))


def gdb_image_refused(board):
    board.write_slot(1, harness.application_image())
    board.write_slot(2, harness.component(b"not gzip", format=2))
    board.set_env("gdb=on")


# How the slots look, what must be on standard error (exactly), and lines that must be on
# the console (standard output).
STREAMS = {
    "CRC failure, then no bootable component": (crc_then_no_component, (
        "Image1 CRC failed, trying Image2 now.\n"
        "No valid application image found. Trying rescue image\n"),
        ["Booting image '1'", "Booting image '2'", "Entering Rescue Mode."]),
    "both slot files missing": (no_slot_files, (
        "Failed to open Application image 1. Trying image 2.\n"
        "Failed to open Application image 2.\n"),
        ["Booting image '1'", "Entering Rescue Mode."]),
    "gdb image refused": (gdb_image_refused, "Image has invalid header 0x815a514b\n",
                          ["Extracting GDB from image slot 2",
                           "**** GDB mode selected but GDB not available. Please install GDB image ***"]),
}


@pytest.mark.parametrize("scenario", STREAMS)
def test_failure_messages_go_to_standard_error(board, tmp_path, scenario):
    """The boot manager runs with its standard error sent to a file of the board directory,
    so the console shows only what went to standard output. Its standard input is closed: a
    rescue menu on the way is left at the end of input, and the run goes on to its reboot."""
    prepare, stderr, stdout_lines = STREAMS[scenario]
    shutil.copy(pathlib.Path(harness.bootsim_path()).parent / "bootmgr-sim", board.path / "bootmgr-sim")
    wrapper = tmp_path / "bootmgr-stderr"
    wrapper.write_text("#!/bin/sh\nexec /board/bootmgr-sim 2>/board/stderr.log </dev/null\n")
    wrapper.chmod(0o755)
    prepare(board)

    run = board.boot(timeout=30, bootmgr=wrapper)
    assert (board.path / "stderr.log").read_text() == stderr
    for line in stdout_lines:
        assert line in run.output
    for line in stderr.splitlines():
        assert line not in run.output
