#!/usr/bin/env python3
"""Checks a repaired wheel (check-wheel-licences.py WHEEL): each library it
bundles (mirelon_core_py.libs/libNAME-HASH.so...) has one licence text,
licenses/libNAME-*.txt, in the .dist-info, beside the project's LICENSE and
tl-expected's, and the metadata names the licence. Any architecture's wheel.
Which libraries auditwheel bundles depends on the distribution the wheel is
built on (Debian 13's libcrypto pulls in libzstd), so a library without a
known licence here fails the check rather than ship without its text."""
import sys
import zipfile

wheel = zipfile.ZipFile(sys.argv[1])
names = [name for name in wheel.namelist() if not name.endswith("/")]
texts = {n.split("/licenses/", 1)[1]: n for n in names if ".dist-info/licenses/" in n}
metadata = wheel.read(next(n for n in names if n.endswith(".dist-info/METADATA"))).decode()
assert "License-Expression: Apache-2.0" in metadata.splitlines(), "METADATA names no licence"
# Words each library's licence text must hold.
licence_of = {"libcrypto": "Apache License", "libtbb": "Apache License", "libzstd": "BSD License"}
want = {"LICENSE": "Apache License", "licenses/tl-expected-CC0.txt": "CC0 1.0 Universal"}
for library in {n.split("/")[1].split("-")[0] for n in names if n.startswith("mirelon_core_py.libs/")}:
    named = [text for text in texts if text.startswith(f"licenses/{library}-")]
    assert library in licence_of and len(named) == 1, f"bundles {library}: licence texts {named}"
    want[named[0]] = licence_of[library]
for text, words in want.items():
    assert text in texts and words in wheel.read(texts[text]).decode(), f"{text}: missing or no {words!r}"
print("licence texts in the wheel:", ", ".join(sorted(texts)))
