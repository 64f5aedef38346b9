#!/bin/bash
# The driver against a real kernel: boots Debian's stock kernel in QEMU
# (software emulation) with an initramfs that holds busybox, the kernel
# modules hid, uhid, hid-generic, uinput and evdev, the driver and
# skrib-vmcheck with the libraries they need. In the machine, skrib-vmcheck
# plugs a simulated ZIW board in through uhid, runs SkribZIW on its hidraw
# node with uinput injection and reads the pointer back from evdev
# (tests/vm/vmcheck.cpp tells the scenario).
#
# Usage: tests/vm/run.sh [BUILD_DIR] [--repeat N] [--show-log]
#   BUILD_DIR   the CMake build folder (default build); the kernel package
#               is downloaded once into BUILD_DIR/vm-cache and kept there
#               (delete that folder to take Debian's current kernel)
#   --repeat N  boot N times in a row (flakiness check)
#   --show-log  print the driver's output also when all checks pass
#               (it is printed after any failure)
# Environment: SKRIB_VM_TIMEOUT (seconds per boot, default 60).
# Ends with "N passed, N failed" (checks over all boots); exits non-zero on
# any failure, a crash or a time-out.
set -euo pipefail
start=$(date +%s.%N)
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

build=build
repeat=1
cmdline="console=ttyS0 panic=-1 quiet"
while [ $# -gt 0 ]; do
  case "$1" in
    --repeat)
      [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || { echo "usage: tests/vm/run.sh [BUILD_DIR] [--repeat N] [--show-log]" >&2; exit 2; }
      repeat=$2; shift 2 ;;
    --show-log) cmdline+=" skrib.showlog"; shift ;;
    -*) echo "usage: tests/vm/run.sh [BUILD_DIR] [--repeat N] [--show-log]" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
timeout_s=${SKRIB_VM_TIMEOUT:-60}
modules=(hid uhid hid-generic uinput evdev) # in load order

elapsed() { echo "$(date +%s.%N) $1" | awk '{printf "%.1f", $1 - $2}'; }

# --- Host tools and the programs ---------------------------------------------
bash tools/deps.sh qemu-system-x86 busybox-static cpio xz-utils
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target SkribZIW skrib-vmcheck >/dev/null

# --- The kernel: Debian's package, downloaded once ---------------------------
# A kernel prepared before is used as it is (no package look-up); delete
# the cache to take Debian's current one.
cache="$build/vm-cache"
mkdir -p "$cache"
kdir=""
for d in $(ls -dt "$cache"/linux-image-*/ 2>/dev/null); do
  [ -f "$d/ready" ] && { kdir=${d%/}; break; }
done
if [ -z "$kdir" ]; then
  kpkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}') || true
  if [ -z "$kpkg" ]; then
    apt-get update -qq >/dev/null 2>&1 || true
    kpkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}') || true
  fi
  deb=""
  if [ -n "$kpkg" ]; then
    echo "vm: downloading $kpkg"
    (cd "$cache" && apt-get -q -o APT::Sandbox::User=root download "$kpkg" >/dev/null) || true
    deb=$(ls "$cache/${kpkg}"_*.deb 2>/dev/null | head -n1) || true
  fi
  if [ -z "$deb" ]; then
    echo "vm: no kernel package (apt-get download of linux-image-amd64's kernel failed)" >&2
    echo "0 passed, 1 failed"
    exit 1
  fi
  kdir="$cache/$(basename "$deb" .deb)"
  if [ ! -f "$kdir/ready" ]; then
    rm -rf "$kdir" && mkdir -p "$kdir/x" "$kdir/modules"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kdir/x" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/hid/*' './lib/modules/*/kernel/drivers/input/*'
    for m in "${modules[@]}"; do
      ko=$(find "$kdir/x/lib/modules" -name "$m.ko" | head -n1)
      [ -n "$ko" ] || { echo "vm: module $m not in $deb" >&2; echo "0 passed, 1 failed"; exit 1; }
      cp "$ko" "$kdir/modules/"
    done
    # QEMU boots the uncompressed kernel straight at its PVH entry, much
    # faster than the compressed bzImage: take it out of the bzImage (an xz
    # payload at payload_offset, after the setup sectors).
    vmlinuz=$(ls "$kdir"/x/boot/vmlinuz-*)
    setup=$(od -An -tu1 -j 0x1f1 -N1 "$vmlinuz" | tr -d ' ')
    poff=$(od -An -tu4 -j 0x248 -N4 "$vmlinuz" | tr -d ' ')
    plen=$(od -An -tu4 -j 0x24c -N4 "$vmlinuz" | tr -d ' ')
    dd if="$vmlinuz" iflag=skip_bytes,count_bytes skip=$(( (setup + 1) * 512 + poff )) count="$plen" bs=1M status=none |
      xz -dc --single-stream >"$kdir/vmlinux" 2>/dev/null || true
    if [ "$(head -c 4 "$kdir/vmlinux" | od -An -tx1 | tr -d ' ')" != 7f454c46 ]; then
      echo "vm: no ELF kernel in the bzImage's payload; booting the bzImage (slower)"
      cp "$vmlinuz" "$kdir/vmlinux"
    fi
    rm -rf "$kdir/x"
    touch "$kdir/ready"
  fi
fi

# --- The initramfs -----------------------------------------------------------
img="$build/vm-root"
rm -rf "$img"
mkdir -p "$img"/{bin,dev,proc,sys,tmp,opt/skrib,lib/modules,work/Config}
cp /bin/busybox "$img/bin/busybox"
cp "$kdir"/modules/*.ko "$img/lib/modules/"
cp "$build/app/SkribZIW" "$build/tests/vm/skrib-vmcheck" "$img/opt/skrib/"
cp Config/config.xml "$img/work/Config/"
# The shared libraries at the places the dynamic linker looks for them.
for lib in $( (ldd "$build/app/SkribZIW"; ldd "$build/tests/vm/skrib-vmcheck") |
              awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}' | sort -u); do
  cp -L --parents "$lib" "$img/"
done
sed -e "s/@MODULES@/${modules[*]}/" tests/vm/init.sh >"$img/init"
chmod +x "$img/init"
(cd "$img" && find . | cpio -o -H newc --quiet) >"$build/vm-initrd.cpio"
echo "vm: kernel ${kdir##*/}, initramfs $(du -m "$build/vm-initrd.cpio" | cut -f1) MB, prepared in $(elapsed "$start") s"

# --- Boots -------------------------------------------------------------------
passed=0 failed=0 clean=0
for run in $(seq 1 "$repeat"); do
  log="$build/vm-console.log"
  [ "$repeat" -gt 1 ] && log="$build/vm-console.$run.log"
  t0=$(date +%s.%N)
  rc=0
  timeout -k 5 "$timeout_s" qemu-system-x86_64 -machine pc,accel=tcg -cpu max -m 512M \
    -nodefaults -no-user-config -display none -no-reboot -nic none \
    -serial "file:$log" -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
    -kernel "$kdir/vmlinux" -initrd "$build/vm-initrd.cpio" \
    -append "$cmdline" >"$build/vm-qemu.log" 2>&1 || rc=$?
  wall=$(elapsed "$t0")
  tr -d '\r' <"$log" | sed -n '/^VMBOOT/,$p' | grep -v '^VMBOOT' || true
  # The machine leaves through the debug port: 2 * code + 1.
  verdict=$(tr -d '\r' <"$log" | sed -n 's/^VMCHECK passed=\([0-9]*\) failed=\([0-9]*\).*/\1 \2/p' | tail -n1)
  boot=$(tr -d '\r' <"$log" | sed -n 's/^VMBOOT \([0-9.]*\).*/\1/p' | tail -n1)
  if [ -z "$verdict" ]; then
    case $rc in
      124|137) why="timed out after $timeout_s s" ;;
      *) why="ended without a verdict (qemu exit $rc)" ;;
    esac
    echo "vm run $run: $why; console $log"
    tail -n 30 "$log" | tr -d '\r' || true
    cat "$build/vm-qemu.log" || true
    verdict="0 1"
  elif [ "$rc" -ne 1 ] && [ "$rc" -ne 3 ]; then
    echo "vm run $run: qemu exit $rc"
    verdict="$(echo "$verdict" | awk '{print $1, $2 + 1}')"
  fi
  read -r p f <<<"$verdict"
  passed=$((passed + p)) failed=$((failed + f))
  [ "$f" -eq 0 ] && [ "$rc" -eq 1 ] && clean=$((clean + 1))
  echo "vm run $run: $p passed, $f failed; kernel to /init ${boot:-?} s, machine ${wall} s wall"
done
[ "$repeat" -gt 1 ] && echo "vm: $clean of $repeat boots clean"
echo "vm: script ${0##*/} took $(elapsed "$start") s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$clean" -eq "$repeat" ]
