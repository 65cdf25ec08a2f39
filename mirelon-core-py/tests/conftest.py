import os
import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest


def u8(data=b""):
    """A contiguous, read-only uint8 array over `data`."""
    return np.frombuffer(bytes(data), dtype=np.uint8)


def raises_exactly(exc, text):
    """pytest.raises for exactly `exc` with exactly `text`."""
    return pytest.raises(exc, match="^" + re.escape(text) + "$")


def outcome(call, *args):
    """The call's result, the text of its ValueError, or ("panic", text)."""
    try:
        return call(*args)
    except ValueError as e:
        return str(e)
    except BaseException as e:  # noqa: BLE001 - the panic derives from BaseException
        assert f"{type(e).__module__}.{type(e).__name__}" == "pyo3_runtime.PanicException", repr(e)
        assert not isinstance(e, Exception)  # `except Exception` must not catch a panic
        return ("panic", *e.args)


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
