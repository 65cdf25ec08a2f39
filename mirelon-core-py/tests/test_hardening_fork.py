"""A child made by os.fork() after the parent has used the worker pool calls
every function and gets the parent's results, in time. Each scenario runs in a
fresh interpreter with a pool of real workers; the parent waits for its
children with a deadline and kills one that hangs."""

import os

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))

SCRIPT = r"""
import os, sys, time
sys.path.insert(0, HERE)
from test_hardening_calls import call, comparable, valid_calls

calls = valid_calls(seed=7, size=SIZE)
def run_all():
    return {n: comparable(n, call(n, a)) for n, a in calls.items()}
expected = run_all()

def wait(pid, deadline=60.0):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return "hung"

def finish(code):
    if EXIT == "normal":
        sys.exit(code)  # the interpreter's own shutdown runs in the child
    os._exit(code)

# The forks happen at the top level, so that a child's SystemExit unwinds
# nothing of its parent's.
codes = []
for i in range(FORKS):
    run_all()  # the pool has just worked when the fork comes
    pid = os.fork()
    if pid == 0:
        code = 0 if run_all() == expected else 3
        if code == 0 and GRANDCHILD:
            # A grandchild, made by a child that has used the functions itself.
            grandchild = os.fork()
            if grandchild == 0:
                finish(0 if run_all() == expected else 3)
            code = wait(grandchild)
        finish(code)
    codes.append(wait(pid))
print(codes)
assert codes == [0] * FORKS, codes
assert run_all() == expected  # and the parent's pool still works
"""


def run(run_python, threads, forks, size, exit_path, grandchild):
    settings = dict(HERE=HERE, FORKS=forks, SIZE=size, EXIT=exit_path, GRANDCHILD=grandchild)
    code = "".join(f"{k} = {v!r}\n" for k, v in settings.items()) + SCRIPT
    return run_python(code, env={"RAYON_NUM_THREADS": threads}, timeout=240)


@pytest.mark.parametrize("threads", ["2", "4"])
@pytest.mark.parametrize("exit_path", ["normal", "immediate"])
def test_forked_children_compute_what_the_parent_computes(threads, exit_path, run_python):
    done = run(run_python, threads, 8, 1 << 14, exit_path, grandchild=True)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "hung" not in done.stdout

