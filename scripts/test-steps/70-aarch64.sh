# The aarch64 wheel: cross-built here (scripts/build-aarch64.sh), then run on
# Debian's arm64 Python under qemu-user with NumPy's aarch64 wheel. Under
# emulation: the core's GoogleTest suite, the demo, the Python suite's model,
# differential and argument tests and the reference pages' examples, and a
# cross-architecture check that a fixed set of calls gives byte-identical
# results here and there. Where qemu cannot run, the emulated part prints
# SKIPPED with the reason. Timings under emulation say nothing about the
# module: the demo's are not shown.
set -euo pipefail
root=$PWD
started=$SECONDS
scripts/build-aarch64.sh
built=$SECONDS
source scripts/aarch64/sysroot.sh
source scripts/aarch64/emulation.sh
if ! reason=$(aarch64_register_binfmt); then
  echo "SKIPPED: the emulated aarch64 run ($reason); the wheel was built and checked"
  exit 0
fi
aarch64_install "$(echo "$root"/dist/mirelon_core_py-*-manylinux_*_aarch64.whl)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

QEMU_LD_PREFIX="$AARCH64_SYSROOT" "$AARCH64_ROOT"/wheel/mirelon-core/tests/mirelon_core_tests \
  --gtest_brief=1 >gtest.log 2>&1 || { cat gtest.log; exit 1; }
echo "-- GoogleTest (aarch64): $(tail -1 gtest.log)"

aarch64_python "$root/examples/demo.py" >demo.log || { cat demo.log; exit 1; }
echo "-- demo (aarch64): $(grep -c . demo.log) lines, exit 0"

# Left out: test_process.py's scale and stress scenarios (many processes,
# threads, capped memory) but for the module's import in fresh interpreters;
# test_stubs.py and test_dask.py, which need mypy and Dask.
tests=(test_blob.py test_chunk_geometry.py test_involute.py test_keys.py test_mapping.py
       test_range_condition.py test_module_frame.py test_docs.py test_metadata.py test_vectors.py
       test_process.py::test_module_in_a_fresh_interpreter)
echo "-- pytest (aarch64): ${tests[*]}"
aarch64_python -m pytest -q -p no:cacheprovider "${tests[@]/#/$root/mirelon-core-py/tests/}" \
  >pytest.log 2>&1 || { cat pytest.log; exit 1; }
echo "-- pytest (aarch64): $(tail -1 pytest.log)"

"$root/.venv/bin/python" "$root/scripts/aarch64/digests.py" >x86_64.txt 2>x86_64.log ||
  { cat x86_64.log; exit 1; }
aarch64_python "$root/scripts/aarch64/digests.py" >aarch64.txt 2>aarch64.log ||
  { cat aarch64.log; exit 1; }
cases=$(wc -l <x86_64.txt)
same=$(paste -d' ' x86_64.txt aarch64.txt | awk '$1 == $3 && $2 == $4' | wc -l)
if [ "$cases" -eq 0 ] || [ "$same" -ne "$cases" ] || [ "$(wc -l <aarch64.txt)" -ne "$cases" ]; then
  diff x86_64.txt aarch64.txt | head -20
  echo "cross-architecture: only $same of $cases cases byte-identical on x86-64 and aarch64" >&2
  exit 1
fi
echo "-- cross-architecture: $same of $cases cases byte-identical on x86-64 and aarch64"
echo "-- step time: $((built - started)) s cross build, $((SECONDS - built)) s emulated runs"
