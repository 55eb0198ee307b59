"""A USB stick at power-on, as a field technician uses it: the wait for the stick, a boot
package (installed once, then skipped while the stick stays in), replacement images for the
slots, and an application image booted straight from the stick, remembered in the rejected
list and asked about at the next power-on."""

import hashlib
import os
import re
import subprocess

import pytest

import harness

TIMED_OUT = "Timeout. Assuming \"no\"."
SLOT_QUESTION = "Install image as image 1 or 2 (hit return to just boot image): "
REJECTED_QUESTION = "USB image is in rejected list.\r\nWould you still like to load it? "


def with_stick(board, files, delay=1):
    board.insert_usb(files)
    board.eeprom_set(harness.USB_STATUS, harness.USB_PRESENT)
    board.set_conf("usb_delay", delay)


def started_tag(run):
    return harness.started_tag(run, ("flash1", "flash2", "usb", "new1", "new2"))


@pytest.fixture
def flash_board(board):
    board.write_slot(1, harness.tagged_image("flash1"))
    board.write_slot(2, harness.tagged_image("flash2"))
    return board


def rejected_entries(board):
    folder = board.user_path("images/rejected")
    return sorted(p.name for p in folder.iterdir()) if folder.exists() else []


def test_stick_that_never_gets_ready_is_ignored(flash_board):
    with_stick(flash_board, {"LMW3190_OS.img": harness.tagged_image("usb"),
                             "LMW3190_Boot.img": harness.package(harness.component(b"k" * 64, type="kernel",
                                                                                   version="0.0.0.0"))},
               delay=-1)
    run = flash_board.boot(timeout=30)
    # Exactly ten dots, from the start of their line.
    assert re.search(r"up to 10 seconds\.\r\n\.{10}USB mount timed out\r\n", run.output), run.output
    assert run.application_started and started_tag(run) == "flash1"
    assert "Boot image" not in run.transcript and "LMW3190_OS.img" not in run.transcript
    assert flash_board.flash_read("kernel")[:4] == b"\xff" * 4


def test_stick_ready_after_three_and_a_half_seconds_shows_three_dots(flash_board):
    with_stick(flash_board, {}, delay=3.5)
    run = flash_board.boot(timeout=30)
    assert "...USB mounted and ready!" in run.output
    assert "....USB mounted" not in run.output
    # A stick with none of the four files: both lookups say so, and flash boots.
    assert "No boot image found on USB." in run.output
    assert "No valid image found on USB" in run.output
    assert run.application_started and started_tag(run) == "flash1"


def test_boot_package_is_installed_once_then_skipped(flash_board):
    kernel = harness.component(b"kernel-v2" * 100, type="kernel", version="0.0.0.0")
    with_stick(flash_board, {"LMW3190_Boot.img": harness.package(kernel)})
    first = flash_board.boot(timeout=60)
    assert "Boot image found on USB." in first.output
    assert first.rebooted, first.output
    assert flash_board.flash_read("kernel")[:len(kernel)] == kernel
    # Left in the board, the stick's package equals what is installed: no second reboot.
    second = flash_board.boot(timeout=60)
    assert "Image has same version as existing image. Skipping update..." in second.output
    assert second.application_started and started_tag(second) == "flash1"


def test_boot_package_with_an_application_left_in_never_holds_a_power_on(flash_board):
    kernel = harness.component(b"kernel-v2" * 100, type="kernel", version="0.0.0.0")
    app = harness.tagged_image("new2", version="0.0.0.0")
    with_stick(flash_board, {"LMW3190_Boot.img": harness.package(kernel, app)})
    # Nobody at the console: the question times out, no slot gets the application; the
    # kernel is installed and the board reboots.
    first = flash_board.boot(timeout=60)
    assert SLOT_QUESTION + "\r\nTimeout. Application image not installed." in first.output
    assert first.rebooted, first.output
    assert flash_board.flash_read("kernel").startswith(kernel)
    assert app not in (flash_board.read_slot(1), flash_board.read_slot(2))
    # An operator answers 2: the application goes into slot 2 and the board reboots.
    console = flash_board.power_on(timeout=60)
    console.expect_exact(SLOT_QUESTION)
    console.sendline("2")
    assert console.wait_end().rebooted
    assert flash_board.read_slot(2) == app and flash_board.boot_slot == 2
    # Left in, the package equals what is installed: skipped before the question, no reboot.
    third = flash_board.boot(timeout=60)
    assert "Installing image as image2: Image2 has same version as existing image. Skipping update..." \
        in third.output
    assert SLOT_QUESTION not in third.output
    assert third.application_started and started_tag(third) == "new2"


def test_special_files_on_the_stick_are_ignored(flash_board):
    with_stick(flash_board, {})
    stick = flash_board.path / "usb"
    os.mkfifo(stick / "LMW3190_Boot.img")
    os.symlink("/dev/zero", stick / "LMW3190_OS.img")
    run = flash_board.boot(timeout=60)
    assert "/mnt/usb/LMW3190_Boot.img is not a regular file: ignored" in run.output
    assert "/mnt/usb/LMW3190_OS.img is not a regular file: ignored" in run.output
    assert "No valid image found on USB" in run.output
    assert run.application_started and started_tag(run) == "flash1"


def test_replacement_of_image2_is_booted_first_with_slot1_as_fallback(flash_board):
    flash_board.boot_slot = 1
    # Installs (a good CRC) but cannot be unpacked: the boot falls back to slot 1.
    broken = harness.component(b"not a tarball" * 50, type="application", version="0.0.0.0")
    with_stick(flash_board, {"LMW3190_replace2_OS.img": broken})
    console = flash_board.power_on(timeout=60)
    console.expect_exact("USB image (file 'LMW3190_replace2_OS.img') replacement for image2 found")
    console.expect_exact("Image2 has been successfully replaced")
    console.expect_exact("USB replacement image: board will boot with image2.")
    console.expect_exact("Booting image '2'")
    console.expect_exact("Booting image '1'")
    run = console.wait_end()
    assert flash_board.read_slot(2) == broken
    assert run.application_started and started_tag(run) == "flash1"


def test_both_replacements_name_and_boot_image1(flash_board):
    flash_board.boot_slot = 2
    with_stick(flash_board, {"LMW3190_replace1_OS.img": harness.tagged_image("new1", version="0.0.0.0"),
                             "LMW3190_replace2_OS.img": harness.tagged_image("new2", version="0.0.0.0")})
    run = flash_board.boot(timeout=60)
    assert "Image2 has been successfully replaced" in run.output
    assert "Image1 has been successfully replaced" in run.output
    assert "USB replacement image: board will boot with image1." in run.output
    assert run.application_started and started_tag(run) == "new1"
    assert flash_board.boot_slot == 1


def test_declining_a_rejected_replacement_looks_at_nothing_else(flash_board):
    replacement = harness.tagged_image("new2", version="0.0.0.0")
    with_stick(flash_board, {"LMW3190_replace2_OS.img": replacement,
                             "LMW3190_replace1_OS.img": harness.tagged_image("new1", version="0.0.0.0"),
                             "LMW3190_OS.img": harness.tagged_image("usb")})
    rejected = flash_board.user_path("images/rejected")
    rejected.mkdir(parents=True)
    (rejected / hashlib.md5(replacement).hexdigest()).touch()
    console = flash_board.power_on(timeout=60)
    console.expect_exact("Replacement USB image is in rejected list.\r\nWould you still like to load it? (y/n) ")
    console.sendline("n")
    run = console.wait_end()
    assert "replacement for image1" not in run.transcript
    assert "LMW3190_OS.img" not in run.transcript
    assert run.application_started and started_tag(run) == "flash1"
    assert flash_board.read_slot(2) != replacement


def test_usb_image_is_rejected_listed_before_it_boots_and_asked_about_next_time(flash_board):
    usb_image = harness.tagged_image("usb")
    with_stick(flash_board, {"LMW3190_OS.img": usb_image})
    first = flash_board.boot(timeout=60)
    assert "Booting image 'LMW3190_OS.img' from USB stick." in first.output
    assert first.application_started and started_tag(first) == "usb"
    assert flash_board.booted_image == 3
    assert rejected_entries(flash_board) == [hashlib.md5(usb_image).hexdigest()]

    # y boots it again.
    console = flash_board.power_on(timeout=60)
    console.expect_exact(REJECTED_QUESTION + "(y/n) ")
    console.sendline("y")
    console.expect_exact("Continuing to load USB image...")
    run = console.wait_end()
    assert run.application_started and started_tag(run) == "usb"

    # n boots from flash.
    console = flash_board.power_on(timeout=60)
    console.expect_exact(REJECTED_QUESTION + "(y/n) ")
    console.sendline("n")
    console.expect_exact("USB Boot failed. Trying flash images.")
    run = console.wait_end()
    assert run.application_started and started_tag(run) == "flash1"

    # x and Enter ask twice more; then no answer within 5 seconds means no.
    console = flash_board.power_on(timeout=60)
    console.expect_exact(REJECTED_QUESTION + "(y/n) ")
    console.sendline("x")
    console.expect_exact("(y/n) (y/n) ")
    console.expect_exact(TIMED_OUT, timeout=8)
    console.expect_exact("USB Boot failed. Trying flash images.")
    run = console.wait_end()
    assert run.application_started and started_tag(run) == "flash1"
    assert rejected_entries(flash_board) == [hashlib.md5(usb_image).hexdigest()]


def test_usb_image_with_a_bad_crc_is_listed_and_flash_boots(flash_board):
    bad = harness.corrupt(harness.tagged_image("usb"))
    with_stick(flash_board, {"LMW3190_OS.img": bad})
    run = flash_board.boot(timeout=60)
    assert "USB image CRC failed.USB Boot failed. Trying flash images." in run.output
    assert run.application_started and started_tag(run) == "flash1"
    assert rejected_entries(flash_board) == [hashlib.md5(bad).hexdigest()]


def test_replacement_signed_by_an_untrusted_key_is_refused(flash_board, tmp_path):
    key = tmp_path / "stranger.pem"
    subprocess.run(["openssl", "genrsa", "-out", str(key), "2048"], check=True, capture_output=True)
    payload = tmp_path / "app.tar.gz"
    payload.write_bytes(harness.tarball(dict(harness.DEFAULT_APP_FILES, **{"home/bin/tag": "new2"})))
    image = tmp_path / "signed.img"
    subprocess.run([harness.imgtool_path(), "create", "--type", "application", "--version", "2.0.0.0",
                    "--format", "3", "--sign", str(key), "-o", str(image), str(payload)], check=True)
    with_stick(flash_board, {"LMW3190_replace2_OS.img": image.read_bytes()})
    run = flash_board.boot(timeout=60)
    assert "\tImage rejected: key not trusted" in run.output
    assert "successfully replaced" not in run.output
    assert run.application_started and started_tag(run) == "flash1"
    assert flash_board.read_slot(2) != image.read_bytes()
