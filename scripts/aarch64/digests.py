"""Prints one line per case, "name sha256", for a fixed set of calls covering
every deterministic function of the installed module: several chunk sizes,
failing calls, range conditions, cycling, 2, 3 and 17 parties' mapping and its
inverse, blobs. Run on two machines, equal files mean byte-identical results,
error texts included.

Inputs come from Python's own seeded generator, which gives the same numbers
on every platform. gen_key draws fresh entropy, so only the fact that its keys
are permutations is compared here; the core's GoogleTest suite checks the
derivation from fixed entropy against known answers on each architecture.
"""

import hashlib
import random
import struct
import sys

import numpy as np

import mirelon_core_py as m


def u8(data):
    return np.frombuffer(bytes(data), dtype=np.uint8)


def rand_bytes(label, n):
    return u8(random.Random(label).randbytes(n))


def key(label):
    table = list(range(256))
    random.Random(label).shuffle(table)
    return u8(table)


def distinct_chunks(label, chunks, size):
    """A packet of `chunks` pairwise different chunks of `size` bytes."""
    values = random.Random(label).sample(range(1 << min(8 * size, 62)), chunks)
    return u8(b"".join(v.to_bytes(size, "little") for v in values))


def outcome(call, *args):
    """What a call gives back, or the type and text of what it raises."""
    try:
        return call(*args)
    except BaseException as error:  # noqa: BLE001 - the panic type is a BaseException
        return (type(error).__module__, type(error).__name__, *error.args)


def feed(digest, value):
    """Hashes a result: bytes as they are, everything else by its repr."""
    if isinstance(value, (list, tuple)):
        digest.update(f"{type(value).__name__}{len(value)}(".encode())
        for item in value:
            feed(digest, item)
        digest.update(b")")
    elif isinstance(value, bytes):
        digest.update(b"bytes%d:" % len(value) + value)
    else:
        digest.update(repr(value).encode() + b";")


def cases():
    salt, salt2 = rand_bytes("salt", 16), rand_bytes("salt2", 7)
    k1, k2 = key("k1"), key("k2")
    for size in [1, 2, 3, 4, 8, 16, 64, 100, 4096]:
        for chunks in [0, 1, 2, 3, 97, 1000]:
            if size * chunks > 1 << 20 or chunks > 256**size:
                continue
            packet = distinct_chunks(f"p{size}.{chunks}", chunks, size)
            name = f"{size}x{chunks}"
            yield f"involute_packet/{name}", m.involute_packet, packet, salt, size
            yield f"involute_packet/empty-salt/{name}", m.involute_packet, packet, u8(b""), size
            yield f"cycle_packet/{name}", m.cycle_packet, packet, salt, salt2, k1, k2, size
            yield f"get_chunk_size_min/{name}", m.get_chunk_size_min, packet, size
    for n in [0, 1, 5, 64, 1000, 4099, 1 << 16]:
        packet = rand_bytes(f"random{n}", n)
        yield f"get_chunk_size/random{n}", m.get_chunk_size, packet
        yield f"get_chunk_size/zeros{n}", m.get_chunk_size, u8(bytes(n))
        chunk = m.get_chunk_size(packet) if n else 0
        yield f"involute_packet/found-chunk/random{n}", m.involute_packet, packet, salt, chunk
        yield f"involute_packet/mismatch/random{n}", m.involute_packet, packet, salt, 3 if n % 3 else 7
        yield f"involute_packet/duplicates/random{n}", m.involute_packet, packet, salt, 1
        yield f"cycle_packet/duplicates/random{n}", m.cycle_packet, packet, salt, salt2, k1, k2, 1
    yield "cycle_packet/not-a-key", m.cycle_packet, distinct_chunks("c", 8, 4), salt, salt2, u8(bytes(256)), k2, 4
    yield "cycle_packet/short-key", m.cycle_packet, distinct_chunks("c", 8, 4), salt, salt2, k1, k2[:255], 4

    bounds = [(-1.0, 1.0), (0.0, 1e-30), (-3.5e38, 3.5e38), (1.0, -1.0), (float("-inf"), float("inf")),
              (float("nan"), 1.0), (-0.0, 0.0), (123456.789, 123456.79), (2**24, 2**24 + 2)]
    values = [0.0, -0.0, 0.5, 1.0, -1.0, 1e-31, 3e38, float("inf"), float("nan"), 123456.78, 2**24 + 1]
    packet = distinct_chunks("cond", 200, 8)
    for i, (low, high) in enumerate(bounds):
        yield f"prep_condition/{i}", m.prep_condition, low, high, salt
        prepared = outcome(m.prep_condition, low, high, salt)
        if not isinstance(prepared, tuple) or len(prepared) != 2 or isinstance(prepared[0], str):
            continue
        lo, hi = prepared
        for j, value in enumerate(values):
            yield f"cond_hash_branch/{i}.{j}", m.cond_hash_branch, lo, hi, value, salt
            yield f"cond_involute_packet/{i}.{j}", m.cond_involute_packet, packet, salt, 8, lo, hi, value
    yield "cond_involute_packet/mismatch", m.cond_involute_packet, packet[:-1], salt, 8, 0, 1, 0.5
    yield "cond_hash_branch/reversed", m.cond_hash_branch, 10, 1, 0.5, salt

    pub = key("public")
    for parties in [2, 3, 17]:
        keys = [key(f"private{parties}.{j}") for j in range(parties)]
        for length in [0, 1, 63, 4096 * 3 + 17, 1 << 17]:
            data = [rand_bytes(f"data{parties}.{length}.{j}", length) for j in range(parties)]
            mapped = []
            for j in range(parties):
                name = f"map_data/{parties}p/{length}/{j}"
                yield name, m.map_data, pub, keys[j], j, data
                mapped.append(u8(m.map_data(pub, keys[j], j, data)))
            yield f"inv_data/{parties}p/{length}", m.inv_data, pub, keys, mapped
            if length:
                garbled = [u8(bytes(length))] + mapped[1:]
                yield f"inv_data/garbled/{parties}p/{length}", m.inv_data, pub, keys, garbled
        data = [rand_bytes(f"uneven{parties}.{j}", 100 + (j == parties - 1)) for j in range(parties)]
        yield f"map_data/uneven/{parties}p", m.map_data, pub, keys[0], 0, data
        yield f"map_data/identity-out-of-range/{parties}p", m.map_data, pub, keys[0], parties, data
        yield f"inv_data/missing-key/{parties}p", m.inv_data, pub, keys[:-1], data

    fields = [k1, "mode", 7, 2**64 - 1, b"\x00\xff", bytearray(b"ab"), [1, 2, 3], "é", u8(b"")]
    for i in range(len(fields)):
        yield f"package_blob/{i}", m.package_blob, *fields[i:], *fields[:i]
    setup = m.package_blob(pub, packet, "mode", 7)
    encrypted = m.package_blob(pub, k1, packet, "mode", 2**64 - 1)
    for cut in [0, 1, 8, 9, 100, len(setup) - 1, len(setup)]:
        yield f"unpack_setup_packet/{cut}", m.unpack_setup_packet, setup[:cut]
        yield f"unpack_encrypted_packet/{cut}", m.unpack_encrypted_packet, encrypted[:cut]
    yield "unpack_encrypted_packet/whole", m.unpack_encrypted_packet, encrypted
    huge = setup[:0] + struct.pack("<Q", 2**64 - 1) + setup[8:]
    yield "unpack_setup_packet/huge-length", m.unpack_setup_packet, huge

    seeds = [bytes(32), bytes(range(32)), b"\xff" * 32]
    for i, seed in enumerate(seeds):
        for party, purpose in [("alice", "public"), ("", ""), ("partié", "clé")]:
            generated = outcome(m.gen_key, party, purpose, u8(seed))
            permutation = isinstance(generated, bytes) and sorted(generated) == list(range(256))
            yield f"gen_key/permutation/{i}/{party}", lambda p=permutation: p
    yield "gen_key/short-seed", m.gen_key, "a", "b", u8(bytes(31))


def main():
    lines = []
    for name, call, *args in cases():
        digest = hashlib.sha256()
        feed(digest, outcome(call, *args))
        lines.append(f"{name} {digest.hexdigest()}\n")
    sys.stdout.write("".join(lines))


if __name__ == "__main__":
    main()
