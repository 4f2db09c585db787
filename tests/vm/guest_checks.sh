# The checks inside the test guest (run by guest_init.sh, busybox sh). Results go to /share/out
# for the host (tests/vm/guest_test.py) to compare; the host answers through files in /share/in.
#   sysfs.txt            one line per SCSI device as the kernel shows it
#   sg/*.txt             sg3-utils' decoding of every device
#   baylink_*.txt        the enclosure library's device lines, pages and firmware download
#   server.out           the server's console, ServerLog.log its event log
. /share/params
OUT=/share/out
mkdir -p $OUT/sg
log() { echo "$(cut -d' ' -f1 /proc/uptime) $*" >> $OUT/guest.log; }
wait_for() {  # wait_for FILE SECONDS
  n=0
  while [ ! -e "$1" ] && [ $n -lt $(($2 * 10)) ]; do sleep 0.1; n=$((n + 1)); done
  [ -e "$1" ]
}
attr() { cat "$1" 2>/dev/null | tr -d '\n' | sed 's/ *$//'; }

# The kernel's view of every device.
for dev in /sys/bus/scsi/devices/*:*:*:*; do
  [ -d "$dev/scsi_generic" ] || continue
  hctl=${dev##*/}
  sg=$(ls "$dev/scsi_generic")
  host=${hctl%%:*}
  driver=$(basename "$(readlink "$dev/driver" 2>/dev/null)" 2>/dev/null)
  block=$(ls "$dev/block" 2>/dev/null | head -n 1)
  kb=""; hwkb=""
  if [ -n "$block" ]; then
    kb=$(attr "/sys/block/$block/queue/max_sectors_kb")
    hwkb=$(attr "/sys/block/$block/queue/max_hw_sectors_kb")
  fi
  echo "sysfs $hctl sg=$sg type=$(attr $dev/type) vendor=$(attr $dev/vendor) model=$(attr $dev/model | tr ' ' '_')" \
       "rev=$(attr $dev/rev) driver=${driver:-none} block=${block:-none} max_sectors_kb=${kb:-none}" \
       "max_hw_sectors_kb=${hwkb:-none} host_max_sectors=$(attr /sys/class/scsi_host/host$host/max_sectors)" \
       "host_sg_tablesize=$(attr /sys/class/scsi_host/host$host/sg_tablesize)" >> $OUT/sysfs.txt
done
for e in /sys/class/enclosure/*; do
  [ -e "$e" ] && echo "enclosure ${e##*/} components=$(attr $e/components)" >> $OUT/sysfs.txt
done
log "inventory done"

# sg3-utils on every device; SES pages on enclosures, READ BUFFER on the controller pair.
for dev in /sys/bus/scsi/devices/*:*:*:*; do
  [ -d "$dev/scsi_generic" ] || continue
  sg=$(ls "$dev/scsi_generic")
  type=$(attr $dev/type)
  sg_inq /dev/$sg > $OUT/sg/inq.$sg.txt 2>&1
  sg_vpd --page=sn /dev/$sg > $OUT/sg/vpd_sn.$sg.txt 2>&1
  sg_vpd --page=di /dev/$sg > $OUT/sg/vpd_di.$sg.txt 2>&1
  if [ "$type" = "13" ]; then
    sg_ses --page=cf /dev/$sg > $OUT/sg/ses_cf.$sg.txt 2>&1
    sg_ses --page=es /dev/$sg > $OUT/sg/ses_es.$sg.txt 2>&1
    echo "$sg" > $OUT/enclosure_sg
  fi
  if [ "$type" = "0" ] && [ "$(attr $dev/model)" = "$PAIR_PRODUCT" ]; then
    # sg_read_buffer of sg3-utils 1.46 resets --length to 0 after reading its options, so it can
    # only show that a zero-length READ BUFFER is accepted; sg_raw reads the buffer itself.
    sg_read_buffer --mode=data --id=0x40 --length=1792 -vv /dev/$sg > $OUT/sg/rb0.$sg.txt 2>&1
    echo "exit $?" >> $OUT/sg/rb0.$sg.txt
    sg_raw -r 1792 -o $OUT/sg/rb40.$sg.bin /dev/$sg 3c 02 40 00 00 00 00 07 00 00 > $OUT/sg/rb40.$sg.err 2>&1
    sg_readcap /dev/$sg > $OUT/sg/readcap.$sg.txt 2>&1
  fi
done
log "sg3-utils done"

# The enclosure library through SG_IO, with the kernel's ses driver bound to the enclosure; the
# firmware download runs meanwhile the server starts.
# The probe takes the library from where the image puts it: its run path names the host's build
# folder, which the guest hides when that folder is under /tmp (a fresh tmpfs here).
probe() { LD_LIBRARY_PATH=/kestrova/lib /kestrova/guest_probe "$@"; }
cd /run
probe scan > $OUT/baylink_scan.txt 2>&1
enclosure=$(cat $OUT/enclosure_sg 2>/dev/null)
if [ -n "$enclosure" ]; then
  probe pages /dev/$enclosure > $OUT/baylink_pages.txt 2>&1
  (probe firmware /dev/$enclosure /kestrova/firmware.bin > $OUT/baylink_firmware.txt 2>&1;
   echo "rc=$?" >> $OUT/baylink_firmware.txt) &
  firmware=$!
fi
log "baylink started"

# The server with the RAID module, monitoring every second.
mkdir -p /run/inst
cp -r /kestrova/instance/. /run/inst/
cd /run/inst
log "server starting"
KESTROVA_NET_ADDRESSES=127.0.0.1 KESTROVA_BRIVO_MONITOR_MS=1000 /kestrova/server -debug 20027 > $OUT/server.out 2>&1 &
server=$!
n=0
while ! grep -q "eventsReader: A side" $OUT/server.out 2>/dev/null && [ $n -lt 1200 ]; do sleep 0.1; n=$((n + 1)); done
log "pair polled"
touch $OUT/ready-for-faults
# The host fails a drive and adds a controller event; the monitor must record both.
wait_for /share/in/faults-injected 60 && log "faults injected"
n=0
while [ $n -lt 600 ]; do
  cp db/ServerLog.log $OUT/ServerLog.log 2>/dev/null
  [ -e /share/in/seen ] && break
  sleep 0.5
  n=$((n + 1))
done
log "events checked"
kill -INT $server
wait $server
echo "server exit $?" >> $OUT/server.out
cp db/ServerLog.log $OUT/ServerLog.log 2>/dev/null
[ -n "$firmware" ] && wait $firmware
cp /run/blnkDebug.txt $OUT/blnkDebug.txt 2>/dev/null
log "all done"
