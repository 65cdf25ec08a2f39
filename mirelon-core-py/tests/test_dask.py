"""map_data and inv_data over blocks of positions on a Dask cluster of worker
processes (examples/dask_mapping.py) give the same bytes as single calls.

The cluster and its client run in a child interpreter: Dask keeps threads of
its own (an offload pool, the client's loop) after the cluster has closed,
and they must not run on beside the other tests."""

import pathlib

import pytest

pytest.importorskip("dask.array")
pytest.importorskip("dask.distributed")

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"

# (parties, positions, block): an uneven last block, two blocks, one block.
CASES = [(3, 200_003, 65_536), (2, 1_000, 999), (5, 4_096, 4_096)]

SCRIPT = r"""
import sys
sys.path.insert(0, EXAMPLES)
import dask.array as da
import numpy as np
from dask.distributed import Client
import dask_mapping as example
import mirelon_core_py as m

u8 = example.u8
seed = u8(bytes(range(32)))

# The workers are fresh processes that import the block functions by module
# name; the main guard keeps them from running this script.
if __name__ == "__main__":
    with example.local_cluster() as cluster, Client(cluster) as client:
        assert client.scheduler_info()["workers"], "the cluster has worker processes"
        for parties, positions, block in CASES:
            data = np.random.default_rng(positions).integers(0, 256, (parties, positions), dtype=np.uint8)
            pub_key = m.gen_key("group", "public", seed)
            priv_keys = [m.gen_key(f"party {j}", "private", seed) for j in range(parties)]
            stacked = da.from_array(data, chunks=(parties, block))
            data_back, mapped, restored = example.map_and_restore(client, stacked, pub_key, priv_keys)
            single = [m.map_data(u8(pub_key), u8(k), j, list(data)) for j, k in enumerate(priv_keys)]
            assert data_back.tobytes() == data.tobytes(), positions
            assert [row.tobytes() for row in mapped] == single, positions
            assert restored.tobytes() == data.tobytes(), positions
    print("ok")
"""


def test_blocks_on_the_cluster_equal_single_calls(run_python):
    settings = f"EXAMPLES = {str(EXAMPLES)!r}\nCASES = {CASES!r}\n"
    done = run_python(settings + SCRIPT, timeout=300)
    assert done.stdout.strip().splitlines()[-1:] == ["ok"], done.stderr[-3000:]
