#!/usr/bin/env python3
"""Run every benchmark side by side with its peers and print the ratios.

Native benchmarks are the `bench_*` executables of the meson bench build;
whole-call benchmarks are the `py_*.py` scripts next to this file. Each prints
its own ratios; this runner finds and starts them, says on what compiler and
commit they ran, and repeats at the end every line that states a goal, so the
goals of one run read side by side.
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


def run_and_collect(cmd, name, goals):
    """Runs `cmd`, passing its output through; keeps its goal lines."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True, bufsize=1)
    for line in proc.stdout:
        print(line, end="", flush=True)
        if "(goal " in line:
            goals.append(f"{name}: {line.strip()}")
    return proc.wait()


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--native-dir", default=os.path.join(HERE, "..", "build", "bench", "bench"))
    ap.add_argument("--only", default="", help="substring a benchmark name must contain")
    args = ap.parse_args(argv)
    print(f"# {describe_build()}", flush=True)
    failures = 0
    goals = []
    if os.path.isdir(args.native_dir):
        for name in sorted(os.listdir(args.native_dir)):
            path = os.path.join(args.native_dir, name)
            if name.startswith("bench_") and os.access(path, os.X_OK) and os.path.isfile(path):
                if args.only not in name:
                    continue
                print(f"\n## {name}", flush=True)
                failures += run_and_collect([path], name, goals) != 0
    for name in sorted(os.listdir(HERE)):
        if name.startswith("py_") and name.endswith(".py") and args.only in name:
            print(f"\n## {name}", flush=True)
            failures += run_and_collect([sys.executable, os.path.join(HERE, name)], name,
                                        goals) != 0
    if goals:
        print("\n## goals of this run", flush=True)
        for line in goals:
            print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
