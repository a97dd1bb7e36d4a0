#!/usr/bin/env python3
"""Makes plausible single faults in the write paths, one at a time, and counts how many the tests catch.

    scripts/mutants.py [--build build] [--only NAME] [--tests REGEX] [--targets T ...] [--list]

Each fault in scripts/mutants/*.tsv (name, file, the exact text to change, what to change it to; tabs
and line feeds inside the texts written \\t and \\n) is made
in the checkout, the ordinary build is brought up to date and every suite of it runs; the fault is
caught when a suite fails (or the build does not compile it, which is reported apart and left out of
the score). --tests runs only the suites whose names match, for a quick first look; the score that
counts runs them all. --targets builds only those targets (the suites --tests picks and what they
run) instead of the whole build, which on a small machine relinks every program each time. The
file is restored after each, whatever happens. Takes a few minutes per fault: run it by hand, never
from the test command.
"""

import argparse
import csv
import os
import re
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))


def unescape(text):
    return text.replace("\\t", "\t").replace("\\n", "\n")


def load(folder):
    faults = []
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".tsv"):
            continue
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            for row in csv.reader(f, delimiter="\t", quoting=csv.QUOTE_NONE):
                if not row or row[0].startswith("#"):
                    continue
                fault, file, old, new = row[:4]
                faults.append((fault, file, unescape(old), unescape(new)))
    return faults


def run(args, timeout):
    try:
        p = subprocess.run(args, cwd=ROOT, capture_output=True, timeout=timeout)
        return p.returncode, (p.stdout + p.stderr).decode(errors="replace")
    except subprocess.TimeoutExpired:
        return "timeout", ""


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default="build")
    ap.add_argument("--faults", default=os.path.join(ROOT, "scripts", "mutants"))
    ap.add_argument("--tests", help="run only the suites matching this ctest regular expression")
    ap.add_argument("--only", help="run only the faults whose name contains this")
    ap.add_argument("--targets", nargs="+", help="build only these targets")
    ap.add_argument("--list", action="store_true", help="check that every fault applies, run nothing")
    args = ap.parse_args()
    faults = [f for f in load(args.faults) if not args.only or args.only in f[0]]
    build = ["cmake", "--build", args.build] + (["--target"] + args.targets if args.targets else [])

    caught = missed = unbuilt = 0
    for name, file, old, new in faults:
        path = os.path.join(ROOT, file)
        with open(path, encoding="utf-8") as f:
            original = f.read()
        if original.count(old) != 1:
            print("%-40s does not apply: the text occurs %d times in %s" % (name, original.count(old), file))
            unbuilt += 1
            continue
        if args.list:
            continue
        started = time.time()
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(old, new))
            rc, out = run(build, 1800)
            if rc != 0:
                verdict = "does not build"
                unbuilt += 1
            else:
                rc, out = run(["ctest", "--test-dir", args.build, "-j", str(os.cpu_count() or 2), "--timeout", "600"] +
                              (["-R", args.tests] if args.tests else []), 3600)
                if rc == 0:
                    verdict = "MISSED"
                    missed += 1
                else:
                    # ctest's summary: "  48 - tst_xls (Failed)", "(Subprocess aborted)" ...
                    failed = re.findall(r"^\s*\d+ - (\S+) \(", out, re.M)
                    verdict = "caught" + (" by " + ", ".join(sorted(set(failed))[:4]) if failed else "")
                    caught += 1
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        print("%-40s %s (%.0f s)" % (name, verdict, time.time() - started), flush=True)
    # Leave the build matching the sources again.
    if not args.list:
        run(build, 1800)
    scored = caught + missed
    if scored:
        print("caught %d of %d (%.1f %%); %d not applied or not built" % (caught, scored, 100.0 * caught / scored,
                                                                       unbuilt))
    return 0


if __name__ == "__main__":
    sys.exit(main())
