"""Ctrl-C at the console: once the board has decided to reboot, the console cannot stop it."""

import time

import pexpect

import harness


def test_ctrl_c_cannot_stop_the_reboot(board):
    board.write_slot(1, harness.corrupt(harness.application_image()))
    board.write_slot(2, harness.corrupt(harness.application_image()))
    # The reboot command runs a second after the last message and is in the way of a
    # Ctrl-C only for a few milliseconds: ten single presses spread over that moment, then
    # two power-ons of an operator pressing again and again until the board goes down.
    for attempt in range(12):
        console = board.power_on(timeout=30)
        console.expect_exact("Both image1 and image2 failed.")
        if attempt < 10:
            time.sleep(0.992 + 0.002 * attempt)
            console.interrupt()
        else:
            while console.expect(["bootsim: ", pexpect.EOF, pexpect.TIMEOUT], timeout=0.005) == 2:
                console.interrupt()
        run = console.wait_end()
        assert run.rebooted, run.transcript
        assert run.events.calls("reboot") == [""]
