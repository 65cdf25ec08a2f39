"""Times the module's functions next to the machine's own references, in one run.

Each configuration runs in a child interpreter with RAYON_NUM_THREADS=1 and =2,
so the worker pool has the size asked for. A child times, at every size, our
function and the references on the same bytes (a copy, a copy into fresh
memory, OpenSSL's bulk SHA-256 through hashlib, a plain read), taking the
median of several runs; the parent prints the figures, the ratios, the
speedup from one to two threads, and plots throughput against size.

    python bench/bench_module.py                 # 1, 16 and 64 MiB
    python bench/bench_module.py --quick         # 1 and 16 MiB, fewer runs
    python bench/bench_module.py --plot out.png  # where the plot goes
    python bench/bench_module.py --search-memory 256,4100  # peak memory of the search
    python bench/bench_module.py --memory fresh,kept

The chunk-size search is timed over fixed shapes beside a plain one-thread
C loop (bench/chunk_search_reference.c, built here with `cc -O2 -shared`)
on the same bytes; packets crafted to collide under an unkeyed mix are timed
against a random packet of the same size.

With --memory kept, the children run with the host allocator told to keep
freed memory (MALLOC_TRIM_THRESHOLD_ and MALLOC_MMAP_THRESHOLD_ at 1e9), so
results reuse pages instead of getting fresh ones from the operating system,
whose clearing is then left out. The module itself never changes these.

The bound of an involution is the lower bound for this kind of machine
(2 cores with SHA-NI) scaled by this run's SHA-256 speed against 1.72 GB/s.
"""

from __future__ import annotations

import argparse
import ctypes
import hashlib
import json
import mmap
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

MiB = 1 << 20
SALT_LEN = 16

# Lower bounds per 16 MiB for the involution at 1.72 GB/s of SHA-256, on one
# and on two threads, by chunk size. They grow linearly with size.
INVOLUTE_BOUND_MS = {16: (68.0, 39.0), 64: (28.0, 15.0), 4096: (17.0, 11.0)}
REFERENCE_SHA_GBPS = 1.72
# Small calls: bounds in microseconds on one thread.
SMALL_BOUND_US = {"prep_condition": 12.0, "cond_hash_branch": 6.0, "gen_key": 3.1}


# The clock the child times with: wall time, or with --clock cpu the process's
# CPU time, which on a machine busy with other work leaves out the time spent
# waiting for a core (meaningful for one thread only).
clock = time.perf_counter


def median_time(fn, repeat, min_time=0.0):
    """Median seconds of `repeat` calls (after one warm-up), calling more often
    for calls shorter than `min_time`."""
    fn()
    times = []
    for _ in range(repeat):
        start = clock()
        fn()
        times.append(clock() - start)
    if min_time and statistics.median(times) < min_time:
        loops = max(1, int(min_time / max(statistics.median(times), 1e-9)))
        times = []
        for _ in range(repeat):
            start = clock()
            for _ in range(loops):
                fn()
            times.append((clock() - start) / loops)
    return statistics.median(times)


def fresh_copy(raw):
    """One copy of `raw` into fresh memory advised for huge pages."""
    flags = mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS
    with mmap.mmap(-1, len(raw), flags=flags) as fresh:
        if hasattr(mmap, "MADV_HUGEPAGE"):
            fresh.madvise(mmap.MADV_HUGEPAGE)
        fresh[:] = raw


def distinct_packet(np, size, chunk):
    """Random bytes with a counter in every chunk, so all chunks differ."""
    rng = np.random.default_rng(42)
    packet = rng.integers(0, 256, size, dtype=np.uint8)
    count = size // chunk
    if chunk >= 4:
        view = packet[: count * chunk].reshape(count, chunk)
        view[:, :4] = np.arange(count, dtype=">u4").view(np.uint8).reshape(count, 4)
    return packet


def reference_search():
    """The C loop of bench/chunk_search_reference.c, built into a temporary
    directory: (packet, min_size) -> chunk size."""
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "chunk_search_reference.c")
    library = os.path.join(tempfile.mkdtemp(prefix="chunk-search-"), "reference.so")
    subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", library, source], check=True)
    search = ctypes.CDLL(library).reference_chunk_size
    search.restype = ctypes.c_uint64
    search.argtypes = [ctypes.c_void_p, ctypes.c_uint64, ctypes.c_uint64]
    return lambda packet, min_size: search(packet.ctypes.data, packet.size, min_size)


MIX = 0x9E3779B97F4A7C15


def colliding_chunks(np, count, mix):
    """16-byte chunks, all distinct, that all reach slot 0 of any power-of-two
    table under `mix` = the C loop's unkeyed multiply-xorshift over two
    words: the second word of chunk j is solved so that the final hash is j << 40."""
    u64 = np.uint64

    def step(h, word):
        h = (h ^ word) * u64(mix)
        return h ^ (h >> u64(32))

    with np.errstate(over="ignore"):
        first = np.arange(count, dtype=np.uint64)
        h1 = step(np.full(count, 16, dtype=np.uint64), first)
        target = first << u64(40)
        h2 = target ^ (target >> u64(32))  # x ^ (x >> 32) is its own inverse
        inverse = pow(mix, -1, 1 << 64)
        second = h1 ^ (h2 * u64(inverse))
    return np.stack([first, second], axis=1).view(np.uint8).ravel()


def search_shapes(np):
    """(label, packet, min_size) for the chunk-size search."""
    rng = np.random.default_rng(5)
    rand_1m = rng.integers(0, 256, MiB, dtype=np.uint8)
    rand_16m = rng.integers(0, 256, 16 * MiB, dtype=np.uint8)
    counter = np.arange(MiB // 8, dtype=np.int64).view(np.uint8)
    odd = rng.integers(0, 256, 720720, dtype=np.uint8)  # 240 divisors
    signal = np.sin(np.arange(MiB // 4) / 2000.0) * 20 + np.cumsum(rng.normal(0, 0.01, MiB // 4))
    readings = np.round(signal, 2).astype(np.float32).view(np.uint8)
    shapes = []
    for min_size in (4, 16):
        shapes += [(f"random 1M min={min_size}", rand_1m, min_size),
                   (f"int64 counter 1M min={min_size}", counter, min_size),
                   (f"random 720720 B min={min_size}", odd, min_size),
                   (f"random 16M min={min_size}", rand_16m, min_size),
                   (f"float32 readings 1M min={min_size}", readings, min_size)]
    # Chunks of 8 zero bytes and a counter collide under the multiply-mix
    # without its key; the others under the C loop's hash.
    zeros_counter = np.zeros((MiB, 2), dtype=np.uint64)
    zeros_counter[:, 1] = np.arange(MiB)
    crafted = [("crafted, unkeyed mix 16M min=16", zeros_counter.view(np.uint8).ravel()),
               ("crafted, C loop hash 16M min=16", colliding_chunks(np, MiB, MIX))]
    return shapes, crafted, rand_16m


def time_search(np, m, repeat, record):
    reference = reference_search()
    shapes, crafted, rand_16m = search_shapes(np)
    for label, packet, min_size in shapes:
        ours = m.get_chunk_size_min(packet, min_size)
        theirs = reference(packet, min_size)
        assert ours == theirs, (label, ours, theirs)
        ref_time = median_time(lambda: reference(packet, min_size), repeat)
        record("search", f"search {label}", packet.size,
               lambda: median_time(lambda: m.get_chunk_size_min(packet, min_size), repeat),
               reference=ref_time, result=int(ours))
    random_time = median_time(lambda: m.get_chunk_size_min(rand_16m, 16), repeat)
    for label, packet in crafted:
        record("search", f"search {label}", packet.size,
               lambda: median_time(lambda: m.get_chunk_size_min(packet, 16), repeat),
               reference=random_time, result=int(m.get_chunk_size_min(packet, 16)))


def search_memory(mib):
    """Runs in a child: one search over a random packet of `mib` MiB; prints
    its time and how far the peak resident size grew past the packet's."""
    import numpy as np

    import mirelon_core_py as m

    packet = np.random.default_rng(9).integers(0, 256, mib * MiB, dtype=np.uint8)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    start = time.perf_counter()
    chunk = m.get_chunk_size(packet)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(json.dumps(dict(mib=mib, chunk=chunk, seconds=seconds, growth=peak - before)))


def child(sizes, repeat, only=""):
    """Runs in the child interpreter: prints one JSON document of timings."""
    import numpy as np

    import mirelon_core_py as m

    results = []

    def record(group, name, size, measure, **extra):
        # References always run: ratios need them.
        if group == "reference" or name == "call floor" or only in name:
            results.append(dict(group=group, name=name, size=size, seconds=measure(), **extra))

    salt = np.frombuffer(bytes(range(SALT_LEN)), dtype=np.uint8)
    for size in sizes:
        buf = np.random.default_rng(1).integers(0, 256, size, dtype=np.uint8)
        raw = buf.tobytes()
        dst = np.empty_like(buf)
        words = buf.view(np.uint64)
        record("reference", "memcpy", size,
               lambda: median_time(lambda: np.copyto(dst, buf), repeat))
        record("reference", "copy into fresh memory", size,
               lambda: median_time(lambda: fresh_copy(raw), repeat))
        record("reference", "sha256 (hashlib)", size,
               lambda: median_time(lambda: hashlib.sha256(raw).digest(), repeat))
        record("reference", "read", size,
               lambda: median_time(lambda: np.bitwise_or.reduce(words), repeat))

        for chunk in (16, 64, 4096):
            packet = distinct_packet(np, size, chunk)
            record("involution", f"involute_packet c={chunk}", size,
                   lambda: median_time(lambda: m.involute_packet(packet, salt, chunk), repeat),
                   chunk=chunk)
        packet = distinct_packet(np, size, 64)
        low, high = m.prep_condition(-1.0, 1.0, salt)
        record("involution", "cond_involute_packet c=64", size,
               lambda: median_time(lambda: m.cond_involute_packet(packet, salt, 64, low, high, 0.5),
                           repeat), chunk=64)
        old_key = np.arange(256, dtype=np.uint8)
        new_key = old_key[::-1].copy()
        record("involution", "cycle_packet c=64", size,
               lambda: median_time(lambda: m.cycle_packet(packet, salt, salt[::-1].copy(), old_key,
                                                  new_key, 64), repeat), chunk=64, cycle=True)

        rng = np.random.default_rng(7)
        pub = rng.integers(0, 256, 256, dtype=np.uint8)
        for n in (3, 16):
            keys = [rng.permutation(256).astype(np.uint8) for _ in range(n)]
            data = [rng.integers(0, 256, size, dtype=np.uint8) for _ in range(n)]
            mapped = [np.frombuffer(m.map_data(pub, keys[j], j, data), dtype=np.uint8)
                      for j in range(n)]
            # The bounds' speeds for the whole working set: n sequences of
            # 16 MiB and their results do not stay in the cache the way one
            # sequence and its copy do, so the references of a single
            # sequence understate the time of n of them. Each reference is
            # timed just before the function it bounds; timing them in turn,
            # call by call, would charge the function for the dirty cache
            # lines the copy leaves behind.
            if only in f"map_data n={n}":
                record("reference", f"read n={n}", size, lambda: median_time(
                    lambda: [np.bitwise_or.reduce(d.view(np.uint64)) for d in mapped], repeat))
                record("mapping", f"map_data n={n}", size, lambda: median_time(
                    lambda: m.map_data(pub, keys[-1], n - 1, data), repeat), n=n)
            if only in f"inv_data n={n}":
                copies = [np.ones_like(d) for d in mapped]
                record("reference", f"memcpy n={n}", size, lambda: median_time(
                    lambda: [np.copyto(c, d) for c, d in zip(copies, mapped)], repeat))
                del copies
                record("mapping", f"inv_data n={n}", size,
                       lambda: median_time(lambda: m.inv_data(pub, keys, mapped), repeat), n=n)

        blob = m.package_blob(pub, raw, "mode", 2)
        record("blob", "package_blob", size,
               lambda: median_time(lambda: m.package_blob(pub, raw, "mode", 2), repeat))
        record("blob", "unpack_setup_packet", size,
               lambda: median_time(lambda: m.unpack_setup_packet(blob), repeat))
        blob = m.package_blob(pub, pub, raw, "mode", 2)
        record("blob", "unpack_encrypted_packet", size,
               lambda: median_time(lambda: m.unpack_encrypted_packet(blob), repeat))

    time_search(np, m, repeat, record)

    small = max(repeat, 7)
    seed = np.frombuffer(bytes(range(32)), dtype=np.uint8)
    eight = np.frombuffer(b"abcdefgh", dtype=np.uint8)
    k4 = np.frombuffer(bytes(4), dtype=np.uint8)
    setup = m.package_blob(np.zeros(4, np.uint8), b"\x01\x02\x03\x04", "m", 1)
    # The call floor: a builtin of the same calling convention (positional
    # tuple and keyword dict) that does nothing with its arguments.
    try:
        import _testcapi  # type: ignore[import-not-found]

        floor_fn = _testcapi.meth_varargs_keywords
    except (ImportError, AttributeError):
        floor_fn = max  # takes *args and **kwargs as well; one element to scan
    floor = median_time(lambda: floor_fn((1,)), small, 0.05)
    record("small", "call floor", 0, lambda: floor)
    record("small", "get_chunk_size (8 bytes)", 0,
           lambda: median_time(lambda: m.get_chunk_size(eight), small, 0.05))
    record("small", "package_blob (4 small fields)", 0,
           lambda: median_time(lambda: m.package_blob(k4, b"abcd", "mode", 3), small, 0.05))
    record("small", "unpack_setup_packet (52 bytes)", 0,
           lambda: median_time(lambda: m.unpack_setup_packet(setup), small, 0.05))
    record("small", "prep_condition", 0,
           lambda: median_time(lambda: m.prep_condition(-1.0, 1.0, salt), small, 0.05))
    record("small", "cond_hash_branch", 0,
           lambda: median_time(lambda: m.cond_hash_branch(1, 2**63, 0.5, salt), small, 0.05))
    record("small", "gen_key", 0,
           lambda: median_time(lambda: m.gen_key("party", "purpose", seed), small, 0.05))
    json.dump(results, sys.stdout)


# The environment of each --memory variant's children.
MEMORY_ENV = {
    "fresh": {},
    "kept": {"MALLOC_TRIM_THRESHOLD_": "1000000000", "MALLOC_MMAP_THRESHOLD_": "1000000000"},
}


def run_child(threads, sizes, repeat, only, clock_name, memory="fresh"):
    # Only the pool's threads: NumPy's BLAS threads would otherwise spin on
    # the cores being measured.
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads), OPENBLAS_NUM_THREADS="1",
               OMP_NUM_THREADS="1", MKL_NUM_THREADS="1", **MEMORY_ENV[memory])
    out = subprocess.run([sys.executable, __file__, "--child", "--sizes",
                          ",".join(str(s // MiB) for s in sizes), "--repeat", str(repeat),
                          "--only", only, "--clock", clock_name],
                         env=env, check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def lookup(rows, name, size):
    for r in rows:
        if r["name"] == name and r["size"] == size:
            return r["seconds"]
    return None


def bound(row, rows, threads):
    """The row's bound in seconds, from references measured in the same child."""
    size = row["size"]
    if row["group"] == "involution":
        sha = lookup(rows, "sha256 (hashlib)", size)
        speed = size / sha / 1e9
        ms = INVOLUTE_BOUND_MS[row["chunk"]][threads - 1] * size / (16 * MiB)
        scaled = ms / 1e3 * REFERENCE_SHA_GBPS / speed
        return scaled * (2 if row.get("cycle") else 1)
    if row["group"] == "mapping":
        return mapping_bound(row, rows, threads)
    if row["group"] == "blob":
        return lookup(rows, "copy into fresh memory", size)
    if row["group"] == "search":
        # The C loop on the same bytes; for crafted packets, a random one.
        return row["reference"]
    if row["group"] == "small":
        if row["name"] in SMALL_BOUND_US:
            return SMALL_BOUND_US[row["name"]] / 1e6
        if row["name"] != "call floor":
            return lookup(rows, "call floor", 0) * 2.5
    return None


def describe(seconds):
    if seconds >= 1e-3:
        return f"{seconds * 1e3:9.2f} ms"
    return f"{seconds * 1e6:9.2f} us"


def mapping_bound(row, rows, threads, whole_set=True):
    """The memory-bound kernel: read n sequences, write one (map_data) or n.
    Reading and writing n sequences as fast as n of them at once are read or
    copied in this child; map_data's one result reuses memory that is still
    in cache, so its write costs what one sequence's does. Without
    `whole_set`, from one sequence's references times n, which stay in the
    cache where n sequences do not (shown beside the bound)."""
    n, size = row["n"], row["size"]
    read, copy = lookup(rows, "read", size), lookup(rows, "memcpy", size)
    read_all = whole_set and lookup(rows, f"read n={n}", size) or n * read
    copy_all = whole_set and lookup(rows, f"memcpy n={n}", size) or n * copy
    if row["name"].startswith("map_data"):
        return (read_all + copy - read) / threads
    return copy_all / threads


def report(by_threads):
    print(f"{'function':40} {'size':>6} {'threads':>7} {'time':>12} {'bound':>12} {'ratio':>6}")
    print("(search rows: the bound is the plain C loop; for crafted packets, a random packet;")
    print(" mapping rows: beside, the bound from one sequence's references times n)")
    for threads, rows in by_threads.items():
        for row in rows:
            b = bound(row, rows, threads)
            size = f"{row['size'] // MiB}M" if row["size"] else "-"
            ratio = f"{row['seconds'] / b:6.2f}" if b else "     -"
            bound_text = describe(b) if b else " " * 12
            beside = ""
            if row["group"] == "mapping":
                single = mapping_bound(row, rows, threads, whole_set=False)
                beside = f"   {describe(single)} {row['seconds'] / single:6.2f}"
            print(f"{row['name']:40} {size:>6} {threads:>7} {describe(row['seconds'])} "
                  f"{bound_text} {ratio}{beside}")
    for threads, rows in by_threads.items():
        lo = lookup(rows, "search random 1M min=16", MiB)
        hi = lookup(rows, "search random 16M min=16", 16 * MiB)
        if lo and hi:
            print(f"\nsearch, random 16 MiB / 1 MiB (min=16), {threads} thread(s): {hi / lo:5.1f}")
        lo = lookup(rows, "search random 1M min=4", MiB)
        hi = lookup(rows, "search random 16M min=4", 16 * MiB)
        if lo and hi:
            print(f"search, random 16 MiB / 1 MiB (min=4), {threads} thread(s): {hi / lo:5.1f}")
    if 1 in by_threads and 2 in by_threads:
        print("\nspeedup from 1 to 2 threads")
        for row in by_threads[1]:
            if row["group"] in ("reference", "small"):
                continue
            two = lookup(by_threads[2], row["name"], row["size"])
            print(f"  {row['name']:34} {row['size'] // MiB:>4}M  {row['seconds'] / two:5.2f}")
        sizes = sorted({r["size"] for r in by_threads[1] if r["size"] and r["group"] != "search"})
        if len(sizes) > 1:
            lo, hi = sizes[0], sizes[-1]
            print(f"\ntime at {hi // MiB} MiB / time at {lo // MiB} MiB (linear: {hi // lo})")
            for row in by_threads[1]:
                if row["size"] == lo and row["group"] not in ("reference", "small", "search"):
                    top = lookup(by_threads[1], row["name"], hi)
                    print(f"  {row['name']:34} {top / row['seconds']:7.1f}")


def plot(by_threads, path, kept=None):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    first = by_threads[min(by_threads)]
    names = [n for n in dict.fromkeys(r["name"] for r in first if r["size"])
             if not any(r["name"] == n and r["group"] in ("reference", "search") for r in first)]
    cols = 4
    count = len(names)
    fig, axes = plt.subplots((count + cols - 1) // cols, cols,
                             figsize=(4 * cols, 3.2 * ((count + cols - 1) // cols)), squeeze=False)
    for ax, name in zip(axes.flat, names):
        for threads, rows in by_threads.items():
            mine = [r for r in rows if r["name"] == name]
            sizes = [r["size"] / MiB for r in mine]
            style = "-" if threads == 1 else "--"
            ax.plot(sizes, [r["size"] / r["seconds"] / 1e9 for r in mine], "o" + style,
                    label=f"ours, {threads} thread(s)")
            ax.plot(sizes, [r["size"] / bound(r, rows, threads) / 1e9 for r in mine], "s" + style,
                    label=f"bound, {threads} thread(s)", alpha=0.6)
            kept_rows = [r for r in (kept or {}).get(threads, []) if r["name"] == name]
            if kept_rows:
                ax.plot([r["size"] / MiB for r in kept_rows],
                        [r["size"] / r["seconds"] / 1e9 for r in kept_rows], "x" + style,
                        label=f"ours, memory kept, {threads} thread(s)")
        group = next(r["group"] for r in first if r["name"] == name)
        ref = {"involution": "sha256 (hashlib)", "mapping": "memcpy",
               "blob": "copy into fresh memory"}[group]
        sizes = sorted({r["size"] for r in first if r["name"] == name})
        ax.plot([s / MiB for s in sizes], [s / lookup(first, ref, s) / 1e9 for s in sizes], "^:",
                label=ref)
        ax.set_xscale("log", base=2)
        ax.set_xlabel("MiB")
        ax.set_ylabel("GB/s")
        ax.set_title(name, fontsize=9)
        ax.legend(fontsize=6)
    for ax in list(axes.flat)[count:]:
        ax.axis("off")
    fig.suptitle("throughput against size (bound: lower bound for this machine, same run)")
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    print(f"\nplot: {path}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="1,16,64", help="sizes in MiB, comma-separated")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--threads", default="1,2")
    parser.add_argument("--quick", action="store_true", help="1 and 16 MiB, 3 runs")
    parser.add_argument("--plot", default="bench/throughput.png")
    parser.add_argument("--no-plot", action="store_true")
    parser.add_argument("--only", default="", help="time only functions whose label has this")
    parser.add_argument("--clock", choices=("wall", "cpu"), default="wall",
                        help="cpu: process CPU time, for one thread on a busy machine")
    parser.add_argument("--search-memory", default="",
                        help="MiB sizes (comma-separated) of random packets to search once "
                             "each, printing time and peak memory growth")
    parser.add_argument("--memory", default="fresh",
                        help="fresh, kept or both (comma-separated): kept runs the children with "
                             "the allocator keeping freed memory")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.quick:
        args.sizes, args.repeat = "1,16", 3
    sizes = [int(s) * MiB for s in args.sizes.split(",")]
    if args.search_memory:
        for mib in map(int, args.search_memory.split(",")):
            if args.child:
                search_memory(mib)
                return
            out = subprocess.run([sys.executable, __file__, "--child", "--search-memory",
                                  str(mib)], check=True, capture_output=True, text=True)
            r = json.loads(out.stdout)
            print(f"search, random {mib} MiB: chunk {r['chunk']}, {r['seconds']:.2f} s, "
                  f"peak memory growth {r['growth'] / MiB:.0f} MiB "
                  f"({r['growth'] / (mib * MiB):.2f} x the packet)")
        return
    if args.child:
        global clock
        if args.clock == "cpu":
            clock = time.process_time
        child(sizes, args.repeat, args.only)
        return
    variants = args.memory.split(",")
    for memory in variants:
        if memory not in MEMORY_ENV:
            parser.error(f"--memory: unknown variant {memory!r}")
    by_memory = {memory: {t: run_child(t, sizes, args.repeat, args.only, args.clock, memory)
                          for t in map(int, args.threads.split(","))}
                 for memory in variants}
    for memory, by_threads in by_memory.items():
        if len(by_memory) > 1:
            print(f"\n== memory: {memory} ==")
        report(by_threads)
    if not args.no_plot:
        first = next(iter(by_memory))
        plot(by_memory[first], args.plot, by_memory.get("kept") if first != "kept" else None)


if __name__ == "__main__":
    main()
