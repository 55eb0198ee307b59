"""diagnostics=diags: the erase question, then the image of the rescue flash partition: a
diagnostics image at once, a recovery image after the slot question; without a good image
the normal boot goes on."""

import hashlib

import pytest

import harness
from harness import started_tag

PROMPT = "Install recovery image as image 1 or 2 (hit return to just boot image): "
ERASE = "Confirm: Erase filesystem? (all saved data, configuration, keys will be lost) y/N: "
DIAG = harness.logging_script("diag")


def power_on(board, erase_key="n"):
    """A power-on past the erase question, answered with ERASE_KEY."""
    console = board.power_on(timeout=30)
    console.expect_exact(ERASE)
    console.send(erase_key)
    return console


@pytest.fixture
def diags_board(board):
    board.set_env("diagnostics=diags")
    board.write_slot(1, harness.tagged_image("slot1"))
    board.boot_slot = 1
    board.booted_image = 0
    return board


def diags_image(executable=DIAG):
    return harness.application_image({"mpdiag.elf.strip": (executable, 0o755),
                                      "home/bin/distro-id": "x\n"}, type="diags")


@pytest.mark.parametrize("key", ["y", "Y", "n", "x"])
def test_diagnostics_image_boots_from_the_rescue_partition_after_the_erase_question(diags_board, key):
    erase = key in "yY"
    diags_board.flash_write("rescue", diags_image())
    console = power_on(diags_board, key)
    console.expect_exact("Launching diagnostics image")
    run = console.wait_end()
    assert run.application_started, run.output
    assert ("Erasing filesystem for clean install" in run.transcript) == erase
    assert "Booting image" not in run.transcript and diags_board.booted_image == 4
    # The diagnostics executable took the application's place.
    entry = run.events.tree()[harness.APP]
    assert (entry.md5, entry.mode) == (hashlib.md5(DIAG.encode()).hexdigest(), "755")
    # The erase empties /user (slot 1 goes with it) and makes /user/images again.
    assert (diags_board.read_slot(1) is None) == erase
    assert diags_board.user_path("images").is_dir()
    erased = ["umount /user", "flash_eraseall /dev/mtd-user-char", "mount -o sync -t jffs2 /dev/mtd-user /user"]
    after_start_up = run.events.lines[1:]  # the first line is start-up's own mount
    assert [line for line in after_start_up if line in erased] == (erased if erase else [])


# The answer (None: end of input), the slot that gets the image, and the booted-image byte.
# A folder in the way of the temporary file of slot 2 makes its write fail.
@pytest.mark.parametrize("answer, slot, booted", [("1", 1, 1), ("", None, 4), ("2", None, 4), (None, None, 0)],
                         ids=["slot 1", "Enter", "slot write that fails", "end of input"])
def test_recovery_image_is_installed_into_the_chosen_slot_or_just_booted(diags_board, answer, slot, booted):
    recovery = harness.tagged_image("recovery")
    diags_board.flash_write("rescue", recovery)
    slot1 = diags_board.read_slot(1)
    diags_board.boot_slot = 2
    diags_board.user_path("images/image2.new").mkdir(parents=True)
    console = power_on(diags_board)
    console.expect_exact(PROMPT)
    if answer is None:
        console.child.sendeof()
    else:
        console.sendline(answer)
    if answer == "2":
        console.expect_exact("Image2 update failed (err 21)")
    run = console.wait_end()
    assert run.application_started and started_tag(run) == "recovery", run.output
    assert (f"Installing recovery image as image{answer}..." in run.transcript) == (answer in ("1", "2"))
    assert ("Booting recovery image. You will need to download" in run.output) == (booted == 4)
    assert diags_board.booted_image == booted
    assert diags_board.boot_slot == (slot or 2)
    assert diags_board.read_slot(1) == (recovery if slot == 1 else slot1)
    assert diags_board.read_slot(2) is None


def cut_diags_image() -> bytes:
    # The CRC is right, but the gzip stream ends half-way: tar fails.
    whole = harness.tarball({"mpdiag.elf.strip": (DIAG + "#" * 40_000, 0o755)})
    return harness.component(whole[:len(whole) // 2], type="diags")


@pytest.mark.parametrize("content, message", [
    pytest.param(None, "Image not found... ", id="erased partition"),
    pytest.param(cut_diags_image, "Image CRC failed. Quitting", id="payload that does not unpack"),
])
def test_rescue_partition_without_good_image_goes_on_with_the_normal_boot(diags_board, content,
                                                                          message):
    if content:
        diags_board.flash_write("rescue", content())
    console = power_on(diags_board)
    console.expect_exact(message)
    console.expect_exact("Booting image '1'")
    run = console.wait_end()
    assert run.application_started and started_tag(run) == "slot1"
    assert diags_board.booted_image == 1
