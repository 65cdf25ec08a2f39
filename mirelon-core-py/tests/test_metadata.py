"""The installed distribution's metadata: the version users and tools read,
and the optional extra."""

import importlib.metadata
import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

try:
    DIST = importlib.metadata.distribution("mirelon-core-py")
except importlib.metadata.PackageNotFoundError:  # a bare build directory on the path
    DIST = None
needs_dist = pytest.mark.skipif(DIST is None, reason="mirelon-core-py is not installed")


def project_version():
    """The CMake project's version, which the wheel's metadata is read from."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"^project\(mirelon_core VERSION ([0-9.]+)", text, re.M).group(1)


@needs_dist
def test_installed_version_is_the_projects():
    assert importlib.metadata.version("mirelon-core-py") == project_version()


def test_changelog_has_an_entry_for_the_version():
    changelog = (ROOT / "CHANGELOG.md").read_text(encoding="utf-8")
    assert re.search(rf"^## {re.escape(project_version())}\b", changelog, re.M)


@needs_dist
def test_dask_is_an_optional_extra_not_a_dependency():
    requires = DIST.requires or []
    assert "dask" in (DIST.metadata.get_all("Provides-Extra") or [])
    plain = [r for r in requires if "extra ==" not in r]
    assert not any(r.startswith(("dask", "distributed")) for r in plain), plain
    assert any(r.startswith("dask") and 'extra == "dask"' in r for r in requires), requires
