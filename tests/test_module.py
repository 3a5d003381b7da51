"""Module start-up: names, constants, function objects, sub-interpreters."""

import inspect
import os
import subprocess
import sys
import textwrap

import pytest

import _ostrevane
import ostrevane

FUNCTIONS = [
    "loads",
    "loads_all",
    "dumps",
    "to_json",
    "schema_ref",
    "yaml_version",
    "dump_includes",
    "dump_includes_map",
]

OPTIONS = [
    "OPT_YAML_1_1",
    "OPT_PYYAML_COMPAT",
    "OPT_UPGRADE_1_1",
    "OPT_YAML_1_1_WARN",
    "OPT_ROUND_TRIP",
    "OPT_ANNOTATED",
    "OPT_ANNOTATE_NUMBERS",
    "OPT_INCLUDES",
    "OPT_INCLUDE_DIR_RECURSIVE",
    "OPT_SECRETS",
    "OPT_ENV_VAR",
    "OPT_SECRET_NOT_FOUND_WARN",
    "OPT_ENV_VAR_NOT_FOUND_WARN",
    "OPT_PASSTHROUGH_TAG",
    "OPT_DUPLICATE_KEYS_ERROR",
    "OPT_DUPLICATE_KEYS_WARN",
    "OPT_REJECT_COMPLEX_KEYS",
    "OPT_INDENT_2",
    "OPT_INDENT_4",
    "OPT_INDENTLESS_SEQUENCES",
    "OPT_FLOW_STYLE",
    "OPT_SORT_KEYS",
    "OPT_EXPLICIT_START",
    "OPT_EXPLICIT_END",
    "OPT_SINGLE_QUOTES",
    "OPT_NULL_AS_KEYWORD",
    "OPT_NULL_AS_TILDE",
    "OPT_SERIALIZE_NUMPY",
    "OPT_PASSTHROUGH_DATETIME",
    "OPT_PASSTHROUGH_DATACLASS",
    "OPT_OMIT_MICROSECONDS",
    "OPT_NAIVE_UTC",
    "OPT_UTC_Z",
    "OPT_TIMESTAMPS",
]
# The classes built so far, in the order start-up adds them.
# OstrevaneTreeNode is not built yet; it will take its place after
# OstrevaneDocument.
CLASSES = [
    "OstrevaneDocument",
    "OstrevaneTreeNode",
    "OstrevaneDocumentView",
    "OstrevaneNode",
    "OstrevaneTag",
    "OstrevaneAnnotatedDict",
    "OstrevaneAnnotatedList",
    "OstrevaneScalar",
    "OstrevaneSequence",
    "OstrevaneMapping",
]
# Defined by the package itself, after the module's names.
PACKAGE_CLASSES = ["OstrevaneAnnotatedStr", "OstrevaneAnnotatedInt", "OstrevaneAnnotatedFloat"]

SIGNATURES = {
    "loads": "(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, "
    "tag_handler=None, tags=None, root_path=None, on_missing_secret=None, "
    "on_missing_env_var=None)",
    "loads_all": "(data, /, *, option=None, tag_handler=None, tags=None)",
    "dumps": "(obj, /, *, default=None, option=None, serializers=None, width=None, "
    "represent=None)",
    "to_json": "(obj, /, *, default=None, option=None)",
    "schema_ref": "(data, /)",
    "yaml_version": "(data, /)",
    "dump_includes": "(doc, /, *, include_dir=None)",
    "dump_includes_map": "(doc, /)",
}


def test_all_lists_functions_then_options_then_classes_in_order():
    assert _ostrevane.__all__ == FUNCTIONS + OPTIONS + CLASSES
    assert ostrevane.__all__ == FUNCTIONS + OPTIONS + CLASSES + PACKAGE_CLASSES
    for name in _ostrevane.__all__:
        assert getattr(_ostrevane, name) is getattr(ostrevane, name)


TEST_HOOKS = ["_edit_for_test", "_error_for_test", "_fail_next_write_for_test",
              "_temp_file_counter_for_test", "_to_json_two_pass_for_test",
              "_schema_road_for_test"]


def test_the_module_has_only_the_names_of_all():
    # The installed module used to carry the test entry points: any caller
    # could make the next file write fail. Only a test_hooks build, which a
    # run declares with OSTREVANE_REQUIRE_HOOKS (make test, make asan), has them.
    names = sorted(n for n in dir(_ostrevane) if not n.startswith("__"))
    expected = list(_ostrevane.__all__)
    if os.environ.get("OSTREVANE_REQUIRE_HOOKS"):
        expected += TEST_HOOKS
    assert names == sorted(expected)


@pytest.mark.parametrize("bit,name", list(enumerate(OPTIONS)))
def test_option_constants_are_powers_of_two(bit, name):
    value = getattr(_ostrevane, name)
    assert type(value) is int
    assert value == 2**bit


def test_high_bits_stay_positive():
    assert _ostrevane.OPT_NAIVE_UTC == 2147483648
    assert _ostrevane.OPT_UTC_Z == 4294967296
    assert _ostrevane.OPT_TIMESTAMPS == 8589934592


def test_module_doc_is_empty():
    assert _ostrevane.__doc__ == ""


@pytest.mark.parametrize("name", FUNCTIONS)
def test_functions_are_bound_to_the_module(name):
    function = getattr(_ostrevane, name)
    assert function.__self__ is _ostrevane
    assert function.__module__ == "_ostrevane"
    assert function.__name__ == name
    assert function.__doc__ is None
    assert function.__text_signature__ == SIGNATURES[name]


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signatures_are_introspectable(name):
    params = list(inspect.signature(getattr(_ostrevane, name)).parameters.values())
    assert params[0].kind is inspect.Parameter.POSITIONAL_ONLY
    assert params[0].default is inspect.Parameter.empty
    for param in params[1:]:
        assert param.kind is inspect.Parameter.KEYWORD_ONLY
        assert param.default is None


def run_python(code):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60
    )


def test_reimport_builds_a_fresh_module_with_the_same_names():
    proc = run_python(
        """
        import sys, _ostrevane as first
        del sys.modules["_ostrevane"]
        import _ostrevane as second
        assert first is not second
        assert first.__all__ == second.__all__
        assert second.loads.__self__ is second
        print("ok")
        """
    )
    assert proc.stdout.strip() == "ok", proc.stderr


@pytest.mark.skipif(sys.version_info >= (3, 12), reason="3.11 refuses sub-interpreters itself")
def test_sub_interpreters_are_refused():
    proc = run_python(
        """
        import _xxsubinterpreters as interpreters
        interp = interpreters.create()
        try:
            interpreters.run_string(interp, "import _ostrevane")
        except interpreters.RunFailedError as e:
            print(e)
        """
    )
    assert "ImportError'>: _ostrevane does not support sub-interpreters" in proc.stdout, proc.stderr
