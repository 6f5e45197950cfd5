#!/usr/bin/env bash
# Compiles the kernel modules with kbuild against the installed Debian kernel
# headers, in a copy of the sources so the tree stays clean.  Any compiler or
# modpost warning fails the check.
#   kbuild_check.sh <source root> <work dir> <module>...
set -euo pipefail
src=$1
work=$2
shift 2

headers=
for d in /usr/src/linux-headers-*-amd64; do
  [ -f "$d/Makefile" ] && headers=$d
done
if [ -z "$headers" ]; then
  echo "SKIP: no kernel headers under /usr/src/linux-headers-*-amd64 (scripts/setup installs linux-headers-amd64)"
  exit 77
fi
echo "kernel headers: $headers"

rm -rf "$work"
mkdir -p "$work/drivers" "$work/sim/kernel"
cp -r "$src/sim/kernel/vendor" "$src/sim/kernel/kbuild" "$work/sim/kernel/"
cp -r "$src/devif" "$work/"
for m in "$@"; do
  cp -r "$src/drivers/$m" "$work/drivers/"
done

status=0
build() {
  local dir=$1 log=$2
  shift 2
  if ! make -C "$headers" M="$dir" "$@" modules >"$log" 2>&1; then
    cat "$log"
    echo "FAIL: kbuild of $dir"
    status=1
    return
  fi
  if grep -qi 'warning' "$log"; then
    cat "$log"
    echo "FAIL: warnings building $dir"
    status=1
  fi
}

build "$work/sim/kernel/kbuild" "$work/stub.log"
for m in "$@"; do
  build "$work/drivers/$m" "$work/$m.log" \
    KBUILD_EXTRA_SYMBOLS="$work/sim/kernel/kbuild/Module.symvers"
  if [ ! -f "$work/drivers/$m/$m.ko" ]; then
    echo "FAIL: $m.ko was not built"
    status=1
  else
    echo "ok: $m.ko"
  fi
done
exit $status
