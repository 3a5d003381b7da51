"""Fixtures shared by the test modules."""

import logging

import pytest


@pytest.fixture
def warnings(caplog):
    """The texts logged to the "ostrevane" logger during the test, as a
    callable returning them in order."""
    caplog.set_level(logging.WARNING, logger="ostrevane")

    def texts():
        return [r.getMessage() for r in caplog.records if r.name == "ostrevane"]

    return texts
