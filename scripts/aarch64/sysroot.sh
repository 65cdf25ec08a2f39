#!/usr/bin/env bash
# Sourced by the aarch64 scripts. Installs the cross compiler and qemu-user
# from Debian, and unpacks Debian's arm64 packages that the cross build links
# against and the emulated runs need (libc, libstdc++, libcrypto, libtbb, the
# distribution's Python with its headers) into a private folder,
# $AARCH64_SYSROOT. The arm64 packages are unpacked, not installed: installing
# them beside the amd64 ones would force the machine's own libssl and systemd
# to the exact versions of the arm64 ones.
AARCH64_ROOT="$PWD/build/aarch64"
AARCH64_SYSROOT="$AARCH64_ROOT/sysroot"

AARCH64_HOST_PACKAGES=(g++-aarch64-linux-gnu qemu-user-static binutils)
# The arm64 Python is the distribution's own python3 (3.11 on Debian 12, 3.13
# on Debian 13), the version of the amd64 one setup.sh installed.
AARCH64_PYTHON_VERSION=$(dpkg-query -W -f='${Version}' python3 2>/dev/null | cut -d. -f1,2)
# What the cross build needs (the GoogleTest suite included), then what that
# Python and the module need at run time (libcrypto links libzstd on Debian
# 13). Python's own optional modules whose libraries are left out (dbm,
# readline, tkinter, nis, and _decimal, which falls back to _pydecimal) are not
# used by the tests. "a|b" names a package that a later Debian renamed: the
# first name the distribution has is taken.
AARCH64_TARGET_PACKAGES=(
  libc6 libgcc-s1 libstdc++6 "libssl3t64|libssl3" libssl-dev
  libtbb12 libtbbmalloc2 libtbbbind-2-5 libtbb-dev libgtest-dev
  "libpython$AARCH64_PYTHON_VERSION-dev" "python$AARCH64_PYTHON_VERSION-minimal"
  "libpython$AARCH64_PYTHON_VERSION-minimal" "libpython$AARCH64_PYTHON_VERSION-stdlib"
  libexpat1 zlib1g libzstd1 libffi8 libbz2-1.0 liblzma5 libsqlite3-0 libuuid1 libcrypt1
  libncursesw6 libtinfo6
)
# Header-only and the same for every architecture (tl-expected for the core,
# nlohmann-json for the GoogleTest suite's known-answer file).
AARCH64_COMMON_PACKAGES=(libexpected-dev nlohmann-json3-dev)

# The first of "a|b|..." that has an arm64 candidate, as NAME:arm64.
aarch64_package_name() {
  local alternative alternatives=()
  IFS='|' read -ra alternatives <<<"$1"
  for alternative in "${alternatives[@]}"; do
    # Read whole: grep -q leaving early would end apt-cache by SIGPIPE, which
    # pipefail counts as no match.
    if [[ $(apt-cache policy "$alternative:arm64" 2>/dev/null) == *"Candidate: "[^\(]* ]]; then
      echo "$alternative:arm64"; return 0
    fi
  done
  echo "${alternatives[-1]}:arm64"
}

aarch64_prepare() {
  [ -n "$AARCH64_PYTHON_VERSION" ] ||
    { echo "Debian's python3 is not installed: run scripts/setup.sh first" >&2; return 1; }
  local SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  local apt=($SUDO apt-get -o DPkg::Lock::Timeout=900)
  local missing=() package
  for package in "${AARCH64_HOST_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  local updated=""
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    echo "== adding Debian's arm64 architecture (package lists only)"
    $SUDO dpkg --add-architecture arm64
    "${apt[@]}" update -qq; updated=1
  fi
  if ((${#missing[@]})); then
    echo "== installing Debian packages: ${missing[*]}"
    [ -n "$updated" ] || { "${apt[@]}" update -qq; updated=1; }
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi

  # The unpacked set is named by the versions apt would fetch now, so a new
  # Debian point release unpacks afresh.
  local names=() versions
  for package in "${AARCH64_TARGET_PACKAGES[@]}"; do names+=("$(aarch64_package_name "$package")"); done
  names+=("${AARCH64_COMMON_PACKAGES[@]}")
  versions=$(apt-cache policy "${names[@]}" | awk '/^[^ ]/ {p=$1} /Candidate:/ {print p, $2}')
  if grep -q "(none)" <<<"$versions" || [ -z "$versions" ]; then
    [ -n "$updated" ] || "${apt[@]}" update -qq
    versions=$(apt-cache policy "${names[@]}" | awk '/^[^ ]/ {p=$1} /Candidate:/ {print p, $2}')
  fi
  if [ -f "$AARCH64_SYSROOT/.packages" ] && [ "$(cat "$AARCH64_SYSROOT/.packages")" = "$versions" ]; then
    return 0
  fi
  echo "== unpacking ${#names[@]} arm64 packages into ${AARCH64_SYSROOT#"$PWD/"}"
  rm -rf "$AARCH64_SYSROOT" "$AARCH64_ROOT/debs"
  mkdir -p "$AARCH64_SYSROOT" "$AARCH64_ROOT/debs"
  # As root, apt fetches as root: its own download user cannot write here.
  local sandbox=(); [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
  # A package list older than the mirror names files it no longer has: then
  # the lists are renewed once.
  (cd "$AARCH64_ROOT/debs" && apt-get download -qq "${sandbox[@]}" "${names[@]}" >/dev/null) ||
    { "${apt[@]}" update -qq &&
      (cd "$AARCH64_ROOT/debs" && apt-get download -qq "${sandbox[@]}" "${names[@]}" >/dev/null); }
  local deb
  for deb in "$AARCH64_ROOT"/debs/*.deb; do dpkg -x "$deb" "$AARCH64_SYSROOT"; done
  # Debian 13's packages ship everything under usr/ and leave the /lib link of
  # the merged /usr to the base system: the arm64 loader is looked up there.
  local top
  for top in lib bin sbin; do
    [ -e "$AARCH64_SYSROOT/$top" ] || ln -s "usr/$top" "$AARCH64_SYSROOT/$top"
  done
  echo "$versions" >"$AARCH64_SYSROOT/.packages"
}
