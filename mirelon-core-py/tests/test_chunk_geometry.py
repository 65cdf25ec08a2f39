import functools

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py as m
from conftest import u8


def model_chunk_size(packet, min_size):
    """The smallest divisor from min_size to half the length with distinct chunks, else the length."""
    n = len(packet)
    for c in range(min_size, n // 2 + 1):
        chunks = [packet[i : i + c] for i in range(0, n, c)]
        if n % c == 0 and len(set(chunks)) == len(chunks):
            return c
    return n


@settings(max_examples=300, deadline=None)
# Bytes from a two-letter alphabet make repeated chunks common.
@given(st.binary(max_size=200) | st.lists(st.integers(0, 1), max_size=96).map(bytes), st.integers(1, 40))
def test_matches_the_search_model(packet, min_size):
    assert m.get_chunk_size_min(u8(packet), min_size) == model_chunk_size(packet, min_size)
    assert m.get_chunk_size(u8(packet)) == model_chunk_size(packet, 4)


@functools.cache
def structured_packets():
    """(packet, min_size) pairs for the table's and the bitmaps' paths: more
    chunks than one worker takes alone (2^18), repeats only at the very end,
    many divisors, and distinct or repeating chunks of 1 to 3 bytes."""
    rng = np.random.default_rng(13)
    cases = []
    for size in (5, 8, 12, 16, 40):
        count = (1 << 18) + 1000
        chunks = rng.integers(0, 256, (count, size), dtype=np.uint8)
        chunks[:, :4] = np.arange(count, dtype=">u4").view(np.uint8).reshape(count, 4)
        cases.append((chunks.ravel().copy(), size))
        # The last chunk repeats the first, an early one, or one that the
        # other worker takes when two share the pass.
        chunks[-1] = chunks[{5: 7, 8: 0, 12: 1000, 16: 7, 40: -600}[size]]
        cases.append((chunks.ravel(), size))
    odd = rng.integers(0, 256, 720720, dtype=np.uint8)  # 240 divisors
    cases += [(odd, 1), (odd % 2, 4), (odd % 3, 12)]
    for width, count in ((1, 256), (2, 65536), (3, 100_000)):
        values = rng.choice(1 << (8 * width), count, replace=False).astype("<u4")
        packet = values.view(np.uint8).reshape(count, 4)[:, :width].copy()
        cases.append((packet.ravel().copy(), 1))
        packet[-1] = packet[count // 2]
        cases.append((packet.ravel(), 1))
    return cases, [model_chunk_size(packet.tobytes(), min_size) for packet, min_size in cases]


@pytest.mark.parametrize("threads", ["1", "2"])
def test_structured_packets_match_the_model(threads, run_python, tmp_path):
    cases, expected = structured_packets()
    np.savez(tmp_path / "cases.npz", *[packet for packet, _ in cases])
    script = f"""
        import numpy as np, mirelon_core_py as m
        packets = np.load({str(tmp_path / "cases.npz")!r})
        mins = {[min_size for _, min_size in cases]}
        print([m.get_chunk_size_min(packets[f"arr_{{i}}"], k) for i, k in enumerate(mins)])
    """
    done = run_python(script, env={"RAYON_NUM_THREADS": threads})
    assert done.returncode == 0, done.stderr[-3000:]
    assert done.stdout.strip() == str(expected)
