"""The simulator itself, driven by stand-in boot managers (small /bin/sh programs run in
place of bootmgr-sim): how a power-on ends, what it leaves behind and what carries over to
the next one. The rest of bootsim is used by the board scenarios end to end."""

import pathlib
import random

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
    for cmdline in pathlib.Path("/proc").glob("[0-9]*/cmdline"):
        try:
            lines.append(cmdline.read_bytes().replace(b"\0", b" ").decode(errors="replace"))
        except OSError:
            continue
    return "\n".join(lines)


@pytest.mark.parametrize("ending, status, reason, line", [
    ("exec /bin/backtrace", harness.APPLICATION, "application", "bootsim: application started"),
    ("sh -c reboot", harness.REBOOT, "reboot", "bootsim: board rebooted"),
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


def test_tmp_starts_empty_and_user_persists_across_power_ons(board, tmp_path):
    fake = fake_boot_manager(tmp_path, 'event probe "$(ls -A /tmp)" "$(ls -A /user)"\n'
                                       'touch /tmp/left-over /user/kept\nreboot\n')
    runs = [board.boot(timeout=60, bootmgr=fake) for _ in range(2)]
    assert [run.events.calls("probe") for run in runs] == [[" "], [" kept"]]
    assert len(harness.parse_power_ons((board.path / "events.log").read_text())) == 2
