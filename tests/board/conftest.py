"""Fixtures of the board tests: a fresh simulated board per test, and a factory for tests
that need more than one. Helpers to make images and read events are in harness.py."""

import pytest

import harness


@pytest.fixture
def make_board(tmp_path):
    """make_board(name) -> a new harness.Board; its report is printed (shown if the test fails)."""
    boards = []

    def make(name: str = "board") -> harness.Board:
        boards.append(harness.Board(tmp_path / name))
        return boards[-1]

    yield make
    for board in boards:
        board.close()
        print(board.report())


@pytest.fixture
def board(make_board) -> harness.Board:
    """A new board: erased flash and EEPROM, empty /user, no USB stick, no environment."""
    return make_board()
