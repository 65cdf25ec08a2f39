# The aarch64 wheel: cross-built here (scripts/build-aarch64.sh), then run on
# Debian's arm64 Python under qemu-user with NumPy's aarch64 wheel. Under
# emulation: the core's GoogleTest suite, the demo, the Python suite's model,
# differential and argument tests and the reference pages' examples, and a
# cross-architecture check that a fixed set of calls gives byte-identical
# results here and there. Where qemu cannot run, the emulated part prints
# SKIPPED with the reason. Timings under emulation say nothing about the
# module and are not printed.
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

echo "-- GoogleTest (aarch64): $(QEMU_LD_PREFIX="$AARCH64_SYSROOT" \
  "$AARCH64_ROOT"/wheel/mirelon-core/tests/mirelon_core_tests --gtest_brief=1 | tail -1)"

aarch64_python "$root/examples/demo.py" >demo.log || { cat demo.log; exit 1; }
echo "-- demo (aarch64): $(grep -c . demo.log) lines, exit 0"

# The scale tests (large inputs, many processes) of test_process.py are left
# out, and so are those that need what the arm64 side lacks (mypy, Dask).
tests=(test_blob test_chunk_geometry test_involute test_keys test_mapping
       test_range_condition test_module_frame test_docs)
echo "-- pytest (aarch64): ${tests[*]}"
paths=("${tests[@]/#/$root/mirelon-core-py/tests/}")
aarch64_python -m pytest -q -p no:cacheprovider --durations=8 "${paths[@]/%/.py}" >pytest.log 2>&1 || { cat pytest.log; exit 1; }
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
