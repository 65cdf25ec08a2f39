"""The installed distribution's metadata: Dask stays an optional extra; the
licence, and the licence texts of the libraries the wheel carries.
(The test command's C++ package step checks that the wheel's version is the
CMake project's.)"""

import importlib.metadata

import pytest

try:
    DIST = importlib.metadata.distribution("mirelon-core-py")
except importlib.metadata.PackageNotFoundError:  # a bare build directory on the path
    DIST = None
needs_dist = pytest.mark.skipif(DIST is None, reason="mirelon-core-py is not installed")


@needs_dist
def test_dask_is_an_optional_extra_not_a_dependency():
    requires = DIST.requires or []
    assert "dask" in (DIST.metadata.get_all("Provides-Extra") or [])
    plain = [r for r in requires if "extra ==" not in r]
    assert not any(r.startswith(("dask", "distributed")) for r in plain), plain
    assert any(r.startswith("dask") and 'extra == "dask"' in r for r in requires), requires


# Each bundled library (mirelon_core_py.libs/libNAME-HASH.so...) and the
# compiled-in tl-expected header need a licence text named after them.
@needs_dist
def test_the_licence_and_every_bundled_librarys_text_are_installed():
    assert DIST.metadata["License-Expression"] == "Apache-2.0"
    files = {str(f).rsplit("/", 1)[-1]: f for f in DIST.files or [] if "/licenses/" in str(f)}
    bundled = {str(f).split("/")[1].split("-")[0] for f in DIST.files or []
               if str(f).startswith("mirelon_core_py.libs/")}
    texts = {"LICENSE": "Apache License", "tl-expected-CC0.txt": "CC0 1.0 Universal"}
    for library in bundled:
        named = [name for name in files if name.startswith(library + "-")]
        assert len(named) == 1, (library, sorted(files))
        texts[named[0]] = "Apache License"
    for name, words in texts.items():
        assert words in files[name].read_text(), name
