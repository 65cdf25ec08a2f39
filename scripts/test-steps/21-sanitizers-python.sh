# The Python suite against the module built with the sanitizers. The host
# interpreter is not instrumented, so the ASan runtime is preloaded (with the
# C++ runtime, whose exceptions it intercepts); the interpreter's and NumPy's
# own allocations kept until exit are suppressed, the module's are not.
# PYTHONMALLOC=malloc makes every Python object a malloc block that
# LeakSanitizer scans: the interpreter's own arenas are mapped memory it does
# not scan, so objects referenced only from there would look leaked. Each
# process writes its report to a file instead of failing at exit, and
# scripts/sanitizer-reports.py fails on any memory error and on any leak that
# the module or the core allocated: with Debian's python3, which links
# libpython statically and stripped, suppressions cannot name what the
# interpreter keeps at exit. Stacks are taken by the fast frame-pointer
# unwinder: the reader needs only the first frame outside the runtime, and
# unwinding every Python object's allocation through DWARF made the suite
# eight times slower.
set -euo pipefail
root=$PWD
preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
reports=$(mktemp -d)
cd "$(mktemp -d)"
status=0
PYTHONMALLOC=malloc LD_PRELOAD="$preload" PYTHONPATH="$root/build/asan/mirelon-core-py" \
  ASAN_OPTIONS=detect_leaks=1 \
  LSAN_OPTIONS="suppressions=$root/scripts/lsan-python.supp:print_suppressions=0:exitcode=0:log_path=$reports/process" \
  UBSAN_OPTIONS=print_stacktrace=1 \
  "$root/.venv/bin/python" -c "
import sys, mirelon_core_py
assert mirelon_core_py.__file__.startswith('$root/build/asan/'), mirelon_core_py.__file__
sys.exit(__import__('pytest').main(['-q', '-p', 'no:cacheprovider', '$root/mirelon-core-py/tests']))" || status=$?
"$root/.venv/bin/python" "$root/scripts/sanitizer-reports.py" "$reports" "$root"
exit "$status"
