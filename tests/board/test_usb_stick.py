"""A USB stick at power-on: the wait for it, a boot package (skipped once installed), slot
replacements, and an image booted from the stick, then rejected-listed and asked about."""

import hashlib
import os
import re

import pytest

import harness
from harness import started_tag

REJECTED_QUESTION = "USB image is in rejected list.\r\nWould you still like to load it? (y/n) "


@pytest.fixture
def flash_board(board):
    board.write_slot(1, harness.tagged_image("slot1"))
    board.write_slot(2, harness.tagged_image("slot2"))
    return board


def rejected_entries(board):
    return sorted(p.name for p in board.user_path("images/rejected").iterdir())


def test_stick_that_never_gets_ready_is_ignored(flash_board):
    kernel = harness.component(b"k" * 64, type="kernel", version="0.0.0.0")
    flash_board.insert_usb({"LMW3190_OS.img": harness.tagged_image("usb"),
                            "LMW3190_Boot.img": harness.package(kernel)}, delay=-1)
    run = flash_board.boot(timeout=30)
    # Exactly ten dots, from the start of their line.
    assert re.search(r"up to 10 seconds\.\r\n\.{10}USB mount timed out\r\n", run.output), run.output
    assert run.application_started and started_tag(run) == "slot1"
    assert "Boot image" not in run.transcript and "LMW3190_OS.img" not in run.transcript
    assert flash_board.flash_read("kernel")[:4] == b"\xff" * 4


def test_boot_package_with_an_application_left_in_never_holds_a_power_on(flash_board):
    kernel = harness.component(b"kernel-v2" * 100, type="kernel", version="0.0.0.0")
    app = harness.tagged_image("new2", version="0.0.0.0")
    flash_board.insert_usb({"LMW3190_Boot.img": harness.package(kernel, app)}, delay=1)
    # Nobody at the console: the question times out, no slot gets the application; the
    # kernel is installed and the board reboots.
    first = flash_board.boot(timeout=60)
    assert "Boot image found on USB." in first.output
    assert harness.SLOT_QUESTION + "\r\nTimeout. Application image not installed." in first.output
    assert first.rebooted, first.output
    assert flash_board.flash_read("kernel").startswith(kernel)
    assert app not in (flash_board.read_slot(1), flash_board.read_slot(2))
    # An operator answers 2: the application goes into slot 2 and the board reboots.
    console = flash_board.power_on(timeout=60)
    console.expect_exact(harness.SLOT_QUESTION)
    console.sendline("2")
    assert console.wait_end().rebooted
    assert flash_board.read_slot(2) == app and flash_board.boot_slot == 2
    # Left in, the package equals what is installed: skipped before the question, no reboot.
    third = flash_board.boot(timeout=60)
    assert "Image has same version as existing image. Skipping update..." in third.output
    assert "Installing image as image2: Image2 has same version as existing image. Skipping update..." \
        in third.output
    assert harness.SLOT_QUESTION not in third.output
    assert third.application_started and started_tag(third) == "new2"


def test_special_files_on_the_stick_are_ignored(flash_board):
    flash_board.insert_usb({}, delay=3.5)
    stick = flash_board.path / "usb"
    os.mkfifo(stick / "LMW3190_Boot.img")
    os.symlink("/dev/zero", stick / "LMW3190_OS.img")
    run = flash_board.boot(timeout=60)
    assert re.search(r"seconds\.\r\n\.{3}USB mounted and ready!", run.output), run.output
    assert "/mnt/usb/LMW3190_Boot.img is not a regular file: ignored" in run.output
    assert "/mnt/usb/LMW3190_OS.img is not a regular file: ignored" in run.output
    assert "No valid image found on USB" in run.output
    assert run.application_started and started_tag(run) == "slot1"


# Replacements on the stick (slot 1 boots before), the slot the closing line names, and the
# image started: a replacement that installs but does not unpack falls back to slot 1.
REPLACEMENTS = [
    pytest.param({2: harness.component(b"not a tarball" * 50, version="0.0.0.0")}, 2, "slot1",
                 id="broken image2"),
    pytest.param({1: harness.tagged_image("new1", version="0.0.0.0"),
                  2: harness.tagged_image("new2", version="0.0.0.0")}, 1, "new1", id="both"),
]


@pytest.mark.parametrize("replacements, named, tag", REPLACEMENTS)
def test_replacements_are_installed_and_booted_first(flash_board, replacements, named, tag):
    flash_board.boot_slot = 3 - named
    flash_board.insert_usb({f"LMW3190_replace{n}_OS.img": data for n, data in replacements.items()})
    run = flash_board.boot(timeout=60)
    for n, data in replacements.items():
        assert f"Image{n} has been successfully replaced" in run.output
        assert flash_board.read_slot(n) == data
    assert f"USB replacement image: board will boot with image{named}." in run.output
    assert f"Booting image '{named}'" in run.output
    assert run.application_started and started_tag(run) == tag


def test_declining_a_rejected_replacement_looks_at_nothing_else(flash_board):
    replacement = harness.tagged_image("new2", version="0.0.0.0")
    flash_board.insert_usb({"LMW3190_replace2_OS.img": replacement,
                            "LMW3190_replace1_OS.img": harness.tagged_image("new1", version="0.0.0.0"),
                            "LMW3190_OS.img": harness.tagged_image("usb")})
    rejected = flash_board.user_path("images/rejected")
    rejected.mkdir(parents=True)
    (rejected / hashlib.md5(replacement).hexdigest()).touch()
    console = flash_board.power_on(timeout=60)
    console.expect_exact("Replacement USB image is in rejected list.\r\nWould you still like to load it? (y/n) ")
    console.sendline("n")
    run = console.wait_end()
    assert "replacement for image1" not in run.transcript and "LMW3190_OS.img" not in run.transcript
    assert run.application_started and started_tag(run) == "slot1"
    assert flash_board.read_slot(2) != replacement


# The image on the stick, what the first power-on says of it, and the image each power-on
# starts: the first, then after y and n to the rejected-list question.
@pytest.mark.parametrize("image, first, tags", [
    (harness.tagged_image("usb"), "Booting image 'LMW3190_OS.img' from USB stick.", ["usb", "usb", "slot1"]),
    (harness.corrupt(harness.tagged_image("usb")), "USB image CRC failed.USB Boot failed. Trying flash images.",
     ["slot1"] * 3),
], ids=["good", "bad CRC"])
def test_usb_image_is_rejected_listed_before_it_boots_and_asked_about_next_time(flash_board, image, first,
                                                                                tags):
    flash_board.insert_usb({"LMW3190_OS.img": image})
    run = flash_board.boot(timeout=60)
    assert first in run.output
    assert run.application_started and started_tag(run) == tags[0]
    assert flash_board.booted_image == (3 if tags[0] == "usb" else 1)
    assert rejected_entries(flash_board) == [hashlib.md5(image).hexdigest()]
    for answer, tag in zip("yn", tags[1:]):
        console = flash_board.power_on(timeout=60)
        console.expect_exact(REJECTED_QUESTION)
        console.sendline(answer)
        console.expect_exact("Continuing to load USB image..." if answer == "y" else
                             "USB Boot failed. Trying flash images.")
        run = console.wait_end()
        assert run.application_started and started_tag(run) == tag
    assert rejected_entries(flash_board) == [hashlib.md5(image).hexdigest()]
