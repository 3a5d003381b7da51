"""What loads and loads_all share between calls and put back after them: the
process-wide key cache, the cyclic collector's setting, and the streaming
conversion of loads_all (each document converted as soon as it is decoded).
"""
import gc
import logging
import sys
import threading

import pytest

import ostrevane as o
from ostrevane.exceptions import OstrevaneDuplicateKeyError, OstrevaneParseError

# ---------------------------------------------------------------------------
# The key cache is bounded: far more distinct keys than it has slots still
# come back right, on the first load and on a later one that meets evicted
# and replaced entries.


def many_keys_text(count, prefix):
    return "".join(f"{prefix}{i}: {i}\n" for i in range(count))


@pytest.mark.parametrize("prefix", ["k", "clé-", "x" * 200])
def test_key_cache_eviction_keeps_results_right(prefix):
    count = 30000
    expected = {f"{prefix}{i}": i for i in range(count)}
    text = many_keys_text(count, prefix)
    for _ in range(2):
        assert o.loads(text) == expected
    # Keys that were evicted above and come back among others.
    assert o.loads(f"{prefix}5: a\nother: b\n{prefix}29999: c\n") == {
        f"{prefix}5": "a", "other": "b", f"{prefix}29999": "c"}


def test_similar_cached_keys_stay_distinct():
    # Keys differing only in length, in their last byte, or in their
    # encoding width, side by side.
    text = 'a: 1\naa: 2\nab: 3\né: 4\n"\\u00e9x": 5\n東京: 6\n"": 7\n'
    expected = {"a": 1, "aa": 2, "ab": 3, "é": 4, "éx": 5, "東京": 6, "": 7}
    assert o.loads(text) == expected
    assert o.loads(text) == expected


def test_threads_share_the_key_cache():
    texts = [many_keys_text(3000, f"t{n % 3}-") + f"own{n}: {n}\n" for n in range(8)]
    expected = [o.loads(t) for t in texts]
    failures = []
    start = threading.Barrier(len(texts))

    def work(n):
        start.wait()
        for _ in range(20):
            if o.loads(texts[n]) != expected[n] or o.loads_all(texts[n]) != [expected[n]]:
                failures.append(n)
                return

    threads = [threading.Thread(target=work, args=(n,)) for n in range(len(texts))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


# ---------------------------------------------------------------------------
# The collector is paused while a result is built and the caller's setting
# comes back afterwards, whether the call returned or raised.


def raising_handler(name, value):
    raise RuntimeError(f"refused {name}")


FAILING_CALLS = [
    pytest.param(lambda: o.loads("a: !x 1", tag_handler=raising_handler), RuntimeError,
                 id="loads-callback"),
    pytest.param(lambda: o.loads_all("a: 1\n---\nb: !x 1", tag_handler=raising_handler),
                 RuntimeError, id="loads_all-callback"),
    pytest.param(lambda: o.loads_all("a: 1\n---\nb: 2\n---\n[c"), OstrevaneParseError,
                 id="loads_all-parse"),
    pytest.param(lambda: o.loads_all("a: 1\n---\nb: " + "9" * 5000), ValueError,
                 id="loads_all-conversion"),
]


@pytest.mark.parametrize("enabled", [True, False])
@pytest.mark.parametrize("call,error", FAILING_CALLS)
def test_collector_setting_restored_after_a_failed_call(enabled, call, error):
    was = gc.isenabled()
    try:
        gc.enable() if enabled else gc.disable()
        with pytest.raises(error):
            call()
        assert gc.isenabled() is enabled
        assert o.loads_all("a: [1]\n---\nb: {c: d}") == [{"a": [1]}, {"b": {"c": "d"}}]
        assert gc.isenabled() is enabled
    finally:
        gc.enable() if was else gc.disable()


def test_collector_paused_while_callbacks_build_the_result():
    seen = []
    assert gc.isenabled()
    o.loads("a: !x 1", tag_handler=lambda name, value: seen.append(gc.isenabled()))
    assert seen == [False] and gc.isenabled()


# ---------------------------------------------------------------------------
# loads_all converts documents as they are decoded, yet fails exactly as if
# the whole text had been decoded first; the tag-callback road (which still
# decodes everything first) is the reference.

DUP = o.OPT_DUPLICATE_KEYS_ERROR
THIRD_FAILS = "a: 1\n---\nb: [2, 3]\n---\nc: 1\nc: 2\n"


def identity_handler(name, value):
    return value


@pytest.mark.parametrize("text,option,cls,message,line,column", [
    (THIRD_FAILS, DUP, OstrevaneDuplicateKeyError, "duplicate mapping key: c", 6, 1),
    # A scan error in a later document wins over the decode error before it.
    (THIRD_FAILS + "---\n[x\n", DUP, OstrevaneParseError,
     "unclosed flow collection at end of input", 9, 1),
    # A decode error wins over a conversion error in an earlier document.
    ("a: 1\n---\nb: " + "9" * 5000 + "\n---\nc: 1\nc: 2\n", DUP, OstrevaneDuplicateKeyError,
     "duplicate mapping key: c", 6, 1),
])
@pytest.mark.parametrize("kwargs", [{}, {"tag_handler": identity_handler}],
                         ids=["streaming", "callbacks"])
def test_stream_failing_after_converted_documents(text, option, cls, message, line, column,
                                                  kwargs):
    with pytest.raises(cls) as info:
        o.loads_all(text, option=option, **kwargs)
    assert type(info.value) is cls
    assert str(info.value) == f"{message} at line {line}, column {column}"
    assert (info.value.line, info.value.column) == (line, column)


def test_stream_failing_after_converted_documents_leaks_nothing():
    text = THIRD_FAILS.replace("b: [2, 3]", "b: [2, 3, {d: " + "long text " * 20 + "}]")

    def fail_many(n):
        for _ in range(n):
            with pytest.raises(OstrevaneDuplicateKeyError):
                o.loads_all(text, option=DUP)

    fail_many(200)
    gc.collect()
    before = sys.getallocatedblocks()
    fail_many(2000)
    gc.collect()
    assert sys.getallocatedblocks() - before < 100


@pytest.fixture
def records(caplog):
    caplog.set_level(logging.WARNING, logger="ostrevane")
    return caplog


@pytest.mark.parametrize("kwargs", [{}, {"tag_handler": identity_handler}],
                         ids=["streaming", "callbacks"])
def test_stream_conversion_error_comes_after_the_warnings(records, kwargs):
    text = "a: 1\na: 2\n---\nb: " + "9" * 5000 + "\n---\nc: 3\n"
    with pytest.raises(ValueError, match="integer string conversion"):
        o.loads_all(text, option=o.OPT_DUPLICATE_KEYS_WARN, **kwargs)
    assert [r.getMessage() for r in records.records] == [
        "duplicate mapping key 'a' at line 2, column 1; keeping the last value"]


def test_stream_shares_nothing_between_documents():
    # Long texts shared by aliases inside each document; later documents'
    # texts may reuse freed addresses of earlier ones.
    docs = [f"a: &x {'w' * 40}{i}\nb: *x\n" for i in range(50)]
    result = o.loads_all("---\n".join(docs))
    assert result == [{"a": f"{'w' * 40}{i}", "b": f"{'w' * 40}{i}"} for i in range(50)]
    assert all(d["a"] is d["b"] for d in result)
