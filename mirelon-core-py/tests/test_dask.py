"""map_data and inv_data over blocks of positions on a Dask cluster of worker
processes (examples/dask_mapping.py) give the same bytes as single calls."""

import pathlib

import numpy as np
import pytest

pytest.importorskip("dask.array")
pytest.importorskip("dask.distributed")

import mirelon_core_py as m  # noqa: E402

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture(scope="module")
def example(tmp_path_factory):
    # The workers are fresh processes that import the block functions by
    # module name, so the examples directory goes on the path they inherit.
    with pytest.MonkeyPatch.context() as patch:
        patch.syspath_prepend(str(EXAMPLES))
        import dask_mapping

        yield dask_mapping


@pytest.fixture(scope="module")
def client(example):
    from dask.distributed import Client

    with example.local_cluster() as cluster, Client(cluster) as client:
        yield client


def keys(parties):
    seed = np.frombuffer(bytes(range(32)), dtype=np.uint8)
    pub_key = m.gen_key("group", "public", seed)
    return pub_key, [m.gen_key(f"party {j}", "private", seed) for j in range(parties)]


@pytest.mark.parametrize(
    "parties, positions, block",
    [(3, 200_003, 65_536), (2, 1_000, 999), (5, 4_096, 4_096)],
    ids=["uneven last block", "two blocks", "one block"],
)
def test_blocks_on_the_cluster_equal_single_calls(example, client, parties, positions, block):
    import dask.array as da

    rng = np.random.default_rng(positions)
    data = rng.integers(0, 256, (parties, positions), dtype=np.uint8)
    pub_key, priv_keys = keys(parties)
    stacked = da.from_array(data, chunks=(parties, block))

    data_back, mapped, restored = example.map_and_restore(client, stacked, pub_key, priv_keys)

    u8 = example.u8
    rows = list(data)
    single = [m.map_data(u8(pub_key), u8(k), j, rows) for j, k in enumerate(priv_keys)]
    assert data_back.tobytes() == data.tobytes()
    assert [row.tobytes() for row in mapped] == single
    assert [row.tobytes() for row in restored] == m.inv_data(
        u8(pub_key), [u8(k) for k in priv_keys], [u8(s) for s in single]
    )
    assert restored.tobytes() == data.tobytes()
    assert client.scheduler_info()["workers"], "the cluster has worker processes"
