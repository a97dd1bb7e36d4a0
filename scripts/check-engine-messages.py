#!/usr/bin/env python3
"""Fails, listing them, when an error the engine builds has no Chinese text.

    scripts/check-engine-messages.py [FOLDER]

Every error raised under src/data/engine (or FOLDER) is built together with
the Chinese text the window shows for it: each statement that builds an
EngineError or SqlError, or throws through one of the engine's helpers
(refuse, fail, unexpected), must carry Chinese in the same statement. Failures
no test provokes (a full disk, a memo file out of block numbers) are covered
this way at the source. Run by scripts/test.sh before building.
"""

import pathlib
import re
import sys

# Where an error is built.
BUILT = re.compile(
    r'\b(?:EngineError|SqlError)(?:::format)?\(|throw refuse\(|\brefuse\(v,|\bfail\(u"|\bunexpected\(Q'
)
HAN = re.compile(r"[\u4e00-\u9fff]")
# A Chinese template may hold only full-width punctuation ("%1 %2：%3").
PUNCTUATION = re.compile(r"[\uff01-\uff5e\u3001-\u301f\u201c\u201d]")
# A helper passes on the Chinese text it was given.
PASSED_ON = re.compile(r"\bchinese\b")
# The constructors themselves.
SKIPPED = {"EngineError.h", "SqlError.h"}
# Fewer matches than this means the patterns no longer find the engine's errors.
LEAST_EXPECTED = 81


def statement_end(source: str, start: int) -> int:
    """Where the C++ statement starting at `start` ends: its first ";"
    outside parentheses, string and character literals."""
    depth = 0
    in_string = False
    i = start
    while i < len(source):
        c = source[i]
        if in_string:
            if c == "\\":
                i += 1
            elif c == '"':
                in_string = False
        elif c == '"':
            in_string = True
        elif c == "'":
            i += 3 if source[i + 1] == "\\" else 2  # a character literal
        elif c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
        elif c == ";" and depth <= 0:
            return i
        i += 1
    return len(source)


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    folder = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else root / "src" / "data" / "engine"
    files = sorted(p for p in folder.rglob("*") if p.suffix in (".cpp", ".h") and p.is_file())
    seen = 0
    missing = []
    for path in files:
        if path.name in SKIPPED:
            continue
        source = path.read_text(encoding="utf-8")
        for match in BUILT.finditer(source):
            start = match.start()
            statement = source[start : statement_end(source, start)]
            seen += 1
            if HAN.search(statement) or PUNCTUATION.search(statement) or PASSED_ON.search(statement):
                continue
            line = source.count("\n", 0, start) + 1
            missing.append(f"{path.relative_to(folder)}:{line}: {statement}")
    for entry in missing:
        print(f"no Chinese text: {entry}", file=sys.stderr)
    if seen < LEAST_EXPECTED:
        print(f"only {seen} errors found under {folder}; expected at least {LEAST_EXPECTED}", file=sys.stderr)
        return 1
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
