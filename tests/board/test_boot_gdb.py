"""gdb=on: gdb comes from the first component of the other slot and runs the application;
every refusal starts the application normally with a warning."""

import gzip

import pytest

import harness


def gdb_component() -> bytes:
    """A component whose payload is a gzip-compressed stand-in that logs "gdb ARGS..."."""
    return harness.component(gzip.compress(harness.logging_script("gdb").encode(), mtime=0))


def gdb_boot(board, source=None, booted=1):
    """A gdb=on power-on of slot BOOTED, SOURCE in the other slot, up to the extraction."""
    board.write_slot(booted, harness.application_image())
    if source is not None:
        board.write_slot(3 - booted, source)
    board.boot_slot = booted
    board.set_env("gdb=on")
    console = board.power_on_redirected("2>/board/stderr.log")
    console.expect_exact(f"Extracting GDB from image slot {3 - booted}")
    return console


@pytest.mark.parametrize("booted", [1, 2])
def test_application_runs_under_gdb_from_the_other_slot(board, booted):
    gdb = gdb_component()
    console = gdb_boot(board, gdb, booted)
    console.expect_exact(f"Found GDB image {3 - booted} of length = {int.from_bytes(gdb[4:8], 'big')}.")
    console.expect_exact("decompressing GDB....")
    console.expect_exact("*** Launching under GDB ***")
    run = console.wait_end()
    assert run.rebooted, run.output
    assert run.events.calls("gdb") == [harness.APP]
    assert run.events.calls("backtrace") == []


def gdb_with_wrong_crc():
    # The version word changed after the CRC was taken: the payload still gunzips.
    gdb = gdb_component()
    return gdb[:15] + bytes([gdb[15] ^ 0x01]) + gdb[16:]


# The other slot's contents, and the refusal on standard error.
@pytest.mark.parametrize("make_source, message", [
    pytest.param(None, "Failed to open GDB image (from slot 2)", id="other slot missing"),
    pytest.param(lambda: harness.component(gzip.compress(b"#!/bin/sh\n"), type="kernel"),
                 "Image has invalid header 0x35a514b", id="kernel component"),
    pytest.param(lambda: harness.component(gzip.compress(b"#!/bin/sh\n"), format=2),
                 "Image has invalid header 0x815a514b", id="format-2 header"),
    pytest.param(lambda: gdb_component()[:-5], "GDB image is truncated: 75 of 80 bytes.", id="shorter than its length word"),
    pytest.param(gdb_with_wrong_crc, "GDB image CRC failed.", id="CRC error"),
    pytest.param(lambda: harness.component(harness.tarball(harness.DEFAULT_APP_FILES)),
                 "GDB image does not hold a program (no ELF or #! start).", id="an application tarball"),
])
def test_refused_gdb_image_starts_the_application_normally(board, make_source, message):
    console = gdb_boot(board, make_source and make_source())
    console.expect_exact(harness.GDB_MISSING)
    run = console.wait_end()
    assert board.stderr() == message + "\n"
    assert run.application_started, run.output
    assert "/tmp/gdb:" not in run.output
    assert run.events.calls("gdb") == []
    assert run.events.calls("backtrace") == [""]
