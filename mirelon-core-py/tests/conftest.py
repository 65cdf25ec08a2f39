import contextlib
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest


def u8(data=b""):
    """A contiguous, read-only uint8 array over `data`."""
    return np.frombuffer(bytes(data), dtype=np.uint8)


@pytest.fixture
def panics():
    """`with panics("text"):` expects pyo3_runtime.PanicException with exactly that text."""

    @contextlib.contextmanager
    def expect(text=None):
        with pytest.raises(BaseException) as info:
            yield info
        assert type(info.value).__name__ == "PanicException", repr(info.value)
        assert type(info.value).__module__ == "pyo3_runtime"
        if text is not None:
            assert info.value.args == (text,)

    return expect


@pytest.fixture
def run_python():
    """Runs a snippet in a fresh interpreter; returns the CompletedProcess."""

    def run(code, env=None, timeout=120):
        full_env = dict(os.environ)
        full_env.update(env or {})
        return subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code)],
            capture_output=True,
            text=True,
            env=full_env,
            timeout=timeout,
        )

    return run
