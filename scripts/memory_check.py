"""Peak memory of each function beyond its own result, as a multiple of its input.

Every call runs in a fresh interpreter: the inputs are made and touched first,
the peak resident size is reset, the function is called and its result kept
alive, and the growth of the peak past the resident size before the call,
less the result's bytes, is what the call needed besides. Prints one table
row per call and exits non-zero when a figure exceeds its limit:

- an involution at most 3x its packet at 4-byte chunks (and at every larger
  chunk size);
- key cycling at most what the involution needs at the same chunk size;
- the chunk search at most 2x its packet;
- mapping, inverse mapping and blobs small (0.1x).

    python scripts/memory_check.py            # 64 MiB inputs
    python scripts/memory_check.py --mib 256  # another size
    RAYON_NUM_THREADS=1 python scripts/memory_check.py
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import time

MiB = 1 << 20
CHUNKS = (4, 16, 64, 4096)
# Page-granular resident sizes and the interpreter's own allocations blur the
# figures by a little; a limit is exceeded only beyond this.
SLACK = 0.01
SMALL = 0.1


def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(field)


def distinct_packet(np, size, c, seed):
    """`size` bytes of pairwise distinct chunks of `c` bytes: a chunk's first
    four bytes are its index scrambled by an odd multiplier (a bijection on
    32-bit values), the rest random."""
    count = size // c
    rng = np.random.default_rng(seed)
    chunks = rng.integers(0, 256, (count, c), dtype=np.uint8)
    index = (np.arange(count, dtype=np.uint64) * 0x9E3779B1 % (1 << 32)).astype("<u4")
    chunks[:, :4] = index.view(np.uint8).reshape(count, 4)
    return chunks.ravel()


def inputs(np, m, name, c, size):
    """(args, input bytes) of one call."""
    rng = np.random.default_rng(7)
    salt, salt2 = rng.bytes(16), rng.bytes(16)
    salt, salt2 = np.frombuffer(salt, np.uint8), np.frombuffer(salt2, np.uint8)
    keys = [rng.permutation(256).astype(np.uint8) for _ in range(4)]
    if name in ("involute_packet", "cycle_packet", "cond_involute_packet"):
        packet = distinct_packet(np, size, c, c)
        if name == "involute_packet":
            return (packet, salt, c), size
        if name == "cond_involute_packet":
            low, high = m.prep_condition(-1.0, 1.0, salt)
            return (packet, salt, c, low, high, 0.5), size
        return (packet, salt, salt2, keys[0], keys[1], c), size
    if name == "get_chunk_size":
        packet = rng.integers(0, 256, size, dtype=np.uint8)
        return (packet,), size
    if name == "get_chunk_size_min":
        # Distinct 4-byte chunks: every chunk goes through the table.
        return (distinct_packet(np, size, 4, 4), 3), size
    seqs = [rng.integers(0, 256, size // 3, dtype=np.uint8) for _ in range(3)]
    if name == "map_data":
        return (keys[3], keys[1], 1, seqs), size // 3 * 3
    if name == "inv_data":
        mapped = [np.frombuffer(m.map_data(keys[3], k, j, seqs), np.uint8)
                  for j, k in enumerate(keys[:3])]
        return (keys[3], keys[:3], mapped), sum(a.size for a in mapped)
    packet = seqs[0]
    if name == "package_blob":
        return (keys[3], keys[0], packet, "mode", 7), packet.size
    if name == "unpack_setup_packet":
        return (m.package_blob(keys[3], packet, "mode", 7),), packet.size
    return (m.package_blob(keys[3], keys[0], packet, "mode", 7),), packet.size


def result_bytes(value):
    if isinstance(value, (bytes, bytearray)):
        return len(value)
    if isinstance(value, (list, tuple)):
        return sum(result_bytes(v) for v in value)
    return 0


def child(name, c, size):
    import numpy as np

    import mirelon_core_py as m

    args, input_size = inputs(np, m, name, c, size)
    # The worker pool and the libraries start on a small call first, so that
    # what they keep for the process is not counted.
    m.involute_packet(distinct_packet(np, 1 << 16, 4, 0), np.zeros(16, np.uint8), 4)
    before = status("VmRSS")
    # Writing 5 to clear_refs resets the peak resident size to the current one.
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    start = time.perf_counter()
    result = getattr(m, name)(*args)
    seconds = time.perf_counter() - start
    extra = status("VmHWM") - before - result_bytes(result)
    print(json.dumps(dict(extra=extra / input_size, seconds=seconds)))


def run(name, c, size):
    out = subprocess.run([sys.executable, __file__, "--child", name, str(c), str(size)],
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mib", type=int, default=64)
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        name, c, size = args.child
        return child(name, int(c), int(size))
    size = args.mib * MiB
    failures = []
    print(f"peak memory beyond the result, x the input ({args.mib} MiB)")

    def check(label, name, c, limit):
        r = run(name, c, size)
        verdict = "ok" if r["extra"] <= limit + SLACK else "OVER"
        print(f"  {label:<44} {r['extra']:6.3f}x  (limit {limit:.3f}x, {r['seconds']:.2f} s) {verdict}")
        if verdict != "ok":
            failures.append(label)
        return r["extra"]

    for c in CHUNKS:
        involute = check(f"involute_packet, {c}-byte chunks", "involute_packet", c, 3.0)
        check(f"cycle_packet, {c}-byte chunks", "cycle_packet", c, involute)
    check("cond_involute_packet, 4-byte chunks", "cond_involute_packet", 4, 3.0)
    check("get_chunk_size (random packet)", "get_chunk_size", 0, 2.0)
    check("get_chunk_size_min (distinct 4-byte chunks)", "get_chunk_size_min", 0, 2.0)
    for name in ("map_data", "inv_data", "package_blob", "unpack_setup_packet",
                 "unpack_encrypted_packet"):
        check(name, name, 0, SMALL)
    if failures:
        print("over the limit: " + ", ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
