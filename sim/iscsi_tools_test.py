#!/usr/bin/python3
"""raidsim's iSCSI target against libiscsi's tools (Debian libiscsi-bin), an initiator nobody here
wrote: discovery and LUN listing, INQUIRY and VPD of every LUN, READ CAPACITY(16) of the disk,
CHAP and mutual CHAP with right and wrong secrets, hostile bytes on the portal, and the SPC/SBC/
iSCSI conformance cases of iscsi-test-cu on the simulated disk.

    iscsi_tools_test.py --build BUILD [--report FILE]

--report writes the iscsi-test-cu cases run, passed and skipped (sim/README.md lists them).
Exits 0 when all hold, 1 otherwise, 77 when libiscsi-bin is not installed.
"""

import argparse
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import os

CONFIG = """
[host 0]
[host 1]
chap_user = alice
chap_secret = alicesecret12
chap_target_user = bay
chap_target_secret = baysecret123

[pair alpha]
product = BRIVO R5-2400
wwn = 20000004CF8A1B2C
model = brivo
drives = 4
enclosure = bay1
path = A 0:0:0:0
path = B 0:0:1:0 type=3

[enclosure bay1]
product = BAY-12
serial = ENC0001
wwn = 500A0B8000112233
slots = 12
path = 0:0:8:0

[disk scratch]
vendor = KESTROVA
product = SIMDISK
revision = 0200
serial = D0000001
wwn = 5000C500AABBCC01
blocks = 262144
path = 0:0:9:0

[disk secret]
product = LOCKED
serial = D0000002
blocks = 2048
path = 1:0:0:0
"""

# iscsi-test-cu cases a simulated disk must run and pass (not skip): the block commands it
# implements and the iSCSI layer's own cases.
MUST_PASS = [
    "Inquiry.Standard", "Inquiry.AllocLength", "Inquiry.EVPD", "Inquiry.MandatoryVPDSBC", "Inquiry.SupportedVPD",
    "ModeSense6.AllPages", "ModeSense6.Residuals", "Read6.Simple", "Read10.Simple", "Read10.BeyondEol",
    "Read10.ZeroBlocks", "Read16.Simple", "Read16.BeyondEol", "ReadCapacity10.Simple", "ReadCapacity16.Simple",
    "ReadCapacity16.Alloclen", "TestUnitReady.Simple", "Verify10.Simple", "Verify10.Mismatch", "Verify16.Simple",
    "Write10.Simple", "Write10.BeyondEol", "Write16.Simple", "WriteVerify10.Simple",
    "iSCSIResiduals.Read10Invalid", "iSCSIResiduals.Read10Residuals", "iSCSIResiduals.Write10Residuals",
    "iSCSITMF.AbortTaskSimpleAsync", "iSCSITMF.LUNResetSimpleAsync", "iSCSIcmdsn.iSCSICmdSnTooHigh",
    "iSCSIcmdsn.iSCSICmdSnTooLow", "iSCSIdatasn.iSCSIDataSnInvalid",
]

failures = []
checked = []


def check(condition, what):
    checked.append(what)
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def tool(*args, timeout=120):
    out = subprocess.run(list(args), capture_output=True, text=True, errors="replace", timeout=timeout)
    return out.returncode, out.stdout + out.stderr


def parse_test_cu(text):
    """{suite.test: 'passed' | 'skipped' | 'failed'}; a case that printed [SKIPPED] before its
    verdict was skipped, whatever CUnit counts it as."""
    results = {}
    suite = None
    current = None
    body = ""
    for line in text.splitlines():
        m = re.match(r"Suite: (\S+)", line)
        if m:
            suite = m.group(1)
            continue
        m = re.match(r"\s+Test: (\S+) \.\.\.(.*)$", line)
        if m:
            current = "%s.%s" % (suite, m.group(1))
            body = m.group(2)
        elif current:
            body += "\n" + line
        if current:
            # The verdict stands alone or after "..."; "[FAILED]" inside a message is the tool's
            # account of a command that was meant to fail.
            verdict = re.search(r"(?:^|\.\.\.|\s)(passed|FAILED)(?=\s|$)", body)
            if verdict:
                before = body[:verdict.start()]
                results[current] = "failed" if verdict.group(1) == "FAILED" else (
                    "skipped" if "[SKIPPED]" in before else "passed")
                current = None
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--report")
    args = parser.parse_args()
    if not shutil.which("iscsi-test-cu") or not shutil.which("iscsi-inq"):
        print("SKIPPED: libiscsi-bin is not installed (scripts/bootstrap.sh installs it)")
        return 77
    work = tempfile.mkdtemp(prefix="kestrova-iscsi-")
    config = os.path.join(work, "tools.conf")
    with open(config, "w") as f:
        f.write(CONFIG)
    sim = subprocess.Popen([os.path.join(args.build, "bin/raidsim"), "--socket", os.path.join(work, "s.sock"),
                            "--config", config, "--iscsi", "127.0.0.1:0"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    portal, luns = None, {}
    for line in sim.stdout:
        m = re.match(r"raidsim: iscsi portal (\S+)", line)
        if m:
            portal = m.group(1)
        m = re.match(r"raidsim: iscsi lun (\S+) (\d+) (\S+)", line)
        if m:
            luns[m.group(3)] = (m.group(1), int(m.group(2)))
        if line.startswith("raidsim: listening"):
            break
    try:
        run_checks(portal, luns, args.report)
    finally:
        sim.send_signal(signal.SIGTERM)
        sim.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)
    print("checks: %d passed, %d failed" % (len(checked) - len(failures), len(failures)))
    return 1 if failures else 0


def run_checks(portal, luns, report):
    host0 = "iqn.2024-01.org.kestrova.raidsim:tools.host0"
    host1 = "iqn.2024-01.org.kestrova.raidsim:tools.host1"
    check(portal is not None and len(luns) == 5, "raidsim announces its portal and five LUNs")
    check(luns.get("0:0:9:0") == (host0, 3) and luns.get("1:0:0:0") == (host1, 0),
          "LUNs follow the address order of each host")
    url = "iscsi://%s/%s/%d"

    # CHAP credentials: the protected target needs them, the open one takes AuthMethod=None.
    rc, out = tool("iscsi-ls", "-s", "iscsi://alice%%alicesecret12@%s" % portal)
    check(rc == 0 and "Target:%s Portal:%s,1" % (host0, portal) in out and host1 in out,
          "iscsi-ls discovers both targets")
    check(re.search(r"Lun:2\s+Type:ENCLOSURE_SERVICES", out) is not None and
          re.search(r"Lun:1\s+Type:PROCESSOR", out) is not None and
          re.search(r"Lun:3\s+Type:DIRECT_ACCESS \(Size:127M\)", out) is not None,
          "iscsi-ls lists the LUN types and the disk's size:\n" + out)

    rc, out = tool("iscsi-inq", url % (portal, host0, 3))
    check(rc == 0 and "Vendor:KESTROVA" in out and "Product:SIMDISK" in out and "Revision:0200" in out,
          "iscsi-inq shows the disk's identity")
    rc, out = tool("iscsi-inq", "-e", "1", "-c", "128", url % (portal, host0, 3))
    check(rc == 0 and "D0000001" in out, "iscsi-inq reads the unit serial number page")
    rc, out = tool("iscsi-inq", "-e", "1", "-c", "131", url % (portal, host0, 2))
    check(rc == 0 and "Designator Type:(3) NAA" in out and "Association:(0) LOGICAL_UNIT" in out,
          "iscsi-inq reads the enclosure's NAA designator")
    rc, out = tool("iscsi-readcapacity16", url % (portal, host0, 3))
    check(rc == 0 and "RETURNED LOGICAL BLOCK ADDRESS:262143" in out and "Total size:134217728" in out,
          "iscsi-readcapacity16 of the disk")
    rc, out = tool("iscsi-inq", url % (portal, host0, 9))
    check("PERIPHERAL QUALIFIER" in out.upper() or "Qualifier:NOT" in out or rc != 0,
          "a LUN that is not there answers with peripheral qualifier 3: " + out.strip()[:120])

    # CHAP on host 1.
    rc, out = tool("iscsi-inq", url % (portal, host1, 0))
    check(rc != 0, "without CHAP secrets the protected target refuses the login")
    rc, out = tool("iscsi-inq", "iscsi://alice%%alicesecret12@%s/%s/0" % (portal, host1))
    check(rc == 0 and "Product:LOCKED" in out, "CHAP with the right secret logs in")
    rc, out = tool("iscsi-inq", "iscsi://alice%%wrongsecret99@%s/%s/0" % (portal, host1))
    check(rc != 0, "CHAP with a wrong secret is refused")
    rc, out = tool("iscsi-inq", "iscsi://alice%%alicesecret12@%s/%s/0?target_user=bay&target_password=baysecret123" %
                   (portal, host1))
    check(rc == 0 and "Product:LOCKED" in out, "mutual CHAP: the target proves its own secret")
    rc, out = tool("iscsi-inq", "iscsi://alice%%alicesecret12@%s/%s/0?target_user=bay&target_password=notitssecret" %
                   (portal, host1))
    check(rc != 0, "mutual CHAP: a target answer that does not match is refused by the initiator")

    # Hostile bytes: a header with a 16 MiB data segment, and garbage; the portal keeps serving.
    host, port = portal.rsplit(":", 1)
    for payload in (bytes([0x43, 0x87, 0, 0, 0, 0xFF, 0xFF, 0xFF]) + bytes(40), bytes(range(48)) * 3):
        s = socket.create_connection((host, int(port)), timeout=10)
        s.sendall(payload)
        try:
            closed = s.recv(4096) == b""
        except socket.timeout:
            closed = False
        s.close()
        check(closed, "the target closes a connection that sends %d hostile bytes" % len(payload))
    rc, out = tool("iscsi-inq", url % (portal, host0, 3))
    check(rc == 0, "the target still serves after hostile connections")

    rc, out = tool("iscsi-test-cu", "--dataloss", "-t", "ALL", url % (portal, host0, 3), timeout=600)
    results = parse_test_cu(out)
    passed = sorted(k for k, v in results.items() if v == "passed")
    skipped = sorted(k for k, v in results.items() if v == "skipped")
    failed = sorted(k for k, v in results.items() if v == "failed")
    check(len(results) > 200, "iscsi-test-cu ran %d cases" % len(results))
    check(not failed, "no iscsi-test-cu case fails: %s" % " ".join(failed))
    missing = [c for c in MUST_PASS if results.get(c) != "passed"]
    check(not missing, "the cases a simulated disk must pass ran and passed: missing %s" % " ".join(missing))
    print("iscsi-test-cu: %d cases, %d passed, %d skipped, %d failed" %
          (len(results), len(passed), len(skipped), len(failed)))
    if report:
        with open(report, "w") as f:
            f.write("passed %d: %s\n\nskipped %d: %s\n\nfailed %d: %s\n" % (
                len(passed), " ".join(passed), len(skipped), " ".join(skipped), len(failed), " ".join(failed)))


if __name__ == "__main__":
    sys.exit(main())
