#!/usr/bin/env python3
"""Reads the AddressSanitizer reports of the sanitized Python suite
(sanitizer-reports.py DIR ROOT: DIR holds one report per process, ROOT is the
source tree) and fails on any memory error, and on any leak that the module or
the core allocated: the first frame of its stack outside the sanitizer and the
C++ runtime names a file under ROOT, outside its virtual environments.
Other leaks are Python objects that the interpreter or NumPy allocated and
still held at exit, also when the module's call asked for them (a result, an
iterator); they are counted, not failed on. Under an interpreter whose
internal symbols are stripped no suppression can tell them apart by name, and
a Python object the module keeps too long is the leak scenarios' to find
(reference counts, traced memory)."""
import pathlib
import re
import sys

reports, root = pathlib.Path(sys.argv[1]), sys.argv[2].rstrip("/") + "/"
own_frame = re.compile(re.escape(root) + r"(?!\.venv)")
frame = re.compile(r"^\s*#\d+ ", re.M)
runtime_frame = re.compile(r"libsanitizer|/usr/include/|libstdc\+\+|libgcc")


def allocated_by_us(stack):
    for line in stack.splitlines():
        if frame.match(line) and not runtime_frame.search(line):
            return bool(own_frame.search(line))
    return False


errors, ours, theirs = [], [], 0
for report in sorted(reports.iterdir()):
    text = report.read_text(errors="replace")
    errors += [f"{report.name}: {line}" for line in text.splitlines()
               if "ERROR: AddressSanitizer" in line]
    for leak in re.split(r"\n(?=(?:Direct|Indirect) leak of )", text)[1:]:
        stack = leak.split("\n\n", 1)[0]
        if allocated_by_us(stack):
            ours.append(f"{report.name}:\n{stack}")
        else:
            theirs += 1
print(f"sanitizer reports: {len(list(reports.iterdir()))} processes, {len(errors)} errors,",
      f"{len(ours)} leaks the module or core allocated, {theirs} of the interpreter's or NumPy's only")
for problem in errors + ours:
    print(problem, file=sys.stderr)
sys.exit(1 if errors or ours else 0)
