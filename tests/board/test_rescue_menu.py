"""The rescue menu on the console: every option key in either case, an unknown key, Ctrl-C at
the prompt, the versions report, the full menu after each action, and the end of input."""

import pytest

import harness


UBOOT_MAGIC = 0x025A514B


def install_versions(board):
    """A board with a version in every row of the report (the boot loader's from the header
    block its payload carries at 240), and no slot 2."""
    block = bytes(4) + (64).to_bytes(4, "big") + UBOOT_MAGIC.to_bytes(4, "big") + bytes([1, 2, 3, 4])
    board.flash_write("uboot", bytes(240) + block + bytes(64))
    for partition, type, version in [("rfs", "rfs", "2.0.0.1"), ("kernel", "kernel", "3.0.0.2"),
                                     ("devicetree", "dft", "4.0.0.3")]:
        board.flash_write(partition, harness.component(b"x" * 64, type=type, version=version))
    board.write_slot(1, harness.tagged_image("slot1", version="5.6.7.8"))


VERSIONS = ("Installed images versions: \tBoot image  : 1.2.3.4\r\n\tRFS image   : 2.0.0.1\r\n"
            "\tKernel image: 3.0.0.2\r\n\tDFT image   : 4.0.0.3\r\n\tOS image 1  : 5.6.7.8\r\n"
            "\tOS image 2  : 0.0.0.0\r\n")


@pytest.mark.parametrize("case", [str.lower, str.upper], ids=["lower case", "upper case"])
def test_every_option_in_either_case_and_the_menu_after_each(board, case):
    install_versions(board)
    # A receiver that gets nothing: no /tmp/image.
    (board.path / "root/usr/libexec/lrzsz/rx").write_text("#!/bin/sh\nexit 1\n")
    console = board.rescue_menu(timeout=30)
    assert "Entering Rescue Mode." in console.child.before

    def choose(key, *steps):
        """Presses KEY, then for each step waits for its text and types its answer; the
        full menu must follow. Returns what the console showed meanwhile."""
        start = len(console.transcript)
        console.send(case(key))
        for text, answer in steps:
            console.expect_exact(text)
            if answer is not None:
                console.send(answer)
        console.expect_exact(harness.MENU)
        console.expect_exact(harness.PROMPT)
        return console.transcript[start:]

    console.send(case("q"))
    console.expect_exact(f'unknown option "Q". Please try again\r\n\r\n{harness.PROMPT}')
    console.wait_key_read()  # a Ctrl-C before the read would only set the flag
    console.interrupt()
    console.expect_exact(harness.PROMPT)
    assert harness.MENU not in console.child.before
    choose("v", (VERSIONS, None))
    choose("u", ("Choose file number to install (q to quit): ", "q\r"))
    choose("d", ("Erase filesystem?", "n"), ("Booting diags image...", None), ("Image not found... ", None))
    shown = choose("x", ("before initiating the download.", "\r"),
                   ("Change the baud rate back to 9600 bps, hit the <ENTER> key", "\r"))
    assert "Extracting images" not in shown  # nothing received: no install
    assert board.events().calls("rx") == ["/tmp/image"]

    console.send(case("r" if case is str.lower else "e"))
    run = console.wait_end()
    if case is str.lower:
        assert run.rebooted
    else:
        assert run.application_started and harness.started_tag(run) == "slot1"
    assert run.transcript.count("Entering Rescue Mode.") == 1
    assert board.read_slot(1) is not None  # no erase


def test_end_of_console_input_leaves_the_menu_and_the_boot_goes_on(board):
    board.write_slot(1, harness.tagged_image("slot1"))
    board.set_env("diagnostics=rescue")
    run = board.power_on_redirected("</dev/null").wait_end()
    assert run.application_started, run.output
    assert run.output.count(harness.PROMPT) == 1
    assert "No console input: leaving rescue mode." in run.output
    assert harness.started_tag(run) == "slot1"
