"""What the test guest saw, compared field by field (tests/vm/guest_test.py).

Sources, all in the guest's output folder: sysfs.txt (the kernel), sg/*.txt (sg3-utils),
server.out (the server's scan records and the RAID module's monitor), ServerLog.log (the event
log), baylink_*.txt (the enclosure library and the RAID module's SES decoding, by guest_probe).
"""

import os
import re

# sg_ses's names of SES element types, by type code.
ELEMENT_TYPES = {
    0x01: "Device slot", 0x02: "Power supply", 0x03: "Cooling", 0x04: "Temperature sensor",
    0x06: "Audible alarm", 0x07: "Enclosure services controller electronics", 0x0E: "Enclosure",
    0x17: "Array device slot",
}
# sg_ses's names of element status codes.
STATUS_NAMES = {
    "Unsupported": 0, "OK": 1, "Critical": 2, "Noncritical": 3, "Unrecoverable": 4, "Not installed": 5,
    "Unknown": 6, "Not available": 7, "No access allowed": 8,
}
DRIVE_FAILED = "SAS drive ID 3 in slot 3"
CONTROLLER_EVENT = "Logical drive 5 is online."


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def faults_recorded(log_path):
    text = read(log_path)
    return DRIVE_FAILED in text and CONTROLLER_EVENT in text


def parse_sysfs(text):
    devices = {}
    for line in text.splitlines():
        if line.startswith("sysfs "):
            fields = dict(f.split("=", 1) for f in line.split()[2:])
            fields["hctl"] = line.split()[1]
            devices[fields["sg"]] = fields
    return devices


def parse_scan_records(text):
    """The server's record blocks by device name."""
    records = {}
    for block in text.split("---------------- Device Name : ")[1:]:
        name = block.split("\n", 1)[0].strip()
        fields = {}
        for line in block.split("\n")[1:10]:
            m = re.match(r"(.+?)\s*: (.*)$", line)
            if m:
                fields[m.group(1).strip()] = m.group(2)
        records[name] = fields
    return records


def parse_sg_inq(text):
    fields = {}
    for key, name in (("vendor", "Vendor identification"), ("product", "Product identification"),
                      ("revision", "Product revision level"), ("serial", "Unit serial number")):
        m = re.search(r"^\s*%s: (.*)$" % name, text, re.M)
        if m:
            fields[key] = m.group(1).rstrip()
    m = re.search(r"PDT=(\d+)", text)
    if m:
        fields["type"] = int(m.group(1))
    return fields


def parse_sg_ses_status(text):
    """(type name, element index or -1 for overall, status code) in page order."""
    elements = []
    kind = None
    index = None
    for line in text.splitlines():
        m = re.match(r"\s*Element type: ([^,]+),", line)
        if m:
            kind = m.group(1)
            continue
        if re.match(r"\s*Overall descriptor:", line):
            index = -1
            continue
        m = re.match(r"\s*Element (\d+) descriptor:", line)
        if m:
            index = int(m.group(1))
            continue
        m = re.search(r"status: (.+)$", line)
        if m and kind is not None and index is not None:
            elements.append((kind, index, STATUS_NAMES.get(m.group(1).strip(), -1)))
            index = None
    return elements


def baylink_fields(line):
    parts = line.split("^")
    fields = {"name": parts[0]}
    for p in parts[1:]:
        k, _, v = p.partition(":")
        fields[k] = v
    return fields


def blank_to_underscore(text, width):
    return "".join(c if c.isalnum() else "_" for c in text.ljust(width)[:width])


class Report:
    def __init__(self, out, raidsim, injected):
        self.out = out
        self.raidsim = raidsim
        self.injected = injected
        self.failures = []
        self.compared = 0

    def check(self, condition, what):
        self.compared += 1
        print(("ok   " if condition else "FAIL ") + what)
        if not condition:
            self.failures.append(what)

    def ok(self):
        return not self.failures and self.compared > 0

    def compare_all(self):
        sysfs = parse_sysfs(read(os.path.join(self.out, "sysfs.txt")))
        self.check(len(sysfs) == len(self.raidsim.luns), "the guest kernel shows every LUN (%d of %d)" %
                   (len(sysfs), len(self.raidsim.luns)))
        self.compare_scan(sysfs)
        self.compare_identity(sysfs)
        self.compare_enclosure(sysfs)
        self.compare_buffers(sysfs)
        self.compare_events()

    def compare_scan(self, sysfs):
        records = parse_scan_records(read(os.path.join(self.out, "server.out")))
        for sg, dev in sorted(sysfs.items()):
            rec = records.get("/dev/" + sg)
            self.check(rec is not None, "the server's scan names /dev/%s" % sg)
            if rec is None:
                continue
            self.check(rec.get("Vendor") == dev["vendor"], "scan vendor of %s: %s" % (sg, rec.get("Vendor")))
            self.check(rec.get("Product ID", "").rstrip().replace(" ", "_") == dev["model"],
                       "scan product of %s: %s" % (sg, rec.get("Product ID")))
            self.check(rec.get("Revision Level") == dev["rev"], "scan revision of %s" % sg)
            self.check(int(rec.get("Device Type", "-1"), 16) == int(dev["type"]), "scan device type of %s" % sg)
            claimed = "Yes" if dev["driver"] != "none" else "No"
            self.check(rec.get("Port.Bus.Target.LUN.Claimed", "").endswith("." + claimed),
                       "scan claimed flag of %s (driver %s)" % (sg, dev["driver"]))
            # The kernel's queue limit, rounded down to whole 4 KiB pages as the scan stores it.
            kernel_kb = dev["max_sectors_kb"] if dev["max_sectors_kb"] != "none" else dev.get("sg_limit_kb", "none")
            scan_kb = rec.get("Max Trans Size", "").replace("(KB)", "")
            if kernel_kb != "none":
                self.check(scan_kb == str(int(kernel_kb) // 4 * 4),
                           "scan transfer limit of %s: %s KB, kernel %s KB" % (sg, scan_kb, kernel_kb))
            else:
                self.check(scan_kb not in ("", "0"), "scan transfer limit of %s is known: %s KB" % (sg, scan_kb))

    def compare_identity(self, sysfs):
        lines = [baylink_fields(l[len("device "):]) for l in read(os.path.join(self.out, "baylink_scan.txt")).splitlines()
                 if l.startswith("device ")]
        by_name = {l["name"]: l for l in lines}
        for sg, dev in sorted(sysfs.items()):
            inq = parse_sg_inq(read(os.path.join(self.out, "sg/inq.%s.txt" % sg)))
            vpd = re.search(r"Unit serial number: (.*)", read(os.path.join(self.out, "sg/vpd_sn.%s.txt" % sg)))
            self.check(inq.get("type") == int(dev["type"]), "sg_inq peripheral type of %s = kernel's" % sg)
            self.check(inq.get("vendor") == dev["vendor"], "sg_inq vendor of %s = kernel's" % sg)
            line = by_name.get("/dev/" + sg)
            self.check(line is not None, "Baylink lists /dev/%s" % sg)
            if line is None:
                continue
            self.check(line.get("vendor") == blank_to_underscore(inq.get("vendor", ""), 8),
                       "Baylink vendor of %s = sg_inq %s" % (sg, inq.get("vendor")))
            self.check(line.get("Part") == blank_to_underscore(inq.get("product", ""), 16),
                       "Baylink product of %s = sg_inq %s" % (sg, inq.get("product")))
            self.check(line.get("FWVer") == blank_to_underscore(inq.get("revision", ""), 4),
                       "Baylink revision of %s = sg_inq %s" % (sg, inq.get("revision")))
            serial = vpd.group(1).strip() if vpd else ""
            self.check(line.get("Serial", "").rstrip("_") == serial,
                       "Baylink serial of %s = sg_vpd unit serial %s" % (sg, serial))
            self.check(line.get("SES") == ("Y" if dev["type"] == "13" else "N"), "Baylink SES flag of %s" % sg)

    def compare_enclosure(self, sysfs):
        enclosures = [sg for sg, d in sysfs.items() if d["type"] == "13"]
        self.check(len(enclosures) == 1, "one enclosure in the guest")
        if not enclosures:
            return
        sg = enclosures[0]
        self.check(sysfs[sg]["driver"] == "ses", "the kernel's ses driver is bound to %s" % sg)
        tools = parse_sg_ses_status(read(os.path.join(self.out, "sg/ses_es.%s.txt" % sg)))
        pages = read(os.path.join(self.out, "baylink_pages.txt"))
        product = []
        for line in pages.splitlines():
            parts = line.split()
            if parts and parts[0] == "element":
                product.append((ELEMENT_TYPES.get(int(parts[2], 16), parts[2]), int(parts[3]), int(parts[4])))
        self.check(len(tools) > 0 and len(tools) == len(product),
                   "sg_ses and the RAID module decode the same number of elements (%d, %d)" % (len(tools), len(product)))
        for i, (a, b) in enumerate(zip(tools, product)):
            self.check(a == b, "element %d: sg_ses %s, RAID module %s" % (i, a, b))
        cf = read(os.path.join(self.out, "sg/ses_cf.%s.txt" % sg))
        m = re.search(r"enclosure logical identifier \(hex\): (\w+)", cf)
        config = re.search(r"^page \S+ 1 (\w+)", pages, re.M)
        self.check(m is not None and config is not None and config.group(1)[24:40] == m.group(1),
                   "enclosure logical identifier: sg_ses %s, Baylink page 1 bytes 12-19" % (m.group(1) if m else None))
        slots = re.search(r"components=(\d+)", read(os.path.join(self.out, "sysfs.txt")))
        device_slots = len([e for e in product if e[0] == "Device slot" and e[1] >= 0])
        self.check(slots is not None and int(slots.group(1)) == device_slots,
                   "the kernel's enclosure has %s components, the page %d slots" % (slots.group(1) if slots else None, device_slots))
        firmware = read(os.path.join(self.out, "baylink_firmware.txt"))
        self.check("rc=0 " in firmware, "Baylink's firmware download through SG_IO: %s" % firmware.strip().replace("\n", " "))
        state = self.raidsim.ctl("firmware", "bay1")
        loads = re.findall(r"loads[ =:]+(\d+)", state)
        self.check(len(loads) >= 2 and all(int(n) >= 1 for n in loads[:2]),
                   "both ESIs loaded the image (raidsim: %s)" % " ".join(state.split())[:160])

    def compare_buffers(self, sysfs):
        pair = [sg for sg, d in sysfs.items() if d["type"] == "0" and d["model"].startswith("BRIVO")]
        self.check(len(pair) == 2, "both controller paths of the pair are in the guest")
        for sg in pair:
            zero = read(os.path.join(self.out, "sg/rb0.%s.txt" % sg))
            self.check("exit 0" in zero and "cdb: [3c 02 40 00 00 00 00 00 00 00]" in zero,
                       "sg_read_buffer's zero-length READ BUFFER of buffer 0x40 on %s is accepted" % sg)
            path = os.path.join(self.out, "sg/rb40.%s.bin" % sg)
            data = open(path, "rb").read() if os.path.exists(path) else b""
            self.check(len(data) == 1792, "sg_raw READ BUFFER of buffer 0x40 on %s: %d bytes, the module reads 1792" % (sg, len(data)))
            if len(data) >= 8:
                self.check(data[6] == 0xF1 and data[7] == 0xF1, "controller states in buffer 0x40 of %s: both present" % sg)
            cap = read(os.path.join(self.out, "sg/readcap.%s.txt" % sg))
            m = re.search(r"Device size: (\d+) bytes", cap)
            self.check(m is not None and int(m.group(1)) == 2048 * 512, "sg_readcap of the access volume on %s" % sg)

    def compare_events(self):
        self.check(self.injected, "the guest's server polled the pair and the faults were injected")
        log = read(os.path.join(self.out, "ServerLog.log"))
        self.check(DRIVE_FAILED in log, "the event log records the drive failure injected on the host")
        self.check(CONTROLLER_EVENT in log, "the event log records the controller event injected on the host")

    def measurements(self, elapsed):
        guest = read(os.path.join(self.out, "guest.log"))
        times = {}
        for line in guest.splitlines():
            stamp, _, what = line.partition(" ")
            times.setdefault(what.split(" ")[0], float(stamp))
        boot = times.get("devices")
        identify = (times["pair"] - times["server"]) if "pair" in times and "server" in times else None
        print("measured: guest devices ready %.1f s after the kernel started" % boot if boot else "measured: no boot time")
        if identify is not None:
            print("measured: the server identified and polled the pair %.1f s after it started" % identify)
        fw = re.search(r"seconds=([\d.]+)", read(os.path.join(self.out, "baylink_firmware.txt")))
        if fw:
            print("measured: Baylink firmware download with fail-over and fail-back %s s" % fw.group(1))
        print("measured: whole test %.1f s; %d comparisons, %d failed" % (elapsed, self.compared, len(self.failures)))
