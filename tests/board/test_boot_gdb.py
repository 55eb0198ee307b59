"""gdb=on: the debugger is taken from the first component of the slot that is not booted,
unpacked to /tmp/gdb and the application runs under it; every refusal leaves the board
starting the application normally with a warning."""

import gzip

import pytest

import harness

APP = harness.APP
GDB_MISSING = harness.GDB_MISSING


def gdb_length(component: bytes) -> int:
    return int.from_bytes(component[4:8], "big")


@pytest.mark.parametrize("booted, source", [(1, 2), (2, 1)])
def test_application_runs_under_gdb_from_the_other_slot(board, booted, source):
    gdb = harness.gdb_component()
    board.write_slot(booted, harness.application_image())
    board.write_slot(source, gdb)
    board.boot_slot = booted
    board.set_env("gdb=on")
    console = board.power_on(timeout=30)
    console.expect_exact(f"Extracting GDB from image slot {source}")
    console.expect_exact(f"Found GDB image {source} of length = {gdb_length(gdb)}.")
    console.expect_exact("decompressing GDB....")
    console.expect_exact("*** Launching under GDB ***")
    run = console.wait_end()
    assert run.rebooted, run.output
    assert run.events.calls("gdb") == [APP]
    assert run.events.calls("backtrace") == []


def kernel_typed_gdb():
    return harness.component(gzip.compress(b"#!/bin/sh\n"), type="kernel")


def format2_gdb():
    return harness.component(gzip.compress(b"#!/bin/sh\n"), format=2)


def truncated_gdb():
    return harness.gdb_component()[:-5]


REFUSALS = [
    pytest.param(None, "Failed to open GDB image (from slot 2)", id="other slot missing"),
    pytest.param(kernel_typed_gdb, "Image has invalid header 0x35a514b", id="kernel component"),
    pytest.param(format2_gdb, "Image has invalid header 0x815a514b", id="format-2 header"),
    pytest.param(truncated_gdb, "GDB image is truncated", id="shorter than its length word"),
]


def gdb_with_wrong_crc():
    # The version word changed after the CRC was taken: the payload still gunzips.
    gdb = harness.gdb_component()
    return gdb[:15] + bytes([gdb[15] ^ 0x01]) + gdb[16:]


REFUSALS.append(pytest.param(gdb_with_wrong_crc, "GDB image CRC failed.", id="CRC error"))


@pytest.mark.parametrize("make_source, message", REFUSALS)
def test_refused_gdb_image_starts_the_application_normally(board, make_source, message):
    board.write_slot(1, harness.application_image())
    if make_source:
        board.write_slot(2, make_source())
    board.set_env("gdb=on")
    console = board.power_on(timeout=30)
    console.expect_exact("Extracting GDB from image slot 2")
    console.expect_exact(message)
    console.expect_exact(GDB_MISSING)
    run = console.wait_end()
    assert run.application_started, run.output
    assert "decompressing GDB" not in run.output
    assert run.events.calls("gdb") == []
    assert run.events.calls("backtrace") == [""]


@pytest.mark.parametrize("payload", [harness.tarball(harness.DEFAULT_APP_FILES), gzip.compress(b"echo hi\n")],
                         ids=["application tarball", "plain text"])
def test_gdb_image_that_is_not_a_program_is_not_started(board, payload):
    board.write_slot(1, harness.application_image())
    board.write_slot(2, harness.component(payload))
    board.set_env("gdb=on")
    console = board.power_on(timeout=30)
    console.expect_exact("decompressing GDB....")
    console.expect_exact(GDB_MISSING)
    run = console.wait_end()
    assert run.application_started, run.output
    assert "/tmp/gdb:" not in run.output
