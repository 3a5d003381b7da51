#!/usr/bin/env python3
"""Writes a copy of libstdc++ 12's <expected> that clang 14 can compile.

libstdc++ 12 hides std::expected from compilers without conditionally trivial
special members (__cpp_concepts >= 202002L), and clang 14 has none. The copy
drops the trivial overloads and keeps the general ones unconditionally: the
same behaviour, only never trivially copyable. Used by `make fuzz` alone; g++
builds use the real header.

usage: make_expected_shim.py SYSTEM_HEADER OUTPUT_DIR
"""
import pathlib
import re
import sys


def patch(text: str) -> str:
    text = text.replace("#if __cplusplus > 202002L && __cpp_concepts >= 202002L",
                        "#if __cplusplus > 202002L")
    # The defaulted (trivial) copy, move and destructor overloads.
    text = re.sub(r"\n\s*expected\((const expected&|expected&&)\) = default;", "", text)
    text = re.sub(r"\n\s*constexpr ~expected\(\) = default;", "", text)
    # The general overloads lose the clause that excluded trivial types.
    text = re.sub(r"\n\s*&& \(!is_trivially_(copy|move)_constructible_v<_Tp>\s*\n\s*"
                  r"\|\| !is_trivially_\1_constructible_v<_Er>\)", "", text)
    text = re.sub(r"\n\s*&& \(!is_trivially_(copy|move)_constructible_v<_Er>\)", "", text)
    text = re.sub(r"constexpr ~expected\(\)\s*\n?\s*requires \(!is_trivially_destructible_v<_Tp>\)"
                  r"\s*\n\s*\|\| \(!is_trivially_destructible_v<_Er>\)", "constexpr ~expected()", text)
    text = re.sub(r"constexpr ~expected\(\) requires \(!is_trivially_destructible_v<_Er>\)",
                  "constexpr ~expected()", text)
    return text


def main() -> None:
    source = pathlib.Path(sys.argv[1]).read_text()
    patched = patch(source)
    if "is_trivially_copy_constructible_v<_Er>)" in patched or "= default;\n\n      constexpr\n      expected(" in patched:
        sys.exit("make_expected_shim: the header's layout is not the one expected")
    out = pathlib.Path(sys.argv[2])
    out.mkdir(parents=True, exist_ok=True)
    (out / "expected").write_text(patched)


if __name__ == "__main__":
    main()
