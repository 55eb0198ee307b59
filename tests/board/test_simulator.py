"""The simulator itself: how a power-on ends, what it leaves behind and what carries over to
the next one. Stand-in boot managers (small /bin/sh programs run in place of bootmgr-sim)
drive the board here, so these tests do not depend on the boot path. The set-up commands,
the sandbox's programs, the console, Ctrl-C, the USB stick and the XMODEM relay are used by
the board scenarios end to end."""

import os
import random
import subprocess
import time

import pytest

import harness


def fake_boot_manager(tmp_path, body: str, name: str = "fake-bootmgr"):
    """A /bin/sh program for the board that can log with `event` like the stand-ins."""
    path = tmp_path / name
    path.write_text("#!/bin/sh\n. /usr/lib/bootsim/events.sh\n" + body)
    path.chmod(0o755)
    return path


def running_commands() -> str:
    """Command lines of every process on the host, one per line."""
    lines = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                lines.append(cmdline.read().replace(b"\0", b" ").decode(errors="replace"))
        except OSError:
            continue
    return "\n".join(lines)


# --- power-on lifecycle ------------------------------------------------------------------


@pytest.mark.parametrize("ending, status, reason, line", [
    ("exec /bin/backtrace", harness.APPLICATION, "application", "bootsim: application started"),
    ("sh -c reboot", harness.REBOOT, "reboot", "bootsim: board rebooted"),
    ("/sbin/reboot -f", harness.REBOOT, "reboot", "bootsim: board rebooted"),
    ("exit 7", harness.EXITED, "exited 7", "bootsim: boot manager exited with status 7"),
    ("kill -9 $$", harness.KILLED, "killed 9", "bootsim: boot manager killed by signal 9"),
])
def test_each_ending_of_a_power_on_has_its_own_status(board, tmp_path, ending, status, reason,
                                                      line):
    # A process left running must not outlive the board's power-on. (A number of seconds of
    # its own tells it from other boards' processes on this machine.)
    seconds = random.randint(100000, 999999)
    fake = fake_boot_manager(tmp_path, f"sleep {seconds} &\nsleep 0.2\n{ending}\nsleep 30\n")
    result = board.boot(timeout=60, bootmgr=fake)
    assert result.status == status, result.output
    assert line in result.output
    assert f"(events: {board.path}/events.log)" in result.output
    assert result.events.power_off == reason
    if status == harness.REBOOT:
        assert "reboot" in result.events
    assert f"sleep {seconds}" not in running_commands()


@pytest.mark.parametrize("cut, status, reason, line", [
    ("time limit", harness.TIMED_OUT, "timeout", "bootsim: power-on timed out"),
    ("SIGTERM", harness.SWITCHED_OFF, "switched-off", "bootsim: board switched off"),
])
def test_a_hanging_board_can_be_cut_off(board, tmp_path, cut, status, reason, line):
    seconds = random.randint(100000, 999999)
    fake = fake_boot_manager(tmp_path, f"echo READY\nsleep {seconds}\n")
    args = [harness.bootsim_path(), "run", board.path]
    if cut == "time limit":
        args += ["--timeout", "2"]
    started = time.monotonic()
    run = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                           env=dict(os.environ, BOOTSIM_BOOTMGR=str(fake)))
    assert run.stdout.readline() == "READY\n"
    if cut == "SIGTERM":
        run.terminate()
    out, _ = run.communicate(timeout=30)
    assert run.returncode == status
    assert time.monotonic() - started < 10
    assert line in out
    assert board.events().power_off == reason
    assert f"sleep {seconds}" not in running_commands()


def test_tmp_starts_empty_and_user_persists_across_power_ons(board, tmp_path):
    fake = fake_boot_manager(tmp_path, r'''
event probe.tmp "$(ls -A /tmp | tr '\n' ' ')"
event probe.user "$(ls -A /user | tr '\n' ' ')"
touch /tmp/left-over /user/kept
reboot
''')
    first = board.boot(timeout=60, bootmgr=fake)
    second = board.boot(timeout=60, bootmgr=fake)
    assert first.events.details("probe", "tmp") == [""]
    assert first.events.details("probe", "user") == [""]
    assert second.events.details("probe", "tmp") == [""]
    assert second.events.details("probe", "user") == ["kept "]
    assert len(harness.parse_power_ons((board.path / "events.log").read_text())) == 2
