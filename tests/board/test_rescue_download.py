"""A package downloaded with XMODEM-1K from the rescue menu (X): the speed prompts, the
transfer by lrzsz's sx over the console, and the installer writing every component type where
it belongs, with the operator's slot choice or a boot of the downloaded application."""

import pytest

import harness

PROMPT = "Option? : "
SLOT_QUESTION = "Install image as image 1 or 2 (hit return to just boot image): "
UBOOT_MAGIC = 0x025A514B


def boot_loader(version=bytes([1, 0, 0, 0])) -> tuple[bytes, bytes]:
    """A boot-loader component and its payload, which carries the component's len, magic and
    id in a header block at offset 240."""
    size = 600
    block = bytes(4) + size.to_bytes(4, "big") + UBOOT_MAGIC.to_bytes(4, "big") + version
    payload = b"B" * 240 + block + b"b" * (size - 256)
    return harness.component(payload, type="uboot", version="1.0.0.0"), payload


def full_package():
    """One component of every type, the application last; release versions only where no
    signature is needed. Returns the package and what each place must hold after it."""
    uboot, uboot_payload = boot_loader()
    places = {
        "kernel": harness.component(b"K" * 3000, type="kernel", version="0.0.0.0"),
        "rfs": harness.component(b"R" * 5000, type="rfs", version="0.0.0.0", format=3),
        "devicetree": harness.component(b"D" * 700, type="dft", version="0.0.0.0", format=2,
                                        header_size=40),
        "rescue": harness.component(b"G" * 900, type="diags", version="2.0.0.0"),
    }
    app = harness.tagged_image("downloaded", version="0.0.0.0")
    package = harness.package(uboot, *places.values(), app)
    places["uboot"] = uboot_payload
    return package, places, app


def start_download(console, path, **cut):
    """From the menu prompt: X, the speed switch both ways around the transfer of PATH."""
    console.send("X")
    console.expect_exact("Running xmodem rescue.....")
    console.expect_exact("before initiating the download.")
    console.send("\r")  # Enter at the new rate: a bare CR
    console.send_xmodem(path, until=b"Change the baud rate back", **cut)
    console.expect_exact("Change the baud rate back to 9600 bps, hit the <ENTER> key")
    console.sendline()


@pytest.mark.parametrize("answer", ["1", "2", ""], ids=["slot 1", "slot 2", "boot now"])
def test_package_sent_with_xmodem_is_installed(board, tmp_path, answer):
    package, places, app = full_package()
    # sx pads the last block with 0x1A: the installer must end the walk there cleanly.
    assert len(package) % 128 != 0
    path = tmp_path / "package"
    path.write_bytes(package)
    old = harness.tagged_image("old")
    board.write_slot(1, old)
    board.boot_slot = 1
    board.set_env("diagnostics=rescue")

    console = board.power_on(timeout=60)
    # The rescue paths never skip what is installed: the same package sent twice installs twice.
    for _ in range(2 if answer else 1):
        console.expect_exact(PROMPT)
        start_download(console, path)
        console.expect_exact("Extracting images ... Do *NOT* power cycle the switch.")
        console.expect_exact(SLOT_QUESTION)
        console.sendline(answer)
        if answer:
            console.expect_exact(f"Installing image as image{answer}: ")
            console.expect_exact(f"Image{answer} updated succeeded")
            console.expect_exact("File processed")
    if answer:
        console.expect_exact(PROMPT)
        console.send("e")
    else:
        console.expect_exact("Booting downloaded image")
        console.expect_exact("Image ready to boot...")
    run = console.wait_end()

    assert run.application_started, run.output
    assert harness.started_tag(run, ["old", "downloaded"]) == "downloaded"
    assert "ERROR" not in run.transcript and "Skipping" not in run.transcript
    # Every flash component, written before the application in each case, with progress.
    for partition, contents in places.items():
        assert board.flash_read(partition)[:len(contents)] == contents, partition
    rounds = 2 if answer else 1
    assert run.transcript.count("100%\r\n") == rounds * (len(places) + (1 if answer else 0))
    assert "100%\r\ndone\r\n" in run.transcript
    if answer:
        slot = int(answer)
        assert board.read_slot(slot) == app
        assert board.boot_slot == slot
        assert board.booted_image == slot
    else:
        assert board.read_slot(2) is None
        assert board.boot_slot == 1
    assert board.read_slot(1) == (app if answer == "1" else old)


def kernel_then_application(kernel_total):
    """A kernel of KERNEL_TOTAL bytes (format 1: 16 of them header), then an application."""
    kernel = harness.component(b"K" * (kernel_total - 16), type="kernel", version="0.0.0.0")
    return harness.package(kernel, harness.tagged_image("downloaded", version="0.0.0.0"))


@pytest.mark.parametrize("kernel_total, blocks, refusal", [
    (2048, 2, "Download failed: the transfer did not complete. Nothing installed."),
    (2040, 2, "Download failed: the transfer did not complete. Nothing installed."),
    # The transfer ends normally, but the file sent was itself cut 8 bytes into the next header.
    (2040, None, "Image package is truncated (8 bytes after the last whole image), voiding download"),
], ids=["cut at a component boundary", "cut 8 bytes into the next header", "cut file sent whole"])
def test_package_that_did_not_arrive_whole_installs_nothing(board, tmp_path, kernel_total, blocks,
                                                            refusal):
    package = kernel_then_application(kernel_total)
    path = tmp_path / "package"
    path.write_bytes(package if blocks else package[:2048])
    board.write_slot(1, harness.tagged_image("old"))
    board.set_env("diagnostics=rescue")
    console = board.power_on(timeout=60)
    console.expect_exact(PROMPT)
    start_download(console, path, blocks=blocks)
    console.expect_exact(refusal)
    console.expect_exact(PROMPT)
    console.send("e")
    run = console.wait_end()
    assert run.application_started and harness.started_tag(run, ["old"]) == "old"
    assert "Writing" not in run.transcript and "File processed" not in run.transcript
    assert board.flash_read("kernel")[:4] == b"\xff" * 4
    assert board.read_slot(2) is None
