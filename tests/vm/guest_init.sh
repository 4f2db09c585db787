# The test guest's first process (run by busybox sh as /init): mounts, kernel modules, the host's
# shared folder (9p, tag "share"), the SCSI devices (by QEMU's iSCSI driver they are there at
# boot; with open-iscsi the guest logs in to raidsim through QEMU's user network, which forwards
# one address to the host's loopback), then the checks, then power off. Every step leaves a line
# in /share/out/guest.log; the host reads the results from /share/out.
/bin/busybox --install -s /bin
export PATH=/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/shm /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
ip link set lo up
mkdir -p /run/lock /var/lock
while read -r module; do
  insmod "/lib/modules/$module" 2>/dev/null || echo "insmod $module failed"
done < /etc/kestrova-modules
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share /share || {
  echo "KESTROVA-GUEST: no shared folder"
  poweroff -f
}
mkdir -p /share/out
log() { echo "$(cut -d' ' -f1 /proc/uptime) $*" >> /share/out/guest.log; }
log "booted $(uname -r)"
. /share/params

if [ "$MODE" = "open-iscsi" ]; then
  ip link set eth0 up
  ip addr add 10.0.2.15/24 dev eth0
  mkdir -p /etc/iscsi /var/lib/iscsi/nodes /var/lib/iscsi/send_targets
  echo "InitiatorName=iqn.2024-01.org.kestrova:guest" > /etc/iscsi/initiatorname.iscsi
  printf 'node.startup = manual\nnode.session.timeo.replacement_timeout = 15\n' > /etc/iscsi/iscsid.conf
  iscsid -f -d 2 > /share/out/iscsid.log 2>&1 &
  sleep 1
  # Discovery answers with raidsim's own address on the host, which the guest does not reach
  # (QEMU forwards one address to it): the node is made for the forwarded address instead.
  iscsiadm -m discovery -t sendtargets -p "$PORTAL" >> /share/out/iscsiadm.log 2>&1
  iscsiadm -m node -o new -T "$TARGET" -p "$PORTAL" >> /share/out/iscsiadm.log 2>&1
  iscsiadm -m node -T "$TARGET" -p "$PORTAL" --login >> /share/out/iscsiadm.log 2>&1
  log "open-iscsi login rc=$?"
fi

# Wait for every LUN's generic node, at most a minute of the guest's own time.
uptime_s() { cut -d. -f1 /proc/uptime; }
until=$(( $(uptime_s) + 60 ))
while [ "$(ls /sys/class/scsi_generic 2>/dev/null | wc -l)" -lt "$LUNS" ] && [ "$(uptime_s)" -lt $until ]; do
  sleep 0.1
done
found=$(ls /sys/class/scsi_generic 2>/dev/null | wc -l)
log "devices $found of $LUNS"
if [ "$found" -gt 0 ]; then
  sh /kestrova/guest_checks.sh >> /share/out/checks.log 2>&1
  log "checks rc=$?"
fi
sync
echo "KESTROVA-GUEST: done"
poweroff -f
