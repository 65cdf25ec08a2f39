import inspect
import re

import numpy as np
import pytest

import mirelon_core_py as m
from conftest import u8

FUNCTIONS = {
    "involute_packet": ["packet", "salt", "chunk_size"],
    "cycle_packet": ["packet", "old_salt", "new_salt", "old_key", "new_key", "chunk_size"],
    "get_chunk_size": ["packet"],
    "get_chunk_size_min": ["packet", "min_size"],
    "cond_involute_packet": [
        "packet", "involute_salt", "chunk_size", "low_bound", "high_bound", "test_value"],
    "gen_key": ["party_id", "purpose", "master_seed"],
    "prep_condition": ["low_bound", "high_bound", "salt"],
    "cond_hash_branch": ["low_bound", "high_bound", "test_value", "salt"],
    "map_data": ["pub_key", "priv_key", "identity", "data_sequences"],
    "inv_data": ["pub_key", "priv_keys", "data_sequences"],
    "package_blob": ["*args"],
    "unpack_setup_packet": ["data"],
    "unpack_encrypted_packet": ["data"],
}


def test_all_lists_the_functions_in_table_order():
    assert m.__all__ == list(FUNCTIONS)


@pytest.mark.parametrize("name", FUNCTIONS)
def test_signature_and_doc(name):
    function = getattr(m, name)
    params = [
        ("*" + p.name) if p.kind is p.VAR_POSITIONAL else p.name
        for p in inspect.signature(function).parameters.values()
    ]
    assert params == FUNCTIONS[name]
    assert function.__doc__ is None
    assert function.__module__ == "mirelon_core_py"
    assert function.__name__ == name


def test_reimport_gives_the_same_module(run_python):
    result = run_python(
        """
        import importlib, sys
        import mirelon_core_py as first
        del sys.modules["mirelon_core_py"]
        second = importlib.import_module("mirelon_core_py")
        assert first is second
        assert not hasattr(first, "PanicException")
        print("ok")
        """
    )
    assert result.stdout.strip() == "ok", result.stderr


def test_second_interpreter_cannot_import(run_python):
    result = run_python(
        """
        import mirelon_core_py
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            import _interpreters as interpreters
        interp = interpreters.create()
        code = (
            "try:\\n"
            "    import mirelon_core_py\\n"
            "except ImportError as e:\\n"
            "    assert 'sub-interpreters' in str(e), str(e)\\n"
            "else:\\n"
            "    raise AssertionError('imported')\\n"
        )
        interpreters.run_string(interp, code)
        print("ok")
        """
    )
    if "No module named '_interpreters'" in result.stderr:
        pytest.skip("this interpreter cannot create sub-interpreters")
    assert result.stdout.strip() == "ok", result.stderr


def test_missing_numpy_is_a_panic_naming_the_capsule(run_python):
    result = run_python(
        """
        import sys
        class NoNumpy:
            def find_spec(self, name, path=None, target=None):
                if name == "numpy" or name.startswith("numpy."):
                    raise ImportError("numpy is hidden")
        sys.meta_path.insert(0, NoNumpy())
        import mirelon_core_py
        try:
            mirelon_core_py.get_chunk_size(object())
        except BaseException as e:
            print(type(e).__name__, e, sep="|")
        """
    )
    name, text = result.stdout.strip().split("|", 1)
    assert name == "PanicException"
    assert text.startswith("Failed to access NumPy array API capsule: ")
    assert "numpy is hidden" in text


BINDING_ERRORS = [
    (lambda: m.get_chunk_size(u8(), u8()),
     "get_chunk_size() takes 1 positional arguments but 2 were given"),
    (lambda: m.gen_key("a", "b", u8(), 1),
     "gen_key() takes 3 positional arguments but 4 were given"),
    (lambda: m.get_chunk_size_min(u8(), min_size=8, packet=u8()),
     "get_chunk_size_min() got multiple values for argument 'packet'"),
    (lambda: m.get_chunk_size(u8(), size=1),
     "get_chunk_size() got an unexpected keyword argument 'size'"),
    (lambda: m.package_blob(x=1), "package_blob() got an unexpected keyword argument 'x'"),
    (lambda: m.get_chunk_size(), "get_chunk_size() missing 1 required positional argument: 'packet'"),
    (lambda: m.get_chunk_size_min(),
     "get_chunk_size_min() missing 2 required positional arguments: 'packet' and 'min_size'"),
    (lambda: m.prep_condition(1.0),
     "prep_condition() missing 2 required positional arguments: 'high_bound' and 'salt'"),
    (lambda: m.cycle_packet(),
     "cycle_packet() missing 6 required positional arguments: 'packet', 'old_salt', "
     "'new_salt', 'old_key', 'new_key', and 'chunk_size'"),
    (lambda: m.cond_hash_branch(1, test_value=0.0),
     "cond_hash_branch() missing 2 required positional arguments: 'high_bound' and 'salt'"),
    (lambda: m.map_data(u8(), u8()),
     "map_data() missing 2 required positional arguments: 'identity' and 'data_sequences'"),
]


@pytest.mark.parametrize("call, text", BINDING_ERRORS)
def test_binding_errors(call, text):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == text


def test_binding_fails_before_converting():
    # An unexpected keyword is reported although the positional argument is also wrong.
    with pytest.raises(TypeError, match="unexpected keyword argument 'bad'"):
        m.get_chunk_size(b"not an array", bad=1)


def test_panic_is_a_base_exception_not_an_exception(panics):
    a = u8(b"abcdefgh")
    with panics("attempt to calculate the remainder with a divisor of zero"):
        try:
            m.get_chunk_size_min(a, 0)
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("the panic was caught as an Exception")
    exc_type = None
    try:
        m.get_chunk_size_min(a, 0)
    except BaseException as e:  # noqa: BLE001
        exc_type = type(e)
    assert issubclass(exc_type, BaseException) and not issubclass(exc_type, Exception)
    assert exc_type.__qualname__ == "PanicException"


def test_panic_type_is_created_once():
    types = set()
    for _ in range(3):
        try:
            m.get_chunk_size_min(u8(b"abcd"), 0)
        except BaseException as e:  # noqa: BLE001
            types.add(type(e))
    assert len(types) == 1


def test_prefix_keeps_the_cause_of_the_replaced_error():
    class BadIndex:
        def __index__(self):
            try:
                raise KeyError("inner")
            except KeyError as inner:
                raise TypeError("index refused") from inner

    with pytest.raises(TypeError) as info:
        m.get_chunk_size_min(u8(b"abcd"), BadIndex())
    assert str(info.value) == "argument 'min_size': index refused"
    assert isinstance(info.value.__cause__, KeyError)


def test_type_error_subclass_is_not_prefixed():
    class Refusal(TypeError):
        pass

    class BadIndex:
        def __index__(self):
            raise Refusal("plain")

    with pytest.raises(Refusal, match=re.escape("plain")) as info:
        m.get_chunk_size_min(u8(b"abcd"), BadIndex())
    assert str(info.value) == "plain"
