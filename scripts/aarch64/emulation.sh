#!/usr/bin/env bash
# Sourced after sysroot.sh. Runs arm64 programs on this machine through
# qemu-user: Debian's arm64 Python from $AARCH64_SYSROOT, with NumPy's
# aarch64 wheel, pytest and hypothesis, and the module's aarch64 wheel, each
# installed for that Python by this machine's pip.

# Registers qemu-aarch64 with the kernel's binfmt_misc, so that arm64 programs
# start like native ones: the interpreter's child processes too. On failure
# prints why and returns 1.
aarch64_register_binfmt() {
  local entry=/proc/sys/fs/binfmt_misc/qemu-aarch64
  local conf=/usr/lib/binfmt.d/qemu-aarch64.conf
  if [ ! -e "$entry" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "qemu-aarch64 is not registered with binfmt_misc and this is not root"; return 1; }
    [ -f "$conf" ] || { echo "$conf is missing (qemu-user-static)"; return 1; }
    if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
        { echo "binfmt_misc cannot be mounted here"; return 1; }
    fi
    # In a container or chroot the host may have registered it already; its
    # entry shows once binfmt_misc is mounted.
    [ -e "$entry" ] || grep -v '^#' "$conf" >/proc/sys/fs/binfmt_misc/register 2>/dev/null ||
      { echo "the kernel refused the qemu-aarch64 binfmt_misc entry"; return 1; }
  fi
  grep -qx enabled "$entry" || { echo "the qemu-aarch64 binfmt_misc entry is disabled"; return 1; }
  local said
  said=$(aarch64_python -c "import platform; print(platform.machine())" 2>&1) ||
    { echo "the arm64 Python does not start: $said"; return 1; }
  [ "$said" = aarch64 ] || { echo "the arm64 Python says it runs on '$said'"; return 1; }
}

# The packages of requirements/ the tests need, for the arm64 Python; and the
# module from WHEEL, installed again whenever the wheel changed.
aarch64_install() {  # aarch64_install WHEEL (run from the project folder)
  local wheel=$1 tag
  [ -f "$wheel" ] || { echo "no wheel at '$wheel'" >&2; return 1; }
  local pip=(.venv/bin/python -m pip install -q --disable-pip-version-check --only-binary=:all:
             --python-version "$AARCH64_PYTHON_VERSION" --implementation cp
             --abi "cp${AARCH64_PYTHON_VERSION/./}")
  local requirements=(-r requirements/numpy2.txt -r requirements/test.txt)
  local stamp
  stamp=$(cat requirements/numpy2.txt requirements/test.txt | sha256sum | cut -c1-16)
  if [ ! -f "$AARCH64_ROOT/site-packages/.$stamp" ]; then
    echo "== installing NumPy, pytest and hypothesis for the arm64 Python"
    rm -rf "$AARCH64_ROOT/site-packages"
    "${pip[@]}" --target "$AARCH64_ROOT/site-packages" \
      --platform manylinux2014_aarch64 --platform manylinux_2_36_aarch64 "${requirements[@]}" 2>&1 |
      grep -v "^WARNING: Location" >&2 || true
    [ -d "$AARCH64_ROOT/site-packages/numpy" ] || { echo "NumPy's aarch64 wheel did not install" >&2; return 1; }
    touch "$AARCH64_ROOT/site-packages/.$stamp"
  fi
  local digest
  digest=$(sha256sum "$wheel" | cut -d' ' -f1)
  [ "$(cat "$AARCH64_ROOT/module/.wheel" 2>/dev/null)" != "$digest" ] || return 0
  # pip matches a wheel by the platform asked for: the wheel's own.
  tag=$(basename "$wheel" .whl | awk -F- '{print $NF}' | tr . '\n' | grep aarch64 | head -1)
  rm -rf "$AARCH64_ROOT/module"
  "${pip[@]}" --no-deps --target "$AARCH64_ROOT/module" --platform "$tag" "$wheel" 2>&1 |
    grep -v "^WARNING: Location" >&2 || true
  [ -f "$(echo "$AARCH64_ROOT"/module/mirelon_core_py*.so)" ] ||
    { echo "$wheel did not install for the arm64 Python" >&2; return 1; }
  echo "$digest" >"$AARCH64_ROOT/module/.wheel"
}

# Runs the arm64 Python. qemu finds the arm64 loader and libraries under
# QEMU_LD_PREFIX; child processes inherit it with the rest of the environment.
aarch64_python() {
  QEMU_LD_PREFIX="$AARCH64_SYSROOT" \
    PYTHONPATH="$AARCH64_ROOT/module:$AARCH64_ROOT/site-packages" PYTHONNOUSERSITE=1 \
    "$AARCH64_SYSROOT/usr/bin/python$AARCH64_PYTHON_VERSION" "$@"
}
