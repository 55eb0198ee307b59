"""Trial boot with automatic rollback: with bootlimit=3 an application installed from the
stick boots three times unless the application confirms it with "bootmgr confirm", then the
other slot for good. A power cut at any flash operation of a trial power-on or of confirm
leaves a board that boots and never loses attempts used or a confirmation that returned."""

import itertools
import shutil

import pytest

import harness
from harness import started_tag as tag

ON_TRIAL = "image2: 2.0.0.0 on trial, {} of 3 boots used"
ROLLED_BACK = "Image2 was not confirmed after 3 boots; booting image1"


def install_new(board, env=("bootlimit=3",)):
    """Slot 1 holds the old (confirmed) image; the stick replaces slot 2 with the new, signed
    one, which the first power-on installs and boots. Then the stick is pulled out."""
    board.write_slot(1, harness.tagged_image("old", version="1.0.0.0"))
    board.set_env(*env)
    board.insert_usb({"LMW3190_replace2_OS.img": harness.tagged_image(
        "new", version="2.0.0.0", format=3, sign=harness.DEMO_KEY)})
    run = board.boot(timeout=60)
    board.eeprom_set(harness.USB_STATUS, 0)
    assert tag(run) == "new", run.output
    return run


def status(board) -> list[str]:
    result = board.exec("bootmgr", "status")
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def snapshot(board, name):
    """A copy of /user (beside the board, as NAME), the boot-slot and booted-image bytes."""
    copy = board.path.with_name(name)
    shutil.copytree(board.user_path(""), copy)
    return copy, board.boot_slot, board.booted_image


def restore(board, saved):
    copy, board.boot_slot, board.booted_image = saved
    shutil.rmtree(board.user_path(""))
    shutil.copytree(copy, board.user_path(""))


@pytest.mark.parametrize("env, tags", [
    (("bootlimit=3",), ["new", "new", "new", "old", "old"]),
    ((), ["new"] * 5),  # no bootlimit: the boot slot byte decides, as it always did
])
def test_unconfirmed_image_boots_bootlimit_times_then_the_old_slot_for_good(board, env, tags):
    runs = [install_new(board, env)] + [board.boot(timeout=30) for _ in range(4)]
    assert [tag(run) for run in runs] == tags
    rolled_back = [ROLLED_BACK in run.output for run in runs]
    if env:
        assert rolled_back == [False, False, False, True, False]
        assert board.boot_slot == 1
        assert status(board)[1] == "image2: 2.0.0.0 failed after 3 boots"
    else:
        assert not any(rolled_back) and board.boot_slot == 2
        assert not board.user_path("images/trial").exists()


def test_confirmed_after_the_first_boot_stays_on_the_new_image(board):
    install_new(board)
    assert status(board) == ["image1: 1.0.0.0 confirmed", ON_TRIAL.format(1), "boot slot: 2",
                             "bootlimit: 3"]
    # A second confirm, with nothing left on trial, changes nothing and succeeds.
    for reply in ("Image2 confirmed\n", "Image2 is confirmed already\n"):
        confirm = board.exec("bootmgr", "confirm")
        assert (confirm.returncode, confirm.stdout) == (0, reply)
        assert status(board)[1] == "image2: 2.0.0.0 confirmed"
    assert [tag(board.boot(timeout=30)) for _ in range(4)] == ["new"] * 4


def cut_power_ons(board, saved, run):
    """Runs RUN (one power-on or command) from the state SAVED with the power cut at its 1st,
    2nd... flash operation until it gets through uncut; yields after each cut."""
    for cut in itertools.count(1):
        restore(board, saved)
        board.set_conf("power_cut", cut)
        killed = run()
        board.set_conf("power_cut", 0)
        if not killed:
            assert cut > 2, "the sweep never cut a write"
            return
        yield cut


def used(line) -> int:
    return int(line.split()[-5 if "on trial" in line else -2])


def test_power_cut_at_every_write_of_a_trial_power_on_and_of_confirm(board):
    install_new(board)
    one_used = snapshot(board, "one-used")
    board.boot(timeout=30)
    board.boot(timeout=30)
    three_used = snapshot(board, "three-used")

    def power_on():
        return board.boot(timeout=30).status == harness.KILLED

    # Counting (1 -> 2) and rolling back (3 used): the count never goes back, the board
    # always boots, and once the limit is used up the next power-on boots the old image.
    for saved, before in ((one_used, 1), (three_used, 3)):
        for cut in cut_power_ons(board, saved, power_on):
            assert used(status(board)[1]) >= before, f"cut {cut}"
            expected = "old" if before == 3 else "new"
            assert tag(board.boot(timeout=30)) == expected, f"cut {cut}"

    def confirm():
        result = board.exec("bootmgr", "confirm")
        assert result.returncode in (0, 128 + 9), result.stderr
        return result.returncode != 0

    for cut in cut_power_ons(board, one_used, confirm):
        assert status(board)[1] in (ON_TRIAL.format(1), "image2: 2.0.0.0 confirmed"), f"cut {cut}"
        assert tag(board.boot(timeout=30)) == "new", f"cut {cut}"
    # The uncut confirm returned: the confirmation holds.
    assert status(board)[1] == "image2: 2.0.0.0 confirmed"


def test_attempt_that_cannot_be_recorded_boots_the_old_image(board):
    install_new(board)
    board.user_path("images/trial.new").mkdir()  # the record cannot be replaced
    run = board.boot(timeout=30)
    assert tag(run) == "old" and "Image2 cannot count its trial boot; booting image1" in run.output
    assert status(board)[1] == ON_TRIAL.format(1) and board.boot_slot == 2
