"""The simulator itself, driven by stand-in boot managers (small /bin/sh programs run in
place of bootmgr-sim): how a power-on ends, and what carries over to the next one. The rest
of bootsim is used by the board scenarios end to end."""

import pytest

import harness

# Logs what /tmp and /user hold at the start, then leaves a file in each.
PROBE = ". /usr/lib/bootsim/events.sh\nevent probe \"$(ls -A /tmp)\" \"$(ls -A /user)\"\n" \
        "touch /tmp/left-over /user/kept\n"


@pytest.mark.parametrize("ending, status, reason, line", [
    ("exec /bin/backtrace", harness.APPLICATION, "application", "bootsim: application started"),
    ("sh -c reboot", harness.REBOOT, "reboot", "bootsim: board rebooted"),
    ("exit 7", harness.EXITED, "exited 7", "bootsim: boot manager exited with status 7"),
    ("kill -9 $$", harness.KILLED, "killed 9", "bootsim: boot manager killed by signal 9"),
])
def test_each_ending_has_its_status_and_only_user_carries_over(board, tmp_path, ending, status,
                                                               reason, line):
    fake = tmp_path / "fake-bootmgr"
    fake.write_text(f"#!/bin/sh\n{PROBE}sleep 0.2\n{ending}\nsleep 30\n")
    fake.chmod(0o755)
    runs = [board.boot(timeout=60, bootmgr=fake) for _ in range(2)]
    assert [run.events.calls("probe") for run in runs] == [[" "], [" kept"]]
    assert len(harness.parse_power_ons((board.path / "events.log").read_text())) == 2
    for run in runs:
        assert run.status == status, run.output
        assert line in run.output
        assert f"(events: {board.path}/events.log)" in run.output
        assert run.events.power_off == reason
        assert ("reboot" in run.events) == (status == harness.REBOOT)
