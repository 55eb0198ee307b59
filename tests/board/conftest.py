"""Fixtures of the board tests: a fresh simulated board per test, and a factory for tests
that need more than one. Helpers to make images and read events are in harness.py."""

import pytest

import harness


@pytest.fixture
def make_board(tmp_path):
    """make_board(name="board") -> a new harness.Board under the test's scratch directory.
    Each board's console and events are printed at teardown: pytest shows them when the test
    failed."""
    boards = []

    def make(name: str = "board") -> harness.Board:
        boards.append(harness.Board.new(tmp_path / name))
        return boards[-1]

    yield make
    for board in boards:
        board.close()
        print(board.report())


@pytest.fixture
def board(make_board) -> harness.Board:
    """A new board: erased flash and EEPROM, empty /user, no USB stick, no environment."""
    return make_board()
