"""diagnostics=diags offers to erase /user, then boots the image kept in the rescue flash
partition: a diagnostics image at once, a recovery application image after asking whether to
install it into a slot. A partition without a good image lets the normal boot go on."""

import hashlib

import pytest

import harness

PROMPT = "Install recovery image as image 1 or 2 (hit return to just boot image): "
ERASE = "Confirm: Erase filesystem? (all saved data, configuration, keys will be lost) y/N: "


def started_tag(run) -> str | None:
    return harness.started_tag(run, ("slot1", "recovery"))


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


@pytest.mark.parametrize("key", ["y", "Y", "n", "x"])
def test_diagnostics_image_boots_from_the_rescue_partition_after_the_erase_question(diags_board, key):
    erase = key in "yY"
    diag = harness.logging_script("diag")
    diags_board.flash_write("rescue", harness.application_image(
        {"mpdiag.elf.strip": (diag, 0o755), "home/bin/distro-id": "x\n"}, type="diags"))
    console = power_on(diags_board, key)
    if erase:
        for line in ("unmount filesystem", "Erasing filesystem for clean install", "Mounting...",
                     "creating default filesystem"):
            console.expect_exact(line)
    console.expect_exact("Booting diags image...")
    console.expect_exact("Launching diagnostics image")
    console.expect_exact("install diags image")
    run = console.wait_end()
    assert run.application_started, run.output
    assert "Booting image" not in run.output
    assert diags_board.booted_image == 4
    entry = run.events.tree()["/tmp/home/bin/mp.elf.strip"]
    assert entry.md5 == hashlib.md5(diag.encode()).hexdigest()
    # The erase empties /user (slot 1 goes with it) and makes /user/images again.
    assert (diags_board.read_slot(1) is None) == erase
    assert diags_board.user_path("images").is_dir()
    erased = ["umount /user", "flash_eraseall /dev/mtd-user-char", "mount -o sync -t jffs2 /dev/mtd-user /user"]
    after_start_up = run.events.lines[1:]  # the first line is start-up's own mount
    assert [line for line in after_start_up if line in erased] == (erased if erase else [])


@pytest.mark.parametrize("answer", ["1", "2"])
def test_recovery_image_installed_into_the_chosen_slot(diags_board, answer):
    recovery = harness.tagged_image("recovery")
    diags_board.flash_write("rescue", recovery)
    slot = int(answer)
    console = power_on(diags_board)
    console.expect_exact(PROMPT)
    console.sendline(answer)
    console.expect_exact(f"Installing recovery image as image{answer}...")
    console.expect_exact(f"Setting boot image to {answer}")
    run = console.wait_end()
    assert run.application_started, run.output
    assert started_tag(run) == "recovery"
    assert diags_board.read_slot(slot) == recovery
    assert diags_board.boot_slot == slot
    assert diags_board.booted_image == slot

    # Without the boot option, the next power-on boots the installed slot.
    diags_board.set_env()
    run = diags_board.boot(timeout=30)
    assert f"Booting image '{slot}'" in run.output
    assert started_tag(run) == "recovery"


@pytest.mark.parametrize("answer", ["", "2"], ids=["Enter", "slot write that fails"])
def test_recovery_image_boots_without_being_installed(diags_board, answer):
    diags_board.flash_write("rescue", harness.tagged_image("recovery"))
    slot1 = diags_board.read_slot(1)
    # A folder in the way of the temporary slot file: the slot write fails.
    diags_board.user_path("images/image2.new").mkdir(parents=True)
    console = power_on(diags_board)
    console.expect_exact(PROMPT)
    console.sendline(answer)
    if answer:
        console.expect_exact("Image2 update failed (err 21)")
    console.expect_exact("Booting recovery image. You will need to download and install an "
                         "image before rebooting")
    run = console.wait_end()
    assert run.application_started
    assert started_tag(run) == "recovery"
    assert diags_board.booted_image == 4
    assert diags_board.boot_slot == 1
    assert diags_board.read_slot(1) == slot1
    assert diags_board.read_slot(2) is None


def test_end_of_input_at_the_question_boots_without_touching_the_board(diags_board):
    diags_board.flash_write("rescue", harness.tagged_image("recovery"))
    console = power_on(diags_board)
    console.expect_exact(PROMPT)
    console.child.sendeof()
    run = console.wait_end()
    assert run.application_started
    assert started_tag(run) == "recovery"
    assert diags_board.booted_image == 0
    assert diags_board.read_slot(2) is None


def oversized_header() -> bytes:
    # A DIAGS header claiming 256 MiB, far beyond the partition.
    return bytes(4) + (0x10000000).to_bytes(4, "big") + (0x065A514B).to_bytes(4, "big") + bytes(12)


def cut_diags_image() -> bytes:
    # The CRC is right, but the gzip stream ends half-way: tar fails.
    whole = harness.tarball({"mpdiag.elf.strip": (harness.logging_script("diag") + "#" * 40_000, 0o755)})
    return harness.component(whole[:len(whole) // 2], type="diags")


@pytest.mark.parametrize("content, message", [
    pytest.param(None, "Image not found... ", id="erased partition"),
    pytest.param(lambda: harness.component(b"k" * 100, type="kernel"), "Image not found... ",
                 id="kernel component"),
    pytest.param(lambda: harness.corrupt(harness.tagged_image("recovery")), "Image CRC failed. Quitting",
                 id="CRC error"),
    pytest.param(oversized_header, "Image CRC failed. Quitting", id="length beyond the partition"),
    pytest.param(cut_diags_image, "Image CRC failed. Quitting", id="payload that does not unpack"),
])
def test_rescue_partition_without_good_image_goes_on_with_the_normal_boot(diags_board, content,
                                                                          message):
    if content:
        diags_board.flash_write("rescue", content())
    console = power_on(diags_board)
    console.expect_exact("Booting diags image...")
    console.expect_exact(message)
    console.expect_exact("Booting image '1'")
    run = console.wait_end()
    assert run.application_started
    assert started_tag(run) == "slot1"
    assert diags_board.booted_image == 1
