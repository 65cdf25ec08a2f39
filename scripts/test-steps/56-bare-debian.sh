# The README's path on a bare Debian: the working tree, cloned to a scratch
# folder, is set up by scripts/setup.sh with an empty environment and only
# Debian's directories on PATH (Debian's python3, no CMake of the machine's
# own), then the installed wheel is imported and the demo run. Anything the
# setup takes from elsewhere (another interpreter, a newer CMake) fails here.
set -euo pipefail
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clone=$work/clone
git clone -q "$root" "$clone"
# The clone gets what the working tree has beyond its last commit: changed and
# new files (not the ignored ones), and no longer the deleted ones.
git -C "$root" ls-files -z --deleted | (cd "$clone" && xargs -0 -r rm -f)
git -C "$root" ls-files -z --cached --others --exclude-standard |
  (cd "$root" && xargs -0 -r sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh) |
  tar -C "$root" --null -T - -cf - | tar -C "$clone" -xf -

bare=(env -i HOME="$HOME" PATH=/usr/sbin:/usr/bin:/sbin:/bin)
log=$work/setup.log
start=$SECONDS
"${bare[@]}" "$clone/scripts/setup.sh" >"$log" 2>&1 || { tail -40 "$log"; exit 1; }
echo "setup.sh in a clone, Debian's PATH only: $((SECONDS - start)) s; $(grep '^== installed' "$log")"
cd "$work"
"${bare[@]}" "$clone/.venv/bin/python" -c "
import sys, mirelon_core_py as m
assert m.__file__.startswith('$clone/.venv/'), m.__file__
print('imported', m.__name__, 'from the clone\'s .venv under', sys.base_prefix)"
"${bare[@]}" "$clone/.venv/bin/python" "$clone/examples/demo.py" >"$work/demo.log" ||
  { cat "$work/demo.log"; exit 1; }
echo "demo: $(grep -c . "$work/demo.log") lines, exit 0"
