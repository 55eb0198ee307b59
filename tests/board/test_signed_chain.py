"""The signed chain as a board of each build sees it: what a default board boots and installs
and what a production board (-DBM_PRODUCTION=ON) refuses, with the reason line an operator
reads. Each scenario has one column per profile; the tree under test names its profile in
BM_PRODUCTION."""

import hashlib
import os
import pathlib
import subprocess
import tempfile

import pytest

import harness

PRODUCTION = os.environ.get("BM_PRODUCTION") == "1"
DEMO_KEY = pathlib.Path(__file__).resolve().parents[2] / "keys/demo/demo-signing-key.NOT-FOR-PRODUCTION.pem"
TYPES = {"application": 0x015A514B, "uboot": 0x025A514B, "kernel": 0x035A514B}


def auth_record(payload: bytes, type: str, version: str) -> bytes:
    """Record 5: "BMH1", type, version, payload length, SHA-256 of the payload (48 bytes),
    then the demo key's PKCS#1 v1.5 SHA-256 signature over those 48 bytes."""
    statement = (b"BMH1" + TYPES[type].to_bytes(4, "big") + bytes(int(x) for x in version.split(".")) +
                 len(payload).to_bytes(4, "big") + hashlib.sha256(payload).digest())
    with tempfile.NamedTemporaryFile() as source:
        source.write(statement)
        source.flush()
        signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(DEMO_KEY), source.name],
                                   check=True, capture_output=True).stdout
    return statement + signature


def image(kind: str, tag: str, version: str = "1.0.0.0", type: str = "application") -> bytes:
    """KIND: "signed" (records 3, 4 and 5), "record 3 only" (signed before record 5 existed),
    "unsigned" or "developer" (0.0.0.0, unsigned)."""
    payload = harness.tarball(dict(harness.DEFAULT_APP_FILES, **{"home/bin/tag": tag}))
    if kind == "developer":
        return harness.component(payload, type=type, version="0.0.0.0")
    if kind == "unsigned":
        return harness.component(payload, type=type, version=version)
    records = {5: auth_record(payload, type, version)} if kind == "signed" else None
    return harness.component(payload, type=type, version=version, format=3, sign=DEMO_KEY, records=records)


def started(run):
    return harness.started_tag(run, ("first", "second", "new"))


# kind in slot 1 -> production's reason line (None: it boots on both boards)
BOOTS = {
    "signed": None,
    "record 3 only": None,
    "unsigned": "\tImage rejected as it has no signature",
    "developer": "\tImage rejected: developer images are not accepted",
}


@pytest.mark.parametrize("kind", BOOTS)
def test_production_boots_only_signed_slots_and_falls_back_like_a_crc_failure(board, kind):
    board.boot_slot = 1
    board.write_slot(1, image(kind, "first"))
    board.write_slot(2, image("signed", "second"))
    run = board.boot()
    assert run.application_started, run.output
    refused = PRODUCTION and BOOTS[kind] is not None
    assert started(run) == ("second" if refused else "first")
    assert ("Image1 CRC failed, trying Image2 now." in run.output) == refused
    if refused:
        assert BOOTS[kind] + "\r\nImage1 CRC failed" in run.output


# stick file, what it holds -> production's refusal line (None: both boards install it).
# Slot 1 holds a signed 2.0.0.0 image.
INSTALLS = {
    "newer signed replacement": ("LMW3190_replace1_OS.img", lambda: image("signed", "new", "3.0.0.0"), None),
    "older signed replacement": ("LMW3190_replace1_OS.img", lambda: image("signed", "new", "1.9.0.0"),
                                 "\tImage rejected: version 1.9.0.0 is older than the installed version 2.0.0.0"),
    "replacement signed before record 5": ("LMW3190_replace1_OS.img", lambda: image("record 3 only", "new", "3.0.0.0"),
                                           "\tImage rejected: no authenticated header"),
    "developer replacement": ("LMW3190_replace1_OS.img", lambda: image("developer", "new"),
                              "\tImage rejected: developer images are not accepted"),
    "unsigned boot loader in the boot package": (
        "LMW3190_Boot.img", lambda: harness.component(b"u" * 600, type="uboot", version="1.0.0.0"),
        "\tImage rejected as it has no signature"),
}


@pytest.mark.parametrize("case", INSTALLS)
def test_production_installs_only_signed_newer_components_from_the_stick(board, case):
    name, make, refusal = INSTALLS[case]
    board.boot_slot = 1
    board.write_slot(1, image("signed", "first", "2.0.0.0"))
    board.insert_usb({name: make()})
    board.eeprom_set(harness.USB_STATUS, harness.USB_PRESENT)
    board.set_conf("usb_delay", 0)
    run = board.boot()
    refused = PRODUCTION and refusal is not None
    if refused:
        assert refusal in run.output
    boot_package = name == "LMW3190_Boot.img"
    if boot_package:
        installed = board.flash_read("uboot").startswith(b"u" * 600)
    else:
        installed = "Image1 has been successfully replaced" in run.output
    assert installed != refused, run.output
    if not boot_package:
        assert started(run) == ("first" if refused else "new")
