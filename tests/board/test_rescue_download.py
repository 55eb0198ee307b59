"""A package downloaded with XMODEM-1K (lrzsz's sx) from the rescue menu (X), installed with
the operator's slot choice or booted at once; a cut transfer installs nothing."""

import pytest

import harness



def full_package():
    """Flash components, then the application: the package, each partition's contents, the app."""
    places = {
        "kernel": harness.component(b"K" * 3000, type="kernel", version="0.0.0.0"),
        "devicetree": harness.component(b"D" * 700, type="dft", version="0.0.0.0", format=2,
                                        header_size=40),
    }
    app = harness.tagged_image("downloaded", version="0.0.0.0")
    return harness.package(*places.values(), app), places, app


def rescue_menu(board, tmp_path, package):
    """A power-on at the rescue menu prompt, slot 1 holding an old image; PACKAGE in a file."""
    path = tmp_path / "package"
    path.write_bytes(package)
    board.write_slot(1, harness.tagged_image("old"))
    board.boot_slot = 1
    return board.rescue_menu(), path


def start_download(console, path, **cut):
    """From the menu prompt: X, the speed switch both ways around the transfer of PATH."""
    console.send("X")
    console.expect_exact("Running xmodem rescue.....")
    console.expect_exact("before initiating the download.")
    console.send("\r")  # Enter at the new rate: a bare CR
    console.send_xmodem(path, until=b"Change the baud rate back", **cut)
    console.expect_exact("Change the baud rate back to 9600 bps, hit the <ENTER> key")
    console.sendline()


@pytest.mark.parametrize("answer", ["2", ""], ids=["slot 2", "boot now"])
def test_package_sent_with_xmodem_is_installed(board, tmp_path, answer):
    package, places, app = full_package()
    # sx pads the last block with 0x1A: the installer must end the walk there cleanly.
    assert len(package) % 128 != 0
    console, path = rescue_menu(board, tmp_path, package)
    old = board.read_slot(1)
    # The rescue paths never skip what is installed: the same package sent twice installs twice.
    for round in range(2 if answer else 1):
        if round:
            console.expect_exact(harness.PROMPT)
        start_download(console, path)
        console.expect_exact("Extracting images ... Do *NOT* power cycle the switch.")
        console.expect_exact(harness.SLOT_QUESTION)
        console.sendline(answer)
        if answer:
            console.expect_exact(f"Installing image as image{answer}: ")
            console.expect_exact(f"Image{answer} updated succeeded")
            console.expect_exact("File processed")
    if answer:
        console.expect_exact(harness.PROMPT)
        console.send("e")
    else:
        console.expect_exact("Booting downloaded image")
        console.expect_exact("Image ready to boot...")
    run = console.wait_end()

    assert run.application_started, run.output
    assert harness.started_tag(run) == "downloaded"
    assert "ERROR" not in run.transcript and "Skipping" not in run.transcript
    # Every flash component, written before the application in each case, with progress.
    for partition, contents in places.items():
        assert board.flash_read(partition)[:len(contents)] == contents, partition
    rounds = 2 if answer else 1
    assert run.transcript.count("100%\r\n") == rounds * (len(places) + (1 if answer else 0))
    assert board.read_slot(2) == (app if answer else None)
    assert board.boot_slot == (2 if answer else 1)
    assert board.read_slot(1) == old


# Two 1 KiB blocks arrive: the cut falls at a component boundary or 8 bytes into the next
# header. (A package file that is itself cut is refused in the install unit test.)
@pytest.mark.parametrize("kernel_total", [2048, 2040])
def test_package_that_did_not_arrive_whole_installs_nothing(board, tmp_path, kernel_total):
    # A kernel of KERNEL_TOTAL bytes (16 of them header), then an application.
    kernel = harness.component(b"K" * (kernel_total - 16), type="kernel", version="0.0.0.0")
    package = harness.package(kernel, harness.tagged_image("downloaded", version="0.0.0.0"))
    console, path = rescue_menu(board, tmp_path, package)
    start_download(console, path, blocks=2)
    console.expect_exact("Download failed: the transfer did not complete. Nothing installed.")
    console.expect_exact(harness.PROMPT)
    console.send("e")
    run = console.wait_end()
    assert run.application_started and harness.started_tag(run) == "old"
    assert "Writing" not in run.transcript and "File processed" not in run.transcript
    assert board.flash_read("kernel")[:4] == b"\xff" * 4
    assert board.read_slot(2) is None
