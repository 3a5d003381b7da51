"""Hypothesis strategies shared by the document property tests: plain values
that dumps writes and a round-trip load reads back equal."""

from hypothesis import strategies as st

prop_keys = st.one_of(st.text(max_size=8), st.integers(-5, 5), st.booleans(), st.none())
prop_values = st.recursive(
    st.one_of(st.none(), st.booleans(), st.integers(), st.text(max_size=8),
              st.floats(allow_nan=False)),
    lambda children: st.one_of(st.lists(children, max_size=4),
                               st.dictionaries(prop_keys, children, max_size=4)),
    max_leaves=20,
)
