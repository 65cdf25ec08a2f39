"""A three-party session through every function of mirelon_core_py.

Three parties each hold a column of readings of the same length. One master
seed gives every party a private key and the group one shared public key. Each
party's data is mapped, packed into an encrypted packet, unpacked and restored;
one mapped packet is sealed by an involution, moved to a new salt and a rotated
private key, and opened again; a setup packet makes a round trip; and a packet
sealed under a range condition opens only for test values inside the range.

Prints one line per step with sizes and timings, and exits with status 1 if any
round trip does not give back the original bytes.
"""

from __future__ import annotations

import secrets
import sys
import time
from typing import Callable, List, TypeVar

import numpy as np
import numpy.typing as npt

import mirelon_core_py as m

ByteArray = npt.NDArray[np.uint8]
T = TypeVar("T")

PARTIES = ("clinic-north", "clinic-south", "lab-east")
POSITIONS = 1 << 20  # bytes per party
RANGE = (18.0, 25.0)  # the condition: a reading between 18.0 and 25.0, ends included
TESTS = (18.0, 21.5, 25.0, 17.9, 25.1, -3.0)


def u8(data: bytes) -> ByteArray:
    """A read-only uint8 view of `data`, the form every array parameter takes."""
    return np.frombuffer(data, dtype=np.uint8)


def readings(party: str, length: int, seed: int) -> ByteArray:
    """Text lines of sensor readings, `length` bytes of them."""
    rng = np.random.default_rng(seed)
    lines: List[str] = []
    size = 0
    row = 0
    while size < length:
        line = f"{party},{row},{rng.normal(21.0, 3.0):.2f},{rng.integers(0, 1000)}\n"
        lines.append(line)
        size += len(line)
        row += 1
    return u8("".join(lines).encode()[:length])


def size(n: int) -> str:
    for unit, scale in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= scale:
            return f"{n / scale:.1f} {unit}"
    return f"{n} B"


class Report:
    """Collects one line per step and every round trip's outcome."""

    def __init__(self) -> None:
        self.failures: List[str] = []
        self.checks = 0

    def timed(self, label: str, detail: Callable[[T], str], run: Callable[[], T]) -> T:
        start = time.perf_counter()
        result = run()
        ms = (time.perf_counter() - start) * 1e3
        print(f"  {label:<38} {detail(result):<28} {ms:8.2f} ms")
        return result

    def check(self, what: str, ok: bool) -> None:
        self.checks += 1
        print(f"  {'ok  ' if ok else 'FAIL'} {what}")
        if not ok:
            self.failures.append(what)


def session(report: Report) -> None:
    n = len(PARTIES)

    print("1. Keys from one master seed")
    seed = u8(secrets.token_bytes(32))
    pub_key = u8(report.timed("gen_key: public key", lambda k: f"{len(k)} B",
                              lambda: m.gen_key("group", "public", seed)))
    priv_keys = report.timed(
        f"gen_key: {n} private keys",
        lambda ks: f"{n} x {len(ks[0])} B",
        lambda: [u8(m.gen_key(party, "private", seed)) for party in PARTIES],
    )
    every_value = np.arange(256, dtype=np.uint8)
    report.check("every key holds each byte value once",
                 all(np.array_equal(np.sort(k), every_value) for k in [pub_key, *priv_keys]))

    print("\n2. Map each party's data and pack it as an encrypted packet")
    data = [readings(party, POSITIONS, seed=j) for j, party in enumerate(PARTIES)]
    mapped = report.timed(
        f"map_data: {n} parties",
        lambda ms: f"{n} x {size(len(ms[0]))}",
        lambda: [m.map_data(pub_key, priv_keys[j], j, data) for j in range(n)],
    )
    blobs = report.timed(
        "package_blob: encrypted packets",
        lambda bs: f"{n} x {size(len(bs[0]))}",
        lambda: [m.package_blob(pub_key, priv_keys[j], mapped[j], "readings", j)
                 for j in range(n)],
    )

    print("\n3. Unpack the packets and restore every party's data")
    unpacked = report.timed("unpack_encrypted_packet", lambda us: f"{n} packets",
                            lambda: [m.unpack_encrypted_packet(b) for b in blobs])
    report.check("each packet gives back its public key, private key, packet, mode, identity",
                 all(u == (pub_key.tobytes(), priv_keys[j].tobytes(), mapped[j], "readings", j)
                     for j, u in enumerate(unpacked)))
    by_identity = sorted(unpacked, key=lambda u: u[4])
    restored = report.timed(
        "inv_data: all parties",
        lambda rs: f"{n} x {size(len(rs[0]))}",
        lambda: m.inv_data(u8(by_identity[0][0]), [u8(u[1]) for u in by_identity],
                           [u8(u[2]) for u in by_identity]),
    )
    report.check("inv_data restores every party's data byte for byte",
                 all(r == d.tobytes() for r, d in zip(restored, data)))

    print("\n4. Seal a packet, move it to a new salt and a rotated key, open it")
    packet = u8(mapped[0])
    chunk = report.timed("get_chunk_size", lambda c: f"chunk size {c} B of {size(len(packet))}",
                         lambda: m.get_chunk_size(packet))
    old_salt, new_salt = u8(secrets.token_bytes(16)), u8(secrets.token_bytes(16))
    sealed = report.timed("involute_packet: seal (old salt)",
                          lambda p: f"{len(packet) // chunk} chunks rearranged",
                          lambda: m.involute_packet(packet, old_salt, chunk))
    report.check("the sealed packet differs from the packet", sealed != mapped[0])
    rotated_key = u8(m.gen_key(PARTIES[0], "private, rotated", seed))
    cycled = report.timed(
        "cycle_packet: old -> new salt/key",
        lambda p: f"{size(len(p))}",
        lambda: m.cycle_packet(u8(sealed), old_salt, new_salt, priv_keys[0], rotated_key, chunk),
    )
    opened = report.timed("involute_packet: open (new salt)", lambda p: f"{size(len(p))}",
                          lambda: m.involute_packet(u8(cycled), new_salt, chunk))
    report.check("the opened packet is party 0's data mapped under the rotated key",
                 opened == m.map_data(pub_key, rotated_key, 0, data))
    restored = m.inv_data(pub_key, [rotated_key, *priv_keys[1:]], [u8(opened), *map(u8, mapped[1:])])
    report.check("inv_data with the rotated key restores every party's data",
                 all(r == d.tobytes() for r, d in zip(restored, data)))
    back = report.timed(
        "cycle_packet: new -> old salt/key",
        lambda p: f"{size(len(p))}",
        lambda: m.cycle_packet(u8(cycled), new_salt, old_salt, rotated_key, priv_keys[0], chunk),
    )
    report.check("cycling back gives the sealed packet", back == sealed)
    report.check("opening it with the old salt gives the packet",
                 m.involute_packet(u8(back), old_salt, chunk) == mapped[0])

    print("\n5. Setup packet")
    setup = report.timed("package_blob: setup packet", lambda b: size(len(b)),
                         lambda: m.package_blob(pub_key, sealed, "sealed", 0))
    fields = report.timed("unpack_setup_packet", lambda f: f"{len(f)} fields",
                          lambda: m.unpack_setup_packet(setup))
    report.check("the setup packet gives back public key, packet, mode and identity",
                 fields == (pub_key.tobytes(), sealed, "sealed", 0))

    print(f"\n6. A packet sealed under the condition {RANGE[0]} <= reading <= {RANGE[1]}")
    packet = u8(mapped[1])
    salt = u8(secrets.token_bytes(16))
    chunk = report.timed("get_chunk_size_min: at least 16 B", lambda c: f"chunk size {c} B",
                         lambda: m.get_chunk_size_min(packet, 16))
    low, high = report.timed("prep_condition", lambda b: "two prepared 64-bit bounds",
                             lambda: m.prep_condition(RANGE[0], RANGE[1], salt))
    branches = {t: m.cond_hash_branch(low, high, t, salt) for t in TESTS}
    inside = [t for t in TESTS if RANGE[0] <= t <= RANGE[1]]
    outside = [t for t in TESTS if t not in inside]
    print(f"  cond_hash_branch: inside {inside} -> {branches[inside[0]]:#018x}")
    print(f"                    outside {outside} -> {branches[outside[0]]:#018x}")
    report.check("every inside value gives one branch value, every outside value another",
                 len({branches[t] for t in inside}) == 1
                 and len({branches[t] for t in outside}) == 1
                 and branches[inside[0]] != branches[outside[0]])
    sealed_at = 21.5
    locked = report.timed(
        f"cond_involute_packet: seal at {sealed_at}",
        lambda p: f"{len(packet) // chunk} chunks rearranged",
        lambda: m.cond_involute_packet(packet, salt, chunk, low, high, sealed_at),
    )
    for t in TESTS:
        opens = m.cond_involute_packet(u8(locked), salt, chunk, low, high, t) == mapped[1]
        expected = t in inside
        report.check(f"test value {t:>5}: {'opens' if opens else 'stays sealed'}",
                     opens == expected)


def main() -> int:
    print(f"mirelon_core_py: a session of {len(PARTIES)} parties ({', '.join(PARTIES)}), "
          f"{size(POSITIONS)} of readings each\n")
    report = Report()
    start = time.perf_counter()
    session(report)
    print(f"\nsession took {time.perf_counter() - start:.2f} s")
    if report.failures:
        print(f"{len(report.failures)} of {report.checks} checks FAILED:")
        for what in report.failures:
            print(f"  - {what}")
        return 1
    print(f"all {report.checks} checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
