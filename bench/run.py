#!/usr/bin/env python3
"""Run every benchmark side by side with its peers and print the ratios.

Native benchmarks are the `bench_*` executables of the meson bench build;
whole-call benchmarks are the `py_*.py` scripts next to this file. Each prints
its own ratios; this runner only finds and starts them, and says on what
compiler and commit they ran.
"""
import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def describe_build():
    try:
        commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=HERE,
                                capture_output=True, text=True).stdout.strip()
    except OSError:
        commit = "unknown"
    cxx = subprocess.run(["g++", "--version"], capture_output=True, text=True).stdout
    return f"commit {commit or 'unknown'}, {cxx.splitlines()[0] if cxx else 'g++ unknown'}"


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--native-dir", default=os.path.join(HERE, "..", "build", "bench", "bench"))
    ap.add_argument("--only", default="", help="substring a benchmark name must contain")
    args = ap.parse_args(argv)
    print(f"# {describe_build()}", flush=True)
    failures = 0
    if os.path.isdir(args.native_dir):
        for name in sorted(os.listdir(args.native_dir)):
            path = os.path.join(args.native_dir, name)
            if name.startswith("bench_") and os.access(path, os.X_OK) and os.path.isfile(path):
                if args.only not in name:
                    continue
                print(f"\n## {name}", flush=True)
                failures += subprocess.run([path]).returncode != 0
    for name in sorted(os.listdir(HERE)):
        if name.startswith("py_") and name.endswith(".py") and args.only in name:
            print(f"\n## {name}", flush=True)
            failures += subprocess.run([sys.executable, os.path.join(HERE, name)]).returncode != 0
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
