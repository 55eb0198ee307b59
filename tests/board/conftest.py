"""Fixtures of the board tests: a fresh simulated board per test, and a factory for tests
that need more than one. Helpers to make images and read events are in harness.py."""

import pytest

import harness


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # Keeps each phase's report on the test item, so fixtures can see whether the test failed.
    outcome = yield
    report = outcome.get_result()
    setattr(item, "report_" + report.when, report)


@pytest.fixture
def make_board(tmp_path, request):
    """make_board(name="board") -> a new harness.Board under the test's scratch directory.
    When the test fails, each board's console and events are printed with the failure."""
    boards = []

    def make(name: str = "board") -> harness.Board:
        board = harness.Board.new(tmp_path / name)
        boards.append(board)
        return board

    yield make
    for board in boards:
        board.close()
    failed = getattr(request.node, "report_call", None)
    if failed is not None and failed.failed:
        for board in boards:
            print(board.report())


@pytest.fixture
def board(make_board) -> harness.Board:
    """A new board: erased flash and EEPROM, empty /user, no USB stick, no environment."""
    return make_board()
