#!/usr/bin/python3
"""Kestrova through a real kernel SCSI stack: raidsim serves its devices over iSCSI on the host's
loopback, a QEMU guest (no KVM) boots Debian's kernel with a small initramfs, attaches the LUNs
through its SCSI midlayer (QEMU's iSCSI driver with virtio-scsi and scsi-generic, or open-iscsi in
the guest) and runs the product and sg3-utils on them; this script compares what they saw.

    guest_test.py --build BUILD --source SOURCE [--mode qemu|open-iscsi] [--keep]

Prints the measured times and one line per comparison; exits 0 when all hold, 1 when one does
not, 77 (skipped, with the reason) when QEMU or the guest's packages are missing.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import guest_image  # noqa: E402
import guest_compare  # noqa: E402

SKIP = 77
PAIR_PRODUCT = "BRIVO R5-2400"
WORLD = """
[pair alpha]
product = %s
wwn = 20000004CF8A1B2C
model = brivo
drives = 12
enclosure = bay1
path = A 0:0:0:0
path = B 0:0:1:0

[enclosure bay1]
vendor = KESTROVA
product = BAY-12
revision = 0100
serial = ENC0001
wwn = 500A0B8000112233
slots = 12
esis = 2
esi_restart_ms = 1000
path = 0:0:8:0
""" % PAIR_PRODUCT


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


class Raidsim:
    def __init__(self, build, folder):
        config = os.path.join(folder, "guest-world.conf")
        with open(config, "w") as f:
            f.write(WORLD)
        self.socket = os.path.join(folder, "sim.sock")
        self.program = os.path.join(build, "bin/raidsim")
        self.log = open(os.path.join(folder, "raidsim.err"), "w")
        self.process = subprocess.Popen([self.program, "--socket", self.socket, "--config", config,
                                         "--iscsi", "127.0.0.1:0"], stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.portal, self.luns = None, []
        deadline = time.time() + 30
        while time.time() < deadline:
            line = self.process.stdout.readline()
            if not line:
                break
            m = re.match(r"raidsim: iscsi portal (\S+)", line)
            if m:
                self.portal = m.group(1)
            m = re.match(r"raidsim: iscsi lun (\S+) (\d+) (\S+)", line)
            if m:
                self.luns.append((m.group(1), int(m.group(2)), m.group(3)))
            if line.startswith("raidsim: listening"):
                return
        raise RuntimeError("raidsim did not start")

    def ctl(self, *words):
        out = subprocess.run([self.program, "ctl", self.socket] + list(words), capture_output=True, text=True)
        if out.returncode != 0:
            raise RuntimeError("raidsim ctl %s: %s" % (" ".join(words), out.stderr))
        return out.stdout

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)


def qemu_command(kernel, initrd, share, raidsim, mode, console):
    cmd = ["qemu-system-x86_64", "-machine", "q35,accel=tcg", "-cpu", "max", "-smp", "2", "-m", "768",
           "-nographic", "-no-reboot", "-kernel", kernel, "-initrd", initrd,
           "-append", "console=ttyS0 panic=-1 loglevel=4 mitigations=off",
           "-serial", "file:" + console, "-monitor", "none",
           "-virtfs", "local,path=%s,mount_tag=share,security_model=none,id=share" % share]
    if mode == "qemu":
        cmd += ["-device", "virtio-scsi-pci,id=scsi0"]
        for target, lun, _ in raidsim.luns:
            host, port = raidsim.portal.rsplit(":", 1)
            cmd += ["-drive", "driver=iscsi,transport=tcp,portal=%s,target=%s,lun=%d,if=none,id=lun%d,"
                    "initiator-name=iqn.2024-01.org.kestrova:qemu" % (raidsim.portal, target, lun, lun),
                    "-device", "scsi-generic,drive=lun%d,bus=scsi0.0,channel=0,scsi-id=0,lun=%d" % (lun, lun)]
    else:
        # The guest reaches one address only: each connection to it runs socat to raidsim on the
        # host's loopback (a plain socket forward would serve one connection, made at start).
        port = raidsim.portal.rsplit(":", 1)[1]
        cmd += ["-netdev", "user,id=net0,restrict=on,guestfwd=tcp:10.0.2.100:3260-cmd:socat STDIO TCP:127.0.0.1:%s" %
                port, "-device", "virtio-net-pci,netdev=net0"]
    return cmd


def wait_for(path, seconds, process):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if os.path.exists(path):
            return True
        if process.poll() is not None:
            return False
        time.sleep(0.2)
    return False


def run(args):
    if not shutil.which("qemu-system-x86_64"):
        skip("qemu-system-x86_64 is not installed (scripts/bootstrap.sh installs qemu-system-x86)")
    try:
        kernel = "/boot/vmlinuz-" + guest_image.kernel_version()
        if not os.access(kernel, os.R_OK):
            skip("the kernel %s is not readable" % kernel)
        base = guest_image.base_image(os.path.join(args.build, "vm"), args.mode == "open-iscsi")
    except guest_image.ImageError as e:
        skip(str(e))
    # A machine that starts paused and keeps running for two seconds shows that QEMU runs here.
    probe = subprocess.Popen(["qemu-system-x86_64", "-machine", "none,accel=tcg", "-display", "none", "-S",
                              "-monitor", "none", "-serial", "none", "-no-user-config", "-nodefaults"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        _, error = probe.communicate(timeout=2)
        skip("QEMU cannot run here: " + error.strip()[:300])
    except subprocess.TimeoutExpired:
        probe.kill()
        probe.communicate()

    work = tempfile.mkdtemp(prefix="kestrova-guest-")
    share = os.path.join(work, "share")
    os.makedirs(os.path.join(share, "in"))
    os.makedirs(os.path.join(share, "out"))
    started = time.time()
    raidsim = Raidsim(args.build, work)
    result = 1
    try:
        target = raidsim.luns[0][0]
        with open(os.path.join(share, "params"), "w") as f:
            f.write("MODE=%s\nLUNS=%d\nPORTAL=10.0.2.100:3260\nTARGET=%s\nPAIR_PRODUCT='%s'\n" %
                    (args.mode, len(raidsim.luns), target, PAIR_PRODUCT))
        firmware = bytes((i * 31 + 7) & 0xFF for i in range(4000))
        product = guest_image.product_image(os.path.join(work, "product.cpio.gz"), args.build, args.source,
                                            {"firmware.bin": firmware})
        initrd = os.path.join(work, "initrd.gz")
        with open(initrd, "wb") as out:
            for part in (base, product):
                with open(part, "rb") as f:
                    shutil.copyfileobj(f, out)
        console = os.path.join(work, "console.log")
        qemu_log = open(os.path.join(work, "qemu.err"), "w")
        qemu = subprocess.Popen(qemu_command(kernel, initrd, share, raidsim, args.mode, console),
                                stdin=subprocess.DEVNULL, stdout=qemu_log, stderr=qemu_log)
        out = os.path.join(share, "out")
        injected = False
        if wait_for(os.path.join(out, "ready-for-faults"), 240, qemu):
            raidsim.ctl("fail", "drive", "alpha", "3")
            raidsim.ctl("event", "alpha", "B", "0x52", "data=0500", "logical drive 5 online")
            open(os.path.join(share, "in", "faults-injected"), "w").close()
            injected = True
            log = os.path.join(out, "ServerLog.log")
            deadline = time.time() + 60
            while time.time() < deadline and not guest_compare.faults_recorded(log):
                time.sleep(0.5)
            open(os.path.join(share, "in", "seen"), "w").close()
        try:
            qemu.wait(timeout=240)
        except subprocess.TimeoutExpired:
            qemu.kill()
            qemu.wait()
        elapsed = time.time() - started
        report = guest_compare.Report(out, raidsim, injected)
        report.compare_all()
        report.measurements(elapsed)
        result = 0 if report.ok() else 1
        if result != 0 or args.keep:
            print("guest files kept in " + work)
            with open(console, errors="replace") as f:
                print("---- guest console (tail) ----\n" + f.read()[-3000:])
    finally:
        raidsim.stop()
        if result == 0 and not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--mode", choices=["qemu", "open-iscsi"], default="qemu")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    sys.exit(run(args))


if __name__ == "__main__":
    main()
