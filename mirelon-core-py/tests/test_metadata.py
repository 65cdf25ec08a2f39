"""The installed distribution's metadata: Dask stays an optional extra.
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
