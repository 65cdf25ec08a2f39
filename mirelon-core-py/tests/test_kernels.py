"""The wide kernels (multi-message SHA-256, whole-chain data mapping) and the
portable ones they replace give the same bytes. Each kind runs in its own
interpreter, since the choice is made once per process; the environment
variable MIRELON_PORTABLE_KERNELS=1 keeps the portable kernels."""

import hashlib

import pytest

# Results of every function with a kernel choice, on inputs that reach every
# shape of crumb (no whole block, whole blocks and a tail, a long salt) and
# of mapping (every party count from 2 to 18, lengths that end mid-vector).
SCRIPT = r"""
import hashlib
import numpy as np
import mirelon_core_py as m

rng = np.random.default_rng(11)
digest = hashlib.sha256()
def add(value):
    for item in value if isinstance(value, list) else [value]:
        digest.update(len(item).to_bytes(8, "little") + item)

for chunk, count, salt_len in [(16, 5000, 16), (64, 3000, 16), (100, 700, 3), (4096, 40, 90)]:
    packet = rng.integers(0, 256, chunk * count, dtype=np.uint8)
    # A counter in every chunk keeps the chunks distinct.
    counter = np.arange(count, dtype=">u4").view(np.uint8).reshape(count, 4)
    packet.reshape(count, chunk)[:, :4] = counter
    salt = rng.integers(0, 256, salt_len, dtype=np.uint8)
    add(m.involute_packet(packet, salt, chunk))
    add(m.cond_involute_packet(packet, salt, chunk, 5, 2**63, 0.25))
    key = rng.permutation(256).astype(np.uint8)
    add(m.cycle_packet(packet, salt, salt[::-1].copy(), key, rng.permutation(key), chunk))

pub = rng.integers(0, 256, 256, dtype=np.uint8)
sizes = [(2, 4096 * 3 + 17), (3, 100_000), (16, 65 * 63)] + [(n, 333) for n in range(4, 19)]
for n, length in sizes:
    keys = [rng.permutation(256).astype(np.uint8) for _ in range(n)]
    data = [rng.integers(0, 256, length, dtype=np.uint8) for _ in range(n)]
    mapped = [np.frombuffer(m.map_data(pub, keys[j], j, data), np.uint8) for j in range(n)]
    add([a.tobytes() for a in mapped])
    add(m.inv_data(pub, keys, mapped))
print(digest.hexdigest())
"""


@pytest.mark.parametrize("threads", ["1", "2"])
def test_portable_and_wide_kernels_agree(threads, run_python):
    digests = {}
    for portable in ("0", "1"):
        env = {"MIRELON_PORTABLE_KERNELS": portable, "RAYON_NUM_THREADS": threads}
        done = run_python(SCRIPT, env=env, timeout=240)
        assert done.returncode == 0, done.stderr[-3000:]
        digests[portable] = done.stdout.strip()
    assert digests["0"] == digests["1"]
    assert len(digests["0"]) == len(hashlib.sha256().hexdigest())
