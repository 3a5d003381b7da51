"""The YAML test suite, case by case, through loads_all.

The suite's folder comes from $YAML_TEST_SUITE (`make test` sets it when the
folder exists). Each case folder holds in.yaml and either `error` (the text
must be rejected with one of the package's exceptions) or usually in.json (the
JSON values the documents must load as).
"""
import json
import math
import os

import pytest

import ostrevane
from ostrevane import exceptions

SUITE = os.environ.get("YAML_TEST_SUITE")

# Cases where the loader decides differently from the suite on purpose, with
# the reason.
DELIBERATE = {
}


def _cases():
    if not SUITE or not os.path.isdir(SUITE):
        return []
    return sorted(d for d in os.listdir(SUITE) if os.path.isfile(os.path.join(SUITE, d, "in.yaml")))


def _json_stream(text):
    dec, i, out = json.JSONDecoder(), 0, []
    while True:
        while i < len(text) and text[i] in " \t\r\n":
            i += 1
        if i >= len(text):
            return out
        value, i = dec.raw_decode(text, i)
        out.append(value)


def _same(a, b):
    if isinstance(a, bool) or isinstance(b, bool):
        return type(a) is type(b) and a == b
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        if isinstance(a, float) and math.isnan(a):
            return isinstance(b, float) and math.isnan(b)
        return a == b
    if isinstance(a, dict) and isinstance(b, dict):
        return len(a) == len(b) and all(k in b and _same(v, b[k]) for k, v in a.items())
    if isinstance(a, (list, tuple)) and isinstance(b, (list, tuple)):
        return len(a) == len(b) and all(_same(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b


PACKAGE_ERRORS = tuple(getattr(exceptions, n) for n in dir(exceptions) if n.startswith("Ostrevane"))

CASES = _cases()


def _open_case(case):
    """The case's folder and input bytes; a deliberate difference is an xfail."""
    if case in DELIBERATE:
        pytest.xfail(DELIBERATE[case])
    path = os.path.join(SUITE, case)
    with open(os.path.join(path, "in.yaml"), "rb") as f:
        return path, f.read()


@pytest.mark.skipif(not CASES, reason="YAML_TEST_SUITE is not set to the test suite's folder")
@pytest.mark.parametrize("case", CASES or ["<none>"])
def test_suite_case(case):
    path, data = _open_case(case)
    if os.path.exists(os.path.join(path, "error")):
        with pytest.raises(PACKAGE_ERRORS):
            ostrevane.loads_all(data)
        return
    docs = ostrevane.loads_all(data)
    jpath = os.path.join(path, "in.json")
    if os.path.exists(jpath):
        with open(jpath, encoding="utf-8") as f:
            want = _json_stream(f.read())
        assert _same(docs, want), f"got {docs!r} want {want!r}"


# Round-trip documents: the same answers as the plain road, and each
# document's text is its own stretch of the input, byte for byte; an invalid
# text fails with the plain road's message and position.
@pytest.mark.skipif(not CASES, reason="YAML_TEST_SUITE is not set to the test suite's folder")
@pytest.mark.parametrize("case", CASES or ["<none>"])
def test_suite_case_round_trip(case):
    path, data = _open_case(case)
    if os.path.exists(os.path.join(path, "error")):
        with pytest.raises(PACKAGE_ERRORS) as plain:
            ostrevane.loads_all(data)
        with pytest.raises(PACKAGE_ERRORS) as each:
            ostrevane.loads_all(data, option=ostrevane.OPT_ROUND_TRIP)
        with pytest.raises(PACKAGE_ERRORS) as whole:
            ostrevane.loads(data, option=ostrevane.OPT_ROUND_TRIP)
        for got in (each.value, whole.value):
            assert (type(got), str(got)) == (type(plain.value), str(plain.value))
        return
    docs = ostrevane.loads_all(data, option=ostrevane.OPT_ROUND_TRIP)
    if docs:  # a stream without documents has no stretches
        assert b"".join(d.to_yaml() for d in docs) == data
    whole = ostrevane.loads(data, option=ostrevane.OPT_ROUND_TRIP)
    assert whole.to_yaml() == data
    jpath = os.path.join(path, "in.json")
    if os.path.exists(jpath):
        with open(jpath, encoding="utf-8") as f:
            want = _json_stream(f.read())
        got = [d.to_dict() for d in docs]
        assert _same(got, want), f"got {got!r} want {want!r}"
