# The repaired wheel as a user gets it: it carries the licence texts of what it
# bundles, and installed into a fresh venv, it must run the demo and a smoke
# check on a machine without the system's libtbb and libcrypto. Those are hidden by bind-mounting /dev/null over them in a private
# mount namespace; the wheel as built (build/raw-wheel/) must then fail to
# import, and the repaired one must have loaded its own copies.
set -euo pipefail
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wheel=$(echo "$root"/dist/mirelon_core_py-*-manylinux_*_x86_64.whl)
raw_wheel=$(echo "$root"/build/raw-wheel/mirelon_core_py-*-linux_x86_64.whl)

tag=$("$root/.venv/bin/auditwheel" show "$wheel" | tr '\n' ' ' |
  sed -n 's/.*consistent with the following platform tag: "\([^"]*\)".*/\1/p')
[[ $tag == manylinux_* ]] || { echo "auditwheel show: no manylinux tag for $wheel" >&2; exit 1; }
bundled=$("$root/.venv/bin/python" -m zipfile -l "$wheel" |
  awk '$1 ~ /^mirelon_core_py\.libs\/./ {print $1}')
echo "$(basename "$wheel"): $(du -k "$wheel" | cut -f1) KiB, auditwheel: $tag, bundles" $bundled
"$root/.venv/bin/python" "$root/scripts/check-wheel-licences.py" "$wheel"

"${PYTHON:-python3}" -m venv "$work/venv"
"$work/venv/bin/python" -m pip install -q --disable-pip-version-check \
  -r "$root/requirements/numpy2.txt" "$wheel"
"$root/.venv/bin/python" -m zipfile -e "$raw_wheel" "$work/raw"

# The files the raw extension's libtbb and libcrypto entries resolve to here.
raw_module=$(echo "$work"/raw/mirelon_core_py*.so)
system_libraries=()
needed_libraries=$(objdump -p "$raw_module" |
  awk '$1 == "NEEDED" && $2 ~ /^lib(tbb|crypto)\./ {print $2}')
for needed in $needed_libraries; do
  # awk reads all of ldconfig's list: leaving early would end ldconfig by
  # SIGPIPE, which pipefail reports as a failure of the whole step.
  path=$(ldconfig -p | awk -v lib="$needed" '$1 == lib && /x86-64/ && !found++ {print $NF}')
  [ -n "$path" ] || { echo "no system copy of $needed found by ldconfig" >&2; exit 1; }
  system_libraries+=("$(realpath "$path")")
done
((${#system_libraries[@]} == 2)) ||
  { echo "expected libtbb and libcrypto, got: ${system_libraries[*]}" >&2; exit 1; }

cat >"$work/smoke.py" <<'EOF'
"""Imports the installed module, checks that libtbb and libcrypto come from the
wheel, and makes a mapping round trip (worker pool) and key derivation (libcrypto)."""
import importlib.metadata

import numpy as np

import mirelon_core_py as m

maps = open("/proc/self/maps").read().splitlines()
loaded = {line.split()[-1] for line in maps if "libtbb" in line or "libcrypto" in line}
foreign = [path for path in loaded if "/mirelon_core_py.libs/" not in path]
assert len(loaded) == 2 and not foreign, sorted(loaded)
seed = np.frombuffer(bytes(range(32)), dtype=np.uint8)
pub_key = np.frombuffer(m.gen_key("group", "public", seed), dtype=np.uint8)
priv_keys = [np.frombuffer(m.gen_key(p, "private", seed), dtype=np.uint8) for p in ("a", "b", "c")]
data = [np.random.default_rng(j).integers(0, 256, 1 << 22, dtype=np.uint8) for j in range(3)]
mapped = [np.frombuffer(m.map_data(pub_key, key, j, data), dtype=np.uint8)
          for j, key in enumerate(priv_keys)]
assert m.inv_data(pub_key, priv_keys, mapped) == [d.tobytes() for d in data]
names = ", ".join(sorted(path.rsplit("/", 1)[1] for path in loaded))
version = importlib.metadata.version("mirelon-core-py")
print(f"smoke: mirelon-core-py {version} from {m.__file__} with {names};",
      "3 x 4 MiB mapped and restored")
EOF

# Runs as root in its own mount namespace: the bind mounts vanish with it.
cat >"$work/hidden.sh" <<'EOF'
set -euo pipefail
work=$1 root=$2; shift 2
for library in "$@"; do
  mount --bind /dev/null "$library" && [ ! -s "$library" ]  # now empty
done
cd "$work"
if out=$(PYTHONPATH="$work/raw" "$work/venv/bin/python" -c "import mirelon_core_py" 2>&1); then
  echo "the raw wheel imported with $* hidden: the hiding does not work" >&2; exit 1
fi
grep -q -E 'lib(tbb|crypto)' <<<"$out" || { echo "$out" >&2; exit 1; }
echo "raw wheel, libraries hidden: $(echo "$out" | tail -1)"
"$work/venv/bin/python" "$root/examples/demo.py" >"$work/demo.log" ||
  { cat "$work/demo.log"; exit 1; }
echo "demo (repaired wheel, libraries hidden): $(grep -c . "$work/demo.log") lines, exit 0"
"$work/venv/bin/python" "$work/smoke.py"
EOF

echo "system copies to hide: ${system_libraries[*]}"
if [ "$(id -u)" -ne 0 ]; then
  reason="not root"
elif ! unshare -m --propagation private \
    mount --bind /dev/null "${system_libraries[0]}" 2>/dev/null; then
  reason="a private mount namespace with bind mounts is not allowed here"
else
  reason=""
fi
if [ -z "$reason" ]; then
  unshare -m --propagation private bash "$work/hidden.sh" "$work" "$root" "${system_libraries[@]}"
else
  echo "SKIPPED: the hidden-library run ($reason);" \
    "the repaired wheel runs with the system libraries visible"
  cd "$work"
  "$work/venv/bin/python" "$root/examples/demo.py" >/dev/null
  "$work/venv/bin/python" smoke.py
fi

# The sdist: nothing from build trees or venvs, the licence texts, and every
# source file the CMake project names (configuring and generating checks that).
sdist=$(echo "$root"/dist/mirelon_core_py-*.tar.gz)
stray=$(tar tzf "$sdist" | cut -d/ -f2 | grep -E '^(build|dist|\.venv.*)$' | sort -u || true)
[ -z "$stray" ] || { echo "the sdist holds $stray" >&2; exit 1; }
mkdir "$work/sdist" && tar xzf "$sdist" -C "$work/sdist"
# The licence and the bundled libraries' texts, as in the wheel.
for licence in LICENSE $(cd "$root" && echo licenses/*.txt); do
  [ -f "$work"/sdist/mirelon_core_py-*/"$licence" ] || { echo "the sdist lacks $licence" >&2; exit 1; }
done
grep -qx 'License-Expression: Apache-2.0' "$work"/sdist/mirelon_core_py-*/PKG-INFO ||
  { echo "the sdist's PKG-INFO names no Apache-2.0 licence" >&2; exit 1; }
cmake -S "$work"/sdist/mirelon_core_py-* -B "$work/sdist-build" -G Ninja -DMIRELON_BUILD_PYTHON=ON \
  -DPython_EXECUTABLE="$root/.venv/bin/python" >/dev/null
files=$(tar tzf "$sdist" | grep -vc '/$')
echo "$(basename "$sdist"): $(du -k "$sdist" | cut -f1) KiB, $files files, configures"
