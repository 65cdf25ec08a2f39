"""The installed type stubs, as a user's type checker sees them: a script in a
directory of its own is checked with `mypy --strict`; the calls the module
accepts must pass, the ones it refuses must be flagged, and the readers'
results must have their tuple shapes."""

import re
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy")

SCRIPT = textwrap.dedent(
    """\
    from typing import Tuple
    import numpy as np
    import numpy.typing as npt
    import mirelon_core_py as m

    a: npt.NDArray[np.uint8] = np.frombuffer(b"abcdefgh", dtype=np.uint8)
    key = np.arange(256, dtype=np.uint8)
    rows = np.zeros((3, 8), dtype=np.uint8)
    seed = np.zeros(32, dtype=np.uint8)

    # accepted
    n: int = m.get_chunk_size(a) + m.get_chunk_size_min(packet=a, min_size=np.uint64(4))
    p: bytes = m.involute_packet(a, a, True)
    p = m.cycle_packet(a, a, a, a, a, chunk_size=0)
    p = m.cond_involute_packet(a, a, 4, 1, 2, np.float32(0.5))
    k: bytes = m.gen_key("party", "purpose", seed)
    bounds: Tuple[int, int] = m.prep_condition(-1, 1.5, salt=a)
    branch: int = m.cond_hash_branch(bounds[0], bounds[1], 0, a)
    p = m.map_data(key, key, 0, (a, a)) + m.map_data(key, key, 1, list(rows))
    restored: list[bytes] = m.inv_data(key, [key, key], [a, a])
    blob: bytes = m.package_blob()
    blob = m.package_blob(a, b"x", "mode", 7, np.uint64(7), [65, 66], bytearray(b"x"),
                          memoryview(b"x"), np.arange(3))
    reveal_type(m.unpack_setup_packet(blob))
    reveal_type(m.unpack_encrypted_packet(blob))

    # refused
    m.get_chunk_size(b"abc")  # E
    m.get_chunk_size_min(a, 4.0)  # E
    m.involute_packet(a, bytearray(b"salt"), 4)  # E
    m.cond_involute_packet(a, a, 4, 1.0, 2, 0.5)  # E
    m.cond_involute_packet(a, a, 4, 1, 2, "0.5")  # E
    m.gen_key(1, "purpose", seed)  # E
    m.map_data(a, a, 0, "ab")  # E
    m.map_data(a, a, 0, [b"ab"])  # E
    m.inv_data(a, a, [a])  # E
    m.package_blob(1.5)  # E
    m.package_blob(None)  # E
    m.package_blob(x=1)  # E
    m.unpack_setup_packet(bytearray(8))  # E
    m.unpack_encrypted_packet(data="x")  # E
    m.prep_condition("-1.0", 1.0, a)  # E
    x: str = m.get_chunk_size(a)  # E (types only)
    """
)


@pytest.fixture(scope="module")
def mypy_output(tmp_path_factory):
    workdir = tmp_path_factory.mktemp("user_script")
    (workdir / "user_script.py").write_text(SCRIPT)
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary",
         "--cache-dir", str(workdir / "cache"), "user_script.py"],
        cwd=workdir, capture_output=True, text=True, timeout=300,
    )
    return run.stdout + run.stderr


def test_accepted_calls_pass_and_refused_calls_are_flagged(mypy_output):
    lines = SCRIPT.splitlines()
    expected = {i + 1 for i, line in enumerate(lines) if "# E" in line}
    flagged = {int(n) for n in re.findall(r"^user_script\.py:(\d+): error:", mypy_output, re.M)}
    assert flagged == expected, mypy_output


@pytest.mark.parametrize(
    "call, shape",
    [
        ("unpack_setup_packet", "tuple[bytes, bytes, str, int]"),
        ("unpack_encrypted_packet", "tuple[bytes, bytes, bytes, str, int]"),
    ],
)
def test_readers_return_tuples_of_their_fields(mypy_output, call, shape):
    line = next(i + 1 for i, text in enumerate(SCRIPT.splitlines()) if f"m.{call}(blob)" in text)
    assert f'user_script.py:{line}: note: Revealed type is "{shape}"' in mypy_output


def test_what_the_stubs_accept_runs_and_what_they_refuse_raises():
    accepted, refused = SCRIPT.split("# refused")
    namespace = {"reveal_type": lambda value: value}
    exec(accepted, namespace)
    for line in refused.strip().splitlines():
        if line.endswith("# E"):
            with pytest.raises(TypeError):
                exec(line, dict(namespace))
