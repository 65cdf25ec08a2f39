# Several of Dask's functions carry no annotations; calling them is fine here.
# mypy: untyped-calls-exclude="dask,distributed"
"""map_data and inv_data spread over blocks of positions on a Dask cluster.

Every position of the parties' data is mapped and restored on its own: byte i
of each mapped sequence depends only on byte i of every party's data, and
byte i of each restored sequence only on byte i of every mapped sequence. So
the parties' data, stacked as one array of shape (parties, positions), can be
cut into blocks of positions, each block mapped or restored by one worker, and
the blocks joined again; the result is the same, byte for byte, as one call
over all positions.

Run it with the optional extra installed (`pip install 'mirelon-core-py[dask]'`):

    python examples/dask_mapping.py [MiB per party] [MiB per block]

It starts a LocalCluster of two worker processes on the loopback interface,
maps and restores the data there, and compares with single calls.
"""

from __future__ import annotations

import secrets
import sys
import time
from typing import List, Sequence, Tuple

import dask.array as da
import numpy as np
import numpy.typing as npt
from dask.distributed import Client, LocalCluster

import mirelon_core_py as m

ByteArray = npt.NDArray[np.uint8]


def u8(data: bytes) -> ByteArray:
    return np.frombuffer(data, dtype=np.uint8)


def map_block(block: ByteArray, pub_key: bytes, priv_keys: Sequence[bytes]) -> ByteArray:
    """One block of positions, shape (parties, block length): row j of the
    result is party j's mapped sequence over these positions."""
    rows = [np.ascontiguousarray(row) for row in block]
    mapped = [m.map_data(u8(pub_key), u8(key), j, rows) for j, key in enumerate(priv_keys)]
    return np.stack([u8(row) for row in mapped])


def inv_block(block: ByteArray, pub_key: bytes, priv_keys: Sequence[bytes]) -> ByteArray:
    """One block of mapped positions back to the parties' data over them."""
    rows = [np.ascontiguousarray(row) for row in block]
    restored = m.inv_data(u8(pub_key), [u8(key) for key in priv_keys], rows)
    return np.stack([u8(row) for row in restored])


def map_and_restore(
    client: Client, stacked: da.Array, pub_key: bytes, priv_keys: Sequence[bytes]
) -> Tuple[ByteArray, ByteArray, ByteArray]:
    """Maps the parties' data `stacked` (parties x positions, cut into blocks
    of positions) and restores it on `client`'s cluster; returns the data, the
    mapped sequences and the restored data, each as one array of that shape."""
    # `meta` gives the blocks' type up front: Dask would otherwise call the
    # function on an empty block to find it, and no parties is an error.
    meta = np.empty((0, 0), dtype=np.uint8)
    keys = list(priv_keys)
    mapped = da.map_blocks(map_block, stacked, pub_key=pub_key, priv_keys=keys, meta=meta)
    restored = da.map_blocks(inv_block, mapped, pub_key=pub_key, priv_keys=keys, meta=meta)
    results = client.compute([stacked, mapped, restored], sync=True)
    data_now, mapped_now, restored_now = (np.asarray(r, dtype=np.uint8) for r in results)
    return data_now, mapped_now, restored_now


def local_cluster() -> LocalCluster:
    """Two single-threaded worker processes on loopback, no dashboard."""
    return LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
        dashboard_address=None)


def main(argv: List[str]) -> int:
    mib = float(argv[1]) if len(argv) > 1 else 8.0
    block_mib = float(argv[2]) if len(argv) > 2 else 1.0
    positions, block = int(mib * (1 << 20)), max(1, int(block_mib * (1 << 20)))
    parties = ("north", "south", "east")

    seed = u8(secrets.token_bytes(32))
    pub_key = m.gen_key("group", "public", seed)
    priv_keys = [m.gen_key(party, "private", seed) for party in parties]
    # The data is made on the workers, block by block, as it would be read there.
    stacked = da.random.default_rng(7).integers(
        0, 256, (len(parties), positions), dtype=np.uint8, chunks=(len(parties), block))

    with local_cluster() as cluster, Client(cluster) as client:
        start = time.perf_counter()
        data, mapped, restored = map_and_restore(client, stacked, pub_key, priv_keys)
        cluster_s = time.perf_counter() - start
        workers = len(client.scheduler_info()["workers"])

    start = time.perf_counter()
    single = [m.map_data(u8(pub_key), u8(key), j, list(data)) for j, key in enumerate(priv_keys)]
    single_s = time.perf_counter() - start

    blocks = -(-positions // block)
    same = all(mapped[j].tobytes() == single[j] for j in range(len(parties)))
    back = bool(np.array_equal(restored, data))
    print(f"{len(parties)} parties x {positions} positions in {blocks} blocks of {block} "
          f"on {workers} worker processes")
    print(f"  make, map and restore on cluster: {cluster_s * 1e3:8.1f} ms")
    print(f"  map_data, single calls here:      {single_s * 1e3:8.1f} ms")
    print(f"  mapped blocks equal single calls: {'yes' if same else 'NO'}")
    print(f"  restored data equals the data:    {'yes' if back else 'NO'}")
    return 0 if same and back else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
