"""Ctrl-C at the console and unpacks that fail: once the board has decided to reboot, the
console cannot stop it; a tarball that does not unpack whole, because tar fails or is
interrupted, is never started and counts as that slot's CRC failure."""

import io
import os
import tarfile
import time

import pexpect
import pytest

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


def slow_tarball() -> bytes:
    """distro-id, then a member stored with a leading '/', at which tar tells the console
    that it removes it, then a 128 MiB executable that takes a while to write."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz", compresslevel=1) as archive:
        for path, data in [("home/bin/distro-id", b"1\n"), ("/home/bin/leftover", b"x"),
                           ("home/bin/mp.elf.strip", bytes(128 << 20))]:
            info = tarfile.TarInfo(path)
            info.size, info.mode = len(data), 0o755
            archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def interrupted_at_the_executable(console):
    console.expect(r"[Rr]emoving leading .* from member names")
    console.interrupt()


def cut_tarball() -> bytes:
    """A gzip stream that ends in the middle of the executable, after distro-id."""
    whole = harness.tarball({"home/bin/distro-id": "1\n", "home/bin/leftover": "x",
                             "home/bin/mp.elf.strip": (os.urandom(200_000), 0o755)})
    return whole[:len(whole) * 6 // 10]


@pytest.mark.parametrize("tarball, disturb", [
    pytest.param(slow_tarball, interrupted_at_the_executable, id="Ctrl-C during the unpack"),
    pytest.param(cut_tarball, lambda console: None, id="tar fails"),
])
def test_partly_unpacked_slot_is_not_started_and_the_other_slot_boots(board, tarball, disturb):
    board.write_slot(1, harness.component(tarball()))
    board.write_slot(2, harness.tagged_image("slot2"))
    console = board.power_on(timeout=60)
    console.expect_exact("Booting image '1'")
    disturb(console)
    console.expect_exact("Failed to gunzip Application OS.")
    console.expect_exact("Image1 CRC failed, trying Image2 now.")
    run = console.wait_end()
    assert run.application_started, run.output
    assert harness.started_tag(run, ("slot2",)) == "slot2"
    assert board.booted_image == 2
    assert "/tmp/home/bin/leftover" not in run.events.tree()
