"""!env_var through loads: values, defaults, the unset variable's error, and
the reports of missing variables (callbacks, warnings, their order)."""
import logging
import os

import pytest

import ostrevane as o
from ostrevane.exceptions import OstrevaneEnvVarError

ENV = o.OPT_ENV_VAR
WARN = o.OPT_ENV_VAR_NOT_FOUND_WARN


@pytest.fixture
def env(monkeypatch):
    monkeypatch.setenv("OSV_SET", "value with  spaces")
    monkeypatch.setenv("OSV_EMPTY", "")
    monkeypatch.delenv("OSV_UNSET", raising=False)
    monkeypatch.delenv("OSV_UNSET2", raising=False)
    return monkeypatch


@pytest.mark.parametrize("text, expected", [
    ("!env_var OSV_SET", "value with  spaces"),
    ("!env_var OSV_SET ignored default", "value with  spaces"),
    ("!env_var OSV_EMPTY", ""),
    ("!env_var OSV_EMPTY fallback", ""),
    ("!env_var OSV_UNSET a   b", "a b"),
    ("!env_var '  OSV_UNSET\u3000 x\u2028y  '", "x y"),  # Unicode white space splits words
    ('!env_var "\\tOSV_SET\\n"', "value with  spaces"),
    ("!env_var ''", ""),
    ("!env_var '   '", ""),
    ("!env_var", ""),
    ("!env_var [OSV_SET]", ""),
    ("!env_var {a: OSV_SET}", ""),
    ("!env_var OSV_UNSET 0", "0"),  # a default is text, never resolved
])
def test_env_var_values(env, text, expected):
    assert o.loads(f"v: {text}\n", option=ENV) == {"v": expected}


def test_env_var_reads_the_environment_at_each_call(env):
    assert o.loads("!env_var OSV_SET", option=ENV) == "value with  spaces"
    env.setenv("OSV_SET", "changed")
    assert o.loads("!env_var OSV_SET", option=ENV) == "changed"


def test_an_unset_variable_without_default_fails_at_its_position(env):
    with pytest.raises(OstrevaneEnvVarError) as info:
        o.loads("a: 1\nb:\n  - !env_var   OSV_UNSET\n", option=ENV, include_dir="cfg")
    e = info.value
    assert str(e) == "environment variable OSV_UNSET is not defined in cfg/<root>"
    assert (e.file, e.line, e.column) == ("cfg/<root>", 3, 16)
    assert "include_stack" not in vars(e)


def test_missing_variables_go_to_the_callback_in_order(env):
    calls = []
    result = o.loads("a: !env_var OSV_UNSET\nb: !env_var OSV_SET\nc: [!env_var OSV_UNSET2]\n",
                     option=ENV, on_missing_env_var=lambda *args: calls.append(args) or "ignored",
                     root_path="conf/app.yaml")
    assert result == {"a": None, "b": "value with  spaces", "c": [None]}
    assert calls == [("OSV_UNSET", "conf/app.yaml", 1), ("OSV_UNSET2", "conf/app.yaml", 3)]


def test_missing_variables_are_logged_with_the_warn_option(env, caplog):
    caplog.set_level(logging.WARNING, logger="ostrevane")
    calls = []
    result = o.loads("x: 1\ny: !env_var OSV_UNSET\n", option=ENV | WARN,
                     on_missing_env_var=lambda *a: calls.append(a), root_path=os.fsdecode(b"r\xffp.yaml"))
    assert result == {"x": 1, "y": None}
    assert calls == [("OSV_UNSET", "r\ufffdp.yaml", 2)]
    assert [r.getMessage() for r in caplog.records] == [
        "environment variable 'OSV_UNSET' is not defined at r\ufffdp.yaml:2"]
    caplog.clear()
    assert o.loads("!env_var OSV_UNSET", option=ENV | WARN) is None
    assert [r.getMessage() for r in caplog.records] == [
        "environment variable 'OSV_UNSET' is not defined at ./<root>:1"]


def test_a_raising_callback_ends_the_call_at_the_first_record(env):
    calls = []

    def callback(*args):
        calls.append(args)
        raise ValueError("stop")

    with pytest.raises(ValueError, match="stop"):
        o.loads("a: !env_var OSV_UNSET\nb: !env_var OSV_UNSET2\n", option=ENV,
                on_missing_env_var=callback)
    assert calls == [("OSV_UNSET", "./<root>", 1)]


def test_nothing_is_reported_when_the_expansion_fails(env, tmp_path):
    calls = []
    with pytest.raises(o.exceptions.OstrevaneIncludeNotFoundError):
        o.loads("a: !env_var OSV_UNSET\nb: !include nope.yaml\n", option=ENV | o.OPT_INCLUDES,
                include_dir=str(tmp_path), on_missing_env_var=lambda *a: calls.append(a))
    assert calls == []
