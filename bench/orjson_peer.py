"""Runs a benchmark script again inside a CPython 3.11 that has orjson.

Debian 12 packages no orjson, so the orjson sections of the benchmarks run
in another interpreter (`OSTREVANE_ORJSON_PYTHON`, else `python3` on PATH)
that imports this build of ostrevane through PYTHONPATH.
"""
import os
import shutil
import subprocess

import ostrevane


def run_in_orjson_python(label, script, args):
    """Runs `script args` in the orjson interpreter; returns True when it
    passed or was skipped (saying why, under `label`)."""
    python = os.environ.get("OSTREVANE_ORJSON_PYTHON") or shutil.which("python3")
    if python is None:
        print(f"{label}: skipped (no python3 on PATH)")
        return True
    site = os.path.dirname(os.path.dirname(os.path.abspath(ostrevane.__file__)))
    env = dict(os.environ, PYTHONPATH=site)
    probe = subprocess.run(
        [python, "-c", "import sys, orjson; import ostrevane; "
         "sys.exit(0 if sys.version_info[:2] == (3, 11) else 1)"],
        env=env, capture_output=True, text=True)
    if probe.returncode != 0:
        print(f"{label}: skipped ({python} has no orjson, or cannot import this build)")
        return True
    return subprocess.run([python, os.path.abspath(script), *args], env=env).returncode == 0
