#!/usr/bin/env python3
"""Runs a build's test programs under valgrind memcheck, failing on any error.

CTest runs every GoogleTest case as a process of its own, and valgrind's
start-up cost per process would make that take far too long. This script
asks CTest for the suite, runs each test program that the build made once
with all its cases (or once as CTest would, for a program that is not a
GoogleTest suite), and leaves out commands of programs from outside the
build (CMake scripts, interpreters), which do not run the project's code.

    tests/reliability/memcheck.py BUILD_DIR [--exclude GTEST_PATTERN]...
                                            [--skip-program NAME]... [--jobs N]

An exclusion is a GoogleTest name pattern (for example 'HostileInputTest.*')
left out of every suite; a skipped program (by file name) is not run at all.
Times are wall clock, the total also in CPU time (the machine may be
shared). Exits 1 when any program fails or valgrind reports an error or a
definite or indirect leak.
"""
import argparse
import concurrent.futures
import json
import os
import resource
import subprocess
import sys
import time

VALGRIND = [
    "valgrind",
    "--error-exitcode=99",
    "--leak-check=full",
    "--errors-for-leak-kinds=definite,indirect",
    "--show-leak-kinds=definite,indirect",
    "--num-callers=30",
    "--quiet",
]


def suite(build_dir):
    listing = subprocess.run(
        ["ctest", "--test-dir", build_dir, "--show-only=json-v1"],
        check=True,
        capture_output=True,
        text=True,
    )
    return json.loads(listing.stdout)["tests"]


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def property_of(test, name, default=None):
    for prop in test.get("properties", []):
        if prop["name"] == name:
            return prop["value"]
    return default


def is_gtest_case(command):
    return any(arg.startswith("--gtest_filter=") for arg in command[1:])


def runs(build_dir, excluded, skipped_programs):
    """One run per test program of the build: (label, command, directory, env)."""
    build_dir = os.path.realpath(build_dir)
    seen = set()
    for test in suite(build_dir):
        command = test.get("command")
        if not command:
            continue
        program = os.path.realpath(command[0])
        if not program.startswith(build_dir + os.sep):
            print(f"memcheck: skipped {test['name']} (runs {os.path.basename(program)})")
            continue
        if program in seen:
            continue
        if os.path.basename(program) in skipped_programs:
            print(f"memcheck: skipped {os.path.relpath(program, build_dir)} (asked to)")
            seen.add(program)
            continue
        seen.add(program)
        env = dict(os.environ)
        for entry in property_of(test, "ENVIRONMENT", []):
            key, _, value = entry.partition("=")
            env[key] = value
        directory = property_of(test, "WORKING_DIRECTORY", build_dir)
        if is_gtest_case(command):
            args = [program]
            if excluded:
                args.append("--gtest_filter=-" + ":".join(excluded))
            yield os.path.relpath(program, build_dir), args, directory, env
        else:
            yield test["name"], [program] + command[1:], directory, env


def memcheck(label, command, directory, env):
    """Runs one program under valgrind; (label, passed)."""
    began = time.monotonic()
    result = subprocess.run(VALGRIND + command, cwd=directory, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    took = time.monotonic() - began
    verdict = "ok" if result.returncode == 0 else f"FAILED (exit {result.returncode})"
    report = f"memcheck: {label}: {verdict} in {took:.1f} s"
    if result.returncode != 0:
        report += "\n" + result.stdout
    print(report, flush=True)
    return label, result.returncode == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--exclude", action="append", default=[], metavar="GTEST_PATTERN")
    parser.add_argument("--skip-program", action="append", default=[], metavar="NAME")
    parser.add_argument("--jobs", type=int, default=1, help="programs run at once")
    options = parser.parse_args()

    started = time.monotonic()
    planned = list(runs(options.build_dir, options.exclude, set(options.skip_program)))
    with concurrent.futures.ThreadPoolExecutor(max_workers=options.jobs) as pool:
        outcomes = pool.map(lambda run: memcheck(*run), planned)
        failed = [label for label, passed in outcomes if not passed]
    print(f"memcheck: {len(failed)} failed, {time.monotonic() - started:.1f} s in all "
          f"({children_cpu():.1f} s CPU)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
