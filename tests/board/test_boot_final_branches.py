"""Neither slot bootable: the rescue menu (final branch A) or straight to the reboot (B), a
shell first with shell=on; the failure messages on standard error, the rest on the console."""

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


def crc_then_no_component(board):
    board.write_slot(1, harness.corrupt(harness.application_image()))
    board.write_slot(2, harness.component(b"k" * 64, type="kernel"))


BOTH_TRIED = ["Booting image '1'", "Booting image '2'"]


# How the slots look, the console lines in order, standard error (exactly), whether the rescue
# menu comes before the reboot, and shell=on (a shell before the reboot).
@pytest.mark.parametrize("prepare, console_lines, stderr, rescue_menu, shell", [
    pytest.param(no_slot_files, ["Booting image '1'"], "Failed to open Application image 1. Trying image 2.\n"
                 "Failed to open Application image 2.\n", True, True, id="both slot files missing, shell on"),
    pytest.param(slots_without_application, BOTH_TRIED, "Image has invalid header 0x35a514b. (0x65a514b)\n"
                 "Image1 has invalid header... trying Image2.\n"
                 "No valid application image found. Trying rescue image\n", True, False,
                 id="no bootable component in either slot"),
    pytest.param(crc_then_no_component, BOTH_TRIED, "Image1 CRC failed, trying Image2 now.\n"
                 "No valid application image found. Trying rescue image\n", True, False,
                 id="CRC failure, then no bootable component"),
    pytest.param(slots_with_crc_errors, BOTH_TRIED, "Image1 CRC failed, trying Image2 now.\n"
                 "Both image1 and image2 failed.\n", False, True, id="CRC failure in both slots, shell on"),
])
def test_unbootable_slots_end_in_a_reboot(board, prepare, console_lines, stderr, rescue_menu, shell):
    prepare(board)
    if shell:
        board.set_env("shell=on")
    console = board.power_on_redirected("2>/board/stderr.log")
    for line in console_lines:
        console.expect_exact(line)
    if rescue_menu:
        console.expect_exact("Entering Rescue Mode.")
        console.expect_exact(harness.PROMPT)
        console.send("e")
    if shell:
        console.sendline("echo shell-$((6*7))")
        console.expect_exact("shell-42")
        console.sendline("exit")
    run = console.wait_end()
    assert run.rebooted, run.output
    assert board.stderr() == stderr
    assert ("Entering Rescue Mode." in run.transcript) == rescue_menu
    assert ("shell-42" in run.transcript) == shell
    assert run.events.calls("reboot") == [""]
    assert run.events.calls("backtrace") == []
