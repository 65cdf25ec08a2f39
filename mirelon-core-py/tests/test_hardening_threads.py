"""Eight Python threads calling every function at once, each on inputs of its
own, get what one thread gets, and no argument array changes."""

import threading

from test_hardening_calls import call, checksum, comparable, valid_calls

THREADS = 8
ROUNDS = 5


def test_eight_threads_match_one_thread_and_leave_their_inputs_alone():
    inputs = [valid_calls(seed=100 + t, size=2048) for t in range(THREADS)]
    expected = [{n: comparable(n, call(n, a)) for n, a in calls.items()} for calls in inputs]
    sums = [{n: checksum(a) for n, a in calls.items()} for calls in inputs]
    start = threading.Barrier(THREADS)
    results = [None] * THREADS
    failures = []

    def worker(t):
        try:
            start.wait()
            got = []
            for _ in range(ROUNDS):
                got.append({n: comparable(n, call(n, a)) for n, a in inputs[t].items()})
            results[t] = got
        except BaseException as error:  # noqa: BLE001 - a panic must be reported too
            failures.append((t, repr(error)))

    threads = [threading.Thread(target=worker, args=(t,)) for t in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=120)
    assert not any(thread.is_alive() for thread in threads)
    assert not failures
    for t in range(THREADS):
        for got in results[t]:
            assert got == expected[t]
        assert {n: checksum(a) for n, a in inputs[t].items()} == sums[t]
    # Different inputs, different results: the threads did not share one call.
    assert len({expected[t]["involute_packet"] for t in range(THREADS)}) == THREADS
