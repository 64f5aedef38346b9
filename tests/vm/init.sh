#!/bin/busybox sh
# /init of the test machine (tests/vm/run.sh puts it into the initramfs):
# no root file system, no udevd; devtmpfs makes the device nodes.
/bin/busybox --install -s /bin
export PATH=/bin HOME=/tmp
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
ip link set lo up # the driver's local links (no other network)
echo "VMBOOT $(cut -d' ' -f1 /proc/uptime) s after the kernel started"
for m in @MODULES@; do
  insmod "/lib/modules/$m.ko" || echo "FAIL insmod $m"
done
/opt/skrib/skrib-vmcheck --driver /opt/skrib/SkribZIW --workdir /work --screen 1280x800 --log /tmp/driver.log
rc=$?
if grep -q skrib.showlog /proc/cmdline && [ "$rc" -eq 0 ]; then
  echo "---- driver output"; cat /tmp/driver.log; echo "----"
fi
echo "VMEND $(cut -d' ' -f1 /proc/uptime) s after the kernel started, checker exit $rc"
# Leave through the debug-exit port (QEMU exits with 2 * code + 1).
if [ "$rc" -eq 0 ]; then code='\000'; else code='\001'; fi
printf "$code" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
poweroff -f
