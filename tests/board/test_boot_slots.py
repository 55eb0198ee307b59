"""Which image slot the board boots: the boot slot byte, a missing slot file, and the
fallback to the other slot after a CRC failure or a file without a bootable component.
(How the component search steps over components of every format and odd header, and which
components count as CRC failures, is decided in the image_boot unit test.)"""

import pytest

import harness


def started_tag(run: harness.PowerOn) -> str | None:
    return harness.started_tag(run, ("slot1", "slot2"))


@pytest.fixture
def two_slots(board):
    board.write_slot(1, harness.tagged_image("slot1"))
    board.write_slot(2, harness.tagged_image("slot2"))
    return board


@pytest.mark.parametrize("byte, first, second", [(0, 1, 2), (1, 1, 2), (2, 2, 1), (7, 1, 2)])
def test_boot_slot_byte_chooses_the_first_slot(two_slots, byte, first, second):
    two_slots.boot_slot = byte
    run = two_slots.boot()
    assert run.application_started, run.output
    assert f"Booting image '{first}'" in run.output
    assert f"Booting image '{second}'" not in run.output
    assert started_tag(run) == f"slot{first}"
    assert two_slots.booted_image == first
    assert run.events.calls("backtrace") == [""]


@pytest.mark.parametrize("chosen, present", [(1, 2), (2, 1)])
def test_missing_slot_file_boots_the_other_slot_in_the_same_attempt(board, chosen, present):
    board.boot_slot = chosen
    board.write_slot(present, harness.tagged_image(f"slot{present}"))
    run = board.boot()
    assert run.application_started, run.output
    assert (f"Failed to open Application image {chosen}. Trying image {present}."
            in run.output)
    # The first attempt itself switched files: main never printed a second "Booting" line.
    assert run.output.count("Booting image") == 1
    assert started_tag(run) == f"slot{present}"
    assert board.booted_image == present


@pytest.mark.parametrize("chosen", [1, 2])
def test_crc_failure_in_the_chosen_slot_boots_the_other(two_slots, chosen):
    other = 3 - chosen
    two_slots.boot_slot = chosen
    two_slots.write_slot(chosen, harness.corrupt(two_slots.read_slot(chosen)))
    console = two_slots.power_on()
    console.expect_exact(f"Booting image '{chosen}'")
    console.expect_exact(f"Image{chosen} CRC failed, trying Image{other} now.")
    console.expect_exact(f"Booting image '{other}'")
    run = console.wait_end()
    assert run.application_started, run.output
    assert started_tag(run) == f"slot{other}"
    assert two_slots.booted_image == other


def test_slot_without_bootable_component_boots_the_other(two_slots):
    two_slots.write_slot(1, harness.package(harness.component(b"k" * 100, type="kernel"),
                                            harness.component(b"r" * 50, type="rfs", format=2)))
    console = two_slots.power_on()
    # The first value is the type of the last component the search looked at.
    console.expect_exact("Image has invalid header 0x45a514b. (0x65a514b)")
    console.expect_exact("Image1 has invalid header... trying Image2.")
    console.expect_exact("Booting image '2'")
    run = console.wait_end()
    assert run.application_started
    assert started_tag(run) == "slot2"
