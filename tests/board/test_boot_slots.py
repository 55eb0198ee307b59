"""Which image slot the board boots: the boot slot byte, and the fallback to the other slot
when the chosen slot file is missing, fails its CRC or has its unpack cut by Ctrl-C."""

import io
import tarfile

import pytest

import harness


def slow_tarball() -> bytes:
    """distro-id, then a member stored with a leading '/', at which tar tells the console
    that it removes it, then a 128 MiB executable that takes a while to write."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz", compresslevel=1) as archive:
        for path, data in [("home/bin/distro-id", b"1\n"), ("/home/bin/leftover", b"x"),
                           ("home/bin/mp.elf.strip", bytes(128 << 20))]:
            info = tarfile.TarInfo(path)
            info.size, info.mode = len(data), 0o755
            archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


# The boot slot byte, and what is wrong with the slot it chooses first.
@pytest.mark.parametrize("byte, fault", [(0, None), (1, None), (2, None), (7, None), (1, "missing"),
                                         (2, "missing"), (1, "crc"), (2, "crc"), (1, "ctrl-c")])
def test_boot_slot_byte_chooses_the_first_slot_and_a_bad_one_falls_back(board, byte, fault):
    first = 2 if byte == 2 else 1
    other = 3 - first
    for slot in (1, 2):
        image = harness.tagged_image(f"slot{slot}")
        if slot == first and fault == "crc":
            image = harness.corrupt(image)
        if slot == first and fault == "ctrl-c":
            image = harness.component(slow_tarball())
        if slot != first or fault != "missing":
            board.write_slot(slot, image)
    board.boot_slot = byte
    console = board.power_on(timeout=60)
    if fault == "ctrl-c":
        console.expect(r"[Rr]emoving leading .* from member names")
        console.interrupt()
        console.expect_exact("Failed to gunzip Application OS.")
    run = console.wait_end()
    shown = run.transcript
    assert run.application_started, shown
    booted = other if fault else first
    assert shown.index("Booting image") == shown.index(f"Booting image '{first}'")
    if fault == "missing":
        # The first attempt itself switched files: main never printed a second "Booting" line.
        assert f"Failed to open Application image {first}. Trying image {other}." in shown
    if fault in ("crc", "ctrl-c"):
        assert shown.index(f"Image{first} CRC failed, trying Image{other} now.") < \
            shown.index(f"Booting image '{other}'")
    assert shown.count("Booting image") == (1 if fault in (None, "missing") else 2)
    assert harness.started_tag(run) == f"slot{booted}"
    assert board.booted_image == booted
    assert run.events.calls("backtrace") == [""]
    assert "/tmp/home/bin/leftover" not in run.events.tree()
