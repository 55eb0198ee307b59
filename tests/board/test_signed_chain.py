"""The signed chain on a default board and on a production one (-DBM_PRODUCTION=ON, named by
BM_PRODUCTION): what each boots and installs, and the reason line of a refusal."""

import os
import subprocess

import pytest

import harness

PRODUCTION = os.environ.get("BM_PRODUCTION") == "1"


def image(kind: str, tag: str, version: str = "1.0.0.0") -> bytes:
    """KIND: "signed" (records 3, 4, 5), "record 3 only" (payload signature and key, as before
    record 5 existed), "unsigned" or "developer" (0.0.0.0, unsigned)."""
    payload = harness.tarball(dict(harness.DEFAULT_APP_FILES, **{"home/bin/tag": tag}))
    if kind in ("developer", "unsigned"):
        return harness.component(payload, version="0.0.0.0" if kind == "developer" else version)
    if kind == "signed":
        return harness.component(payload, version=version, format=3, sign=harness.DEMO_KEY)
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(harness.DEMO_KEY)], input=payload,
                               check=True, capture_output=True).stdout
    public_key = harness.DEMO_KEY.with_name("demo-signing-key.NOT-FOR-PRODUCTION.pub.pem").read_bytes()
    return harness.component(payload, version=version, format=3, records={3: signature, 4: public_key})


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
    assert harness.started_tag(run) == ("second" if refused else "first")
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
    run = board.boot()
    refused = PRODUCTION and refusal is not None
    if refused:
        assert refusal in run.output
    if name == "LMW3190_Boot.img":
        assert board.flash_read("uboot").startswith(b"u" * 600) != refused
    else:
        assert ("Image1 has been successfully replaced" in run.output) != refused, run.output
        assert harness.started_tag(run) == ("first" if refused else "new")
