#!/usr/bin/env python3
"""Reads the AddressSanitizer reports of the sanitized Python suite
(sanitizer-reports.py DIR ROOT: DIR holds one report per process, ROOT is the
source tree) and fails on any memory error, and on any leak whose allocation
stack passes through the module or the core (a frame naming a file under ROOT,
outside its virtual environments).
Leaks whose stacks never do are what the interpreter and NumPy keep at exit;
they are counted, not failed on, since under an interpreter whose internal
symbols are stripped no suppression can tell them apart by name."""
import pathlib
import re
import sys

reports, root = pathlib.Path(sys.argv[1]), sys.argv[2].rstrip("/") + "/"
own_frame = re.compile(re.escape(root) + r"(?!\.venv)")
errors, ours, theirs = [], [], 0
for report in sorted(reports.iterdir()):
    text = report.read_text(errors="replace")
    errors += [f"{report.name}: {line}" for line in text.splitlines()
               if "ERROR: AddressSanitizer" in line]
    for leak in re.split(r"\n(?=(?:Direct|Indirect) leak of )", text)[1:]:
        stack = leak.split("\n\n", 1)[0]
        if own_frame.search(stack):
            ours.append(f"{report.name}:\n{stack}")
        else:
            theirs += 1
print(f"sanitizer reports: {len(list(reports.iterdir()))} processes, {len(errors)} errors,",
      f"{len(ours)} leaks through the module or core, {theirs} of the interpreter's or NumPy's only")
for problem in errors + ours:
    print(problem, file=sys.stderr)
sys.exit(1 if errors or ours else 0)
