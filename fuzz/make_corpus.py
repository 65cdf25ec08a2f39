"""Writes the full-size seed inputs of the fuzz harnesses into fuzz/corpus/.

Each harness reads its input through libFuzzer's FuzzedDataProvider, which
takes integers from the end of the input (most significant byte first, as
few bytes as the range needs) and byte strings from the front. Input builds
an input the same way, so every seed decodes to the values chosen here: inputs
up to the 4,096-byte limit, chunk sizes from 1 to 4,096 with distinct chunks
(so that the involution succeeds and its round trip is checked), 2 to 17
parties, and blobs whose fields fill the limit. Deterministic: running it again
rewrites the same files.

    python3 fuzz/make_corpus.py
"""

import random
import struct
from pathlib import Path

LIMIT = 4096
CORPUS = Path(__file__).resolve().parent / "corpus"


class Input:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order the harness consumes it

    def integer(self, low, high, value):
        span, offset, digits = high - low, 0, []
        value -= low
        while offset < 64 and span >> offset:
            digits.append((value >> offset) & 0xFF)
            offset += 8
        self.back += bytes(reversed(digits))
        return value + low

    def boolean(self, value):
        return self.integer(0, 255, int(value))

    def u64(self, value):
        return self.integer(0, 2**64 - 1, value)

    def bytes(self, data, most):
        self.integer(0, most, len(data))
        self.front += data

    def room(self):
        return LIMIT - len(self.front) - len(self.back)

    def finish(self, rest=b""):
        data = bytes(self.front + rest + bytes(reversed(self.back)))
        assert len(data) <= LIMIT, len(data)
        return data


def distinct_chunks(rng, c, count):
    seen, chunks = set(), []
    while len(chunks) < count:
        chunk = rng.randbytes(c)
        if chunk not in seen:
            seen.add(chunk)
            chunks.append(chunk)
    return b"".join(chunks)


def chunk_size(inp, c, small):
    """The harness's chunk size: a byte chooses a small one or any 64-bit one."""
    if c <= small:
        inp.boolean(True)
        inp.integer(0, small, c)
    else:
        inp.boolean(False)
        inp.u64(c)


def involute_seeds(rng):
    for c in (1, 2, 3, 4, 5, 8, 12, 16, 17, 24, 40, 63, 64, 65, 100, 128, 200, 1000, 2048, 4000):
        inp = Input()
        chunk_size(inp, c, 40)
        inp.bytes(rng.randbytes(rng.randrange(41)), 40)
        inp.u64(rng.randrange(2**63))  # low
        inp.u64(rng.randrange(2**63, 2**64))  # high
        inp.integer(0, 2**32 - 1, struct.unpack("<I", struct.pack("<f", rng.uniform(-1, 1)))[0])
        inp.integer(0, 2**32 - 1, struct.unpack("<I", struct.pack("<f", rng.uniform(-1, 1)))[0])
        count = min(inp.room() // c, 256 ** min(c, 3))
        yield f"full_c{c}", inp.finish(distinct_chunks(rng, c, count))


def shuffle_draws(inp, rng, length):
    for i in range(length, 1, -1):
        inp.integer(0, i - 1, rng.randrange(i))


def cycle_seeds(rng):
    for c in (1, 4, 7, 16, 24, 64, 100, 1024):
        inp = Input()
        chunk_size(inp, c, 24)
        inp.bytes(rng.randbytes(rng.randrange(25)), 24)
        inp.bytes(rng.randbytes(rng.randrange(25)), 24)
        inp.integer(0, 2, 0)  # two permutations of the byte values
        shuffle_draws(inp, rng, 256)
        shuffle_draws(inp, rng, 256)
        count = min(inp.room() // c, 256 ** min(c, 3))
        yield f"full_c{c}", inp.finish(distinct_chunks(rng, c, count))


def mapping_seeds(rng):
    for n in (2, 3, 5, 8, 12, 16, 17):
        inp = Input()
        inp.integer(0, 17, n)
        length = inp.integer(0, 2000, min(2000, (LIMIT - 400 - (256 * n if n < 8 else 9 * n)) // n))
        inp.integer(0, 15, 1)  # not ragged
        inp.boolean(True)
        inp.front += rng.randbytes(256)  # public key
        for _ in range(n):
            if n < 8:  # a permutation drawn swap by swap, else one from a seed
                inp.integer(0, 7, 2)
                shuffle_draws(inp, rng, 256)
            else:
                inp.integer(0, 7, 1)
                inp.u64(rng.randrange(2**64))
        inp.front += rng.randbytes(n * length)
        inp.u64(rng.randrange(n))  # identity of the extra call
        inp.boolean(True)  # as many keys as parties
        yield f"full_n{n}", inp.finish()


def blob(fields):
    body = b"".join(struct.pack("<Q", len(f)) + f for f in fields)
    return struct.pack("<Q", len(body)) + body


def blob_seeds(rng):
    mode, identity = "müde ✓".encode(), struct.pack("<Q", 7)
    key = bytes(rng.sample(range(256), 256))
    for fields, name in (([key], "setup"), ([key, key[::-1]], "encrypted")):
        room = LIMIT - 8 - 8 * (len(fields) + 3) - sum(map(len, fields)) - len(mode) - 8
        yield f"full_{name}", blob(fields + [rng.randbytes(room), mode, identity])


def main():
    rng = random.Random(26)
    for harness, seeds in (("involute", involute_seeds), ("cycle", cycle_seeds),
                           ("mapping", mapping_seeds), ("blob_reader", blob_seeds)):
        for name, data in seeds(rng):
            (CORPUS / harness / name).write_bytes(data)


if __name__ == "__main__":
    main()
