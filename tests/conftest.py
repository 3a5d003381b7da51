"""Fixtures shared by the test modules."""

import logging
import os

import pytest

import _ostrevane


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "hooks: needs the test entry points that only a test_hooks build has")


# The installed module has no test entry points. `make test` runs the tests
# marked `hooks` in a pass of their own against a test_hooks build, with
# OSTREVANE_REQUIRE_HOOKS set, so that they fail there instead of skipping.
def pytest_runtest_setup(item):
    if item.get_closest_marker("hooks") is None or hasattr(_ostrevane, "_error_for_test"):
        return
    if os.environ.get("OSTREVANE_REQUIRE_HOOKS"):
        pytest.fail(f"{_ostrevane.__file__} was built without the test_hooks option")
    pytest.skip("built without the test_hooks option")


@pytest.fixture
def warnings(caplog):
    """The texts logged to the "ostrevane" logger during the test, as a
    callable returning them in order."""
    caplog.set_level(logging.WARNING, logger="ostrevane")

    def texts():
        return [r.getMessage() for r in caplog.records if r.name == "ostrevane"]

    return texts
