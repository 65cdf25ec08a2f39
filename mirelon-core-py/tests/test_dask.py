"""examples/dask_mapping.py maps and restores blocks of positions on a Dask
cluster of worker processes and compares them with single calls; it exits
non-zero when they differ. It runs in a child interpreter, so that no thread of
Dask's (an offload pool, the client's loop) outlives the test."""

import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("dask.array")
pytest.importorskip("dask.distributed")

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "dask_mapping.py"


def test_blocks_on_the_cluster_equal_single_calls():
    # 209715 positions in blocks of 52428: four whole blocks and a short one.
    done = subprocess.run([sys.executable, str(EXAMPLE), "0.2", "0.05"], capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr[-3000:]
    assert "in 5 blocks" in done.stdout and "NO" not in done.stdout, done.stdout
