#!/usr/bin/env bash
# Compiles the kernel modules with kbuild against the installed Debian kernel
# headers, in a copy of the sources so the tree stays clean.  Any compiler or
# modpost warning fails the check.
#
# Debian's amd64 configuration has no device tree (CONFIG_OF off), which
# compiles out everything after a device-tree lookup.  So the modules are
# built a second time against a copy of the headers with CONFIG_OF and
# CONFIG_OF_GPIO on, whose exports include the device-tree calls, and the
# interrupt, GPIO and proc calls behind the lookups must appear among each
# module's undefined symbols.
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

# The calls each module makes only on its device-tree path.
needs_of() {
  case $1 in
  spindrel) echo "of_find_compatible_node gpio_request request_threaded_irq proc_create seq_read" ;;
  corvelink) echo "of_get_property" ;;
  lumdrake) echo "of_find_property" ;;
  esac
}

# A copy of the headers with the device tree configured in.
of_headers() {
  local of=$work/headers-of
  cp -a "$headers" "$of"
  # the tree links into the kbuild package by relative paths
  (cd "$of" && find . -type l | while read -r l; do
    t=$(readlink -f "$headers/$l") && [ -e "$t" ] && ln -sfn "$t" "$l"
  done)
  sed -i 's/^# CONFIG_OF is not set$/CONFIG_OF=y/' "$of/.config"
  printf 'CONFIG_OF_GPIO=y\n' >>"$of/.config"
  printf 'CONFIG_OF=y\nCONFIG_OF_GPIO=y\n' >>"$of/include/config/auto.conf"
  printf '#define CONFIG_OF 1\n#define CONFIG_OF_GPIO 1\n' >>"$of/include/generated/autoconf.h"
  for s in of_find_compatible_node of_get_named_gpio_flags of_get_property of_find_property \
           of_node_put of_property_read_variable_u32_array of_device_is_compatible; do
    printf '0x00000000\t%s\tvmlinux\tEXPORT_SYMBOL\t\n' "$s" >>"$of/Module.symvers"
  done
  echo "$of"
}

modules() {
  local tag=$1
  build "$work/sim/kernel/kbuild" "$work/stub$tag.log"
  for m in "${mods[@]}"; do
    build "$work/drivers/$m" "$work/$m$tag.log" \
      KBUILD_EXTRA_SYMBOLS="$work/sim/kernel/kbuild/Module.symvers"
    if [ ! -f "$work/drivers/$m/$m.ko" ]; then
      echo "FAIL: $m.ko was not built$tag"
      status=1
    else
      echo "ok: $m.ko$tag"
    fi
  done
}

mods=("$@")
modules ""

if ! grep -q '^# CONFIG_OF is not set$' "$headers/.config"; then
  exit $status
fi
headers=$(of_headers)
echo "kernel headers with CONFIG_OF: $headers"
for m in "${mods[@]}"; do
  make -C "$headers" M="$work/drivers/$m" clean >/dev/null 2>&1 || true
done
make -C "$headers" M="$work/sim/kernel/kbuild" clean >/dev/null 2>&1 || true
modules " (CONFIG_OF)"
for m in "${mods[@]}"; do
  ko=$work/drivers/$m/$m.ko
  [ -f "$ko" ] || continue
  undefined=$(nm -u "$ko" | awk '{print $2}')
  for s in $(needs_of "$m"); do
    if ! grep -qx "$s" <<<"$undefined"; then
      echo "FAIL: $m.ko (CONFIG_OF) does not call $s"
      status=1
    fi
  done
done
exit $status
