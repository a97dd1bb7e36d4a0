#!/usr/bin/env python3
"""Races and kills writers on a copy of a roster of each kind, and checks the file after each round.

    scripts/roster-stress.py [--build build] [--rounds 200] [--kinds xls,dbf,mdb] [--seed N]

Too long for the test command (a few minutes per kind); run it by hand after changing a write path.

Concurrent writers: each round copies the roster afresh and starts 2, then 5, `lumora-sql update`
processes at once, each on a cell of its own. Every update that printed 1 must be in the file as
Lumora reads it and as an independent reader (ssconvert, mdb-export, ogr2ogr) reads it, and no other
cell may have changed.

Kills: `writeback_child` writes names into the roster over and over and is killed (SIGKILL) after a
random delay. Then the roster must open in Lumora and in the independent reader, hold every record,
each written cell either its old value or a name the child wrote, and every other cell as before.
After the next write has run, no file but the roster may lie beside it.

Prints one line of figures per check and exits 1 on the first failure, naming the round and the seed.
"""

import argparse
import collections
import csv
import io
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "tests", "data")

# file, table, key column, written column, connect string for writeback_child, cells for the racers:
# (key, column) pairs, each a different cell.
KINDS = {
    "xls": dict(file="generated/roster_zh_30.xls", table="高一 学生名单 roster$", key="学号",
                target="照片", connect="Excel 8.0",
                cells=[("'202400000%d'" % i, "照片") for i in range(1, 6)]),
    "dbf": dict(file="dbf/roster_zh_30_lo_cp936.dbf", table="roster_zh_30_lo_cp936", key="N__",
                target="N__2", connect="dBASE IV",
                cells=[("'202400000%d'" % i, "N__2") for i in range(1, 6)]),
    # The committed Access databases hold a record or two: mdb_grow adds 299 to a copy.
    "mdb": dict(file="mdb/ucanaccess_weirdObjectNames.mdb", table="19 MB 01 BEZAHLT ???", key="ID",
                target="TextField", connect="", grow=299,
                cells=[("%d" % i, "TextField") for i in (1, 40, 41, 150, 300)]),
}


class Failure(Exception):
    pass


def run(args, check=True):
    p = subprocess.run(args, capture_output=True)
    if check and p.returncode != 0:
        raise Failure("%s failed (%d): %s" % (args[0], p.returncode, p.stderr.decode(errors="replace")))
    return p


def lumora_rows(sql, path, table):
    """The table as Lumora reads it: a list of rows of texts."""
    out = run([sql, path, "select * from [%s]" % table.replace("]", "]]")]).stdout.decode()
    return [line.split("\t") for line in out.splitlines()]


def independent_rows(kind, path, table):
    """The table as another program reads it (header row left out)."""
    if kind == "xls":
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "out.csv")
            run(["ssconvert", "--export-type=Gnumeric_stf:stf_csv", path, out])
            with open(out, encoding="utf-8") as f:
                rows = list(csv.reader(f))
    elif kind == "mdb":
        text = run(["mdb-export", path, table]).stdout.decode()
        rows = list(csv.reader(io.StringIO(text)))
    else:
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "out.csv")
            run(["ogr2ogr", "-f", "CSV", out, path], check=True)
            with open(out, encoding="utf-8", errors="replace") as f:
                rows = list(csv.reader(f))
    return rows[1:]


def changed_cells(before, after):
    cells = set()
    if len(before) != len(after):
        raise Failure("%d records became %d" % (len(before), len(after)))
    for r, (a, b) in enumerate(zip(before, after)):
        for c in range(max(len(a), len(b))):
            if (a[c] if c < len(a) else None) != (b[c] if c < len(b) else None):
                cells.add((r, c))
    return cells


def field_names(sql, path, table):
    out = run([sql, path]).stdout.decode()
    names, current = [], None
    for line in out.splitlines():
        parts = line.split("\t")
        if parts[0] == "TABLE":
            current = parts[1]
        elif parts[0] == "FIELD" and current == table:
            names.append(parts[2])
    return names


def roster(kind_info, build, work):
    """The roster to copy from: the committed file, grown when the kind asks for it."""
    src = os.path.join(DATA, kind_info["file"])
    if "grow" not in kind_info:
        return src
    grown = os.path.join(work, "grown-" + os.path.basename(src))
    if not os.path.exists(grown):
        shutil.copyfile(src, grown)
        run([os.path.join(build, "mdb_grow"), grown, kind_info["table"], str(kind_info["grow"])])
    return grown


def literal(kind_info, text):
    return text if kind_info.get("grow") else "'%s'" % text.replace("'", "''")


def race(kind, kind_info, sql, rounds, writers, rng, work, src):
    path = os.path.join(work, os.path.basename(src))
    names = field_names(sql, src, kind_info["table"])
    base = lumora_rows(sql, src, kind_info["table"])
    base_other = independent_rows(kind, src, kind_info["table"])
    key_col = names.index(kind_info["key"])
    done_total = refused_total = 0
    reasons = collections.Counter()
    for rnd in range(rounds):
        shutil.copyfile(src, path)
        cells = kind_info["cells"][:writers]
        procs = []
        for i, (key, column) in enumerate(cells):
            value = "r%dw%d.jpg" % (rnd, i)
            stmt = "update [%s] set [%s]='%s' where [%s]=%s" % (kind_info["table"], column, value, kind_info["key"], key)
            procs.append((key, column, value, subprocess.Popen([sql, path, stmt], stdout=subprocess.PIPE,
                                                               stderr=subprocess.PIPE)))
        expected = {}
        for key, column, value, p in procs:
            out, err = p.communicate()
            if p.returncode == 0 and out.strip() == b"1":
                row = next(r for r, cells_ in enumerate(base) if literal(kind_info, cells_[key_col]) == key)
                expected[(row, names.index(column))] = value
                done_total += 1
            elif p.returncode == 0:
                raise Failure("round %d: %s printed %r" % (rnd, column, out))
            else:
                refused_total += 1
                reasons[err.decode(errors="replace").strip().split(": ", 1)[-1][:100]] += 1
        after = lumora_rows(sql, path, kind_info["table"])
        changed = changed_cells(base, after)
        if changed != set(expected):
            raise Failure("round %d, %d writers: cells changed %s, updates reported done %s"
                          % (rnd, writers, sorted(changed), sorted(expected)))
        for (r, c), value in expected.items():
            if after[r][c] != value:
                raise Failure("round %d: row %d field %d holds %r, not %r" % (rnd, r, c, after[r][c], value))
        other = independent_rows(kind, path, kind_info["table"])
        changed_other = changed_cells(base_other, other)
        if len(changed_other) != len(expected):
            raise Failure("round %d: the independent reader sees %d cells changed, %d were written"
                          % (rnd, len(changed_other), len(expected)))
    print("%s: %d writers x %d rounds: %d updates reported done, all in the file; %d refused%s"
          % (kind, writers, rounds, done_total, refused_total,
             "".join("\n    %d x %s" % (n, why) for why, n in reasons.most_common(3))))


def kills(kind, kind_info, sql, child, rounds, rng, work, src):
    path = os.path.join(work, os.path.basename(src))
    shutil.copyfile(src, path)
    names = field_names(sql, path, kind_info["table"])
    target = names.index(kind_info["target"])
    state = lumora_rows(sql, path, kind_info["table"])
    allowed = set(os.listdir(work))
    landed = finished = 0
    for rnd in range(rounds):
        delay = rng.uniform(0.002, 0.06)
        p = subprocess.Popen([child, path, kind_info["table"], kind_info["key"], kind_info["target"], str(rnd), kind_info["connect"]],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            line = p.stdout.readline()
            if line.strip() != b"ready":
                raise Failure("round %d: writeback_child: %s" % (rnd, p.stderr.read().decode(errors="replace")))
            time.sleep(delay)
            p.send_signal(signal.SIGKILL)
            out, err = p.communicate()
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
        if p.returncode != -signal.SIGKILL:
            raise Failure("round %d: the writer ended by itself: %s" % (rnd, err.decode(errors="replace")))
        finished += len(out.split())
        where = "round %d, kill after %.1f ms" % (rnd, delay * 1000)
        try:
            now = lumora_rows(sql, path, kind_info["table"])
        except Failure as e:
            raise Failure("%s: Lumora cannot read it: %s" % (where, e))
        for (r, c) in changed_cells(state, now):
            if c != target or not now[r][c].endswith(".jpg") or "_%d_" % rnd not in now[r][c]:
                raise Failure("%s: record %d field %d: %r became %r" % (where, r, c, state[r][c], now[r][c]))
            landed += 1
        try:
            other = independent_rows(kind, path, kind_info["table"])
        except Failure as e:
            raise Failure("%s: the independent reader cannot read it: %s" % (where, e))
        if len(other) != len(now):
            raise Failure("%s: the independent reader sees %d records, Lumora %d" % (where, len(other), len(now)))
        state = now
        # The next write clears what a dead writer left.
        key = state[0][names.index(kind_info["key"])]
        run([sql, path, "update [%s] set [%s]='next.jpg' where [%s]=%s"
             % (kind_info["table"], kind_info["target"], kind_info["key"], literal(kind_info, key))])
        state = lumora_rows(sql, path, kind_info["table"])
        stray = set(os.listdir(work)) - allowed
        if stray:
            raise Failure("%s: left beside the roster after the next write: %s" % (where, sorted(stray)))
    print("%s: %d kills: readable by Lumora and the independent reader after each; %d cells took a new "
          "value; %d updates had finished; no stray file after the next write" % (kind, rounds, landed, finished))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--rounds", type=int, default=200)
    ap.add_argument("--kinds", default="xls,dbf,mdb")
    ap.add_argument("--seed", type=int, default=random.randrange(1 << 30))
    args = ap.parse_args()
    sql = os.path.join(args.build, "lumora-sql")
    child = os.path.join(args.build, "writeback_child")
    rng = random.Random(args.seed)
    print("seed %d" % args.seed)
    try:
        for kind in args.kinds.split(","):
            kind_info = KINDS[kind]
            with tempfile.TemporaryDirectory() as source:
                src = roster(kind_info, args.build, source)
                for writers in (2, 5):
                    with tempfile.TemporaryDirectory() as work:
                        race(kind, kind_info, sql, args.rounds, writers, rng, work, src)
                with tempfile.TemporaryDirectory() as work:
                    kills(kind, kind_info, sql, child, args.rounds, rng, work, src)
    except Failure as e:
        print("FAILED (seed %d): %s" % (args.seed, e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
