#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/seed-*.

A handful of small, realistic inputs per target, in each target's input layout (see the comment
at the top of fuzz/<target>_fuzz.cc). Inputs that a fuzz run found and that once crashed are kept
beside the seeds under other names (crash-*, regress-*) and are not touched here.

Usage: fuzz/make_seeds.py            (run from anywhere; rewrites the seed-* files)
"""
import hashlib
import hmac
import os
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent
SOURCE = ROOT.parent
MARKER = (b"=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=-\\=ENDOFHASHTABLE"
          b"-/=-/=-/=-/=-/=-/=-/=-/=-/=-/=-/=-/=-/")


def write(target, name, data):
    folder = ROOT / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / ("seed-" + name)).write_bytes(data)


def serialized(pairs, closed=True):
    out = b"".join(k + b"\0" + v + b"\0" for k, v in pairs)
    return out + (b"\0" if closed else b"")


def variable_table():
    write("variable_table", "request", b"\0" + serialized(
        [(b"module", b"server"), (b"method", b"ViewLogs"), (b"RemoteUser", b"admin")]))
    write("variable_table", "duplicates", b"\0" + serialized(
        [(b"ServerLoop", b"2"), (b"ServerLoop0Ip", b"10.1.1.1"), (b"ServerLoop", b"1")]))
    write("variable_table", "unclosed", b"\0" + serialized([(b"key", b"value"), (b"cut", b"of")], False)[:-3])
    write("variable_table", "text", b"\1" + b"'comment\nmodule = server\nQuoted = \"  spaced  \"\n"
          b"noequals\n\\\\also comment\n" + MARKER + b"\nsecond = table\n")
    write("variable_table", "longline", b"\1" + b"long = " + b"x" * 620 + b"\nshort=1\n")


def property_file():
    server_ini = (SOURCE / "data/db/server.ini").read_bytes()
    write("property_file", "server_ini", b"\0" + server_ini)
    write("property_file", "email_ini", b"\0" + b"\0\n'\\\\\\\\\\This is the email configuration file.\n"
          b"version = 3\nEmailLoop = 1\nEmailLoop0Address = ops@example.com\nEmailLoop0Filter = IWE\n" + MARKER + b"\n")
    write("property_file", "quotes", b"\0" + b"a = \"\"x\"\"\nb =  \" lead\"\nc = tab\t\n d = 4\n")
    strings = (SOURCE / "data/db/strings.db").read_bytes().split(b"\n")[:40]
    write("property_file", "strings_db", b"\1" + b"\n".join(strings) + b"\n")
    write("property_file", "strings_edge", b"\1" + b"a = 1\r\nb=2\nb = 3 \n'x = y\n = empty\nlast=nolf")


def packet(kind, data, identity=b"SERIAL01--0A000001", number=7, version=2, address=0x0A000001, time=1700000000):
    body = b"nKestNetPac\0" + struct.pack(">III", kind, version, address) + identity + b"\0"
    body += struct.pack(">II", time, len(data)) + data
    if version >= 2:
        body += struct.pack(">I", number)
    return body


def datagrams(*items):
    return b"".join(struct.pack("<H", len(d)) + d for d in items)


def network_packet():
    checkin = b"host-a".ljust(64, b"\0") + struct.pack(">II", 1, 2)
    units = b"\nBrivo0123456789ABCDEF 1\nBrivoFEDCBA9876543210 4\nEnclosure500A0B8000123456 2\0"
    write("network_packet", "checkin", datagrams(packet(1, checkin), packet(1, checkin, number=8)))
    write("network_packet", "unit_list", datagrams(packet(1, checkin), packet(2, units, number=9)))
    write("network_packet", "take_over", datagrams(packet(4, b"Brivo0123456789ABCDEF\0", number=3),
                                                   packet(3, b"", number=4)))
    write("network_packet", "old_version", datagrams(packet(1, checkin, version=1), packet(255, b"", number=1)))
    bad = packet(1, checkin)
    write("network_packet", "malformed", datagrams(bad[:-5], b"nKestNetPac\0" + b"\xff" * 20, b"UDP junk"))


def network_key(text):
    """The derived key and its id, as the server derives them from a typed key text."""
    key = hmac.new(text, b"Kestrova network key 1", hashlib.sha256).digest()
    return key, hmac.new(key, b"Kestrova network key id", hashlib.sha256).digest()[:4]


def signed(datagram, text, time_ms=1700000000000, nonce=b"\x01" * 8):
    """datagram with the authentication trailer of the key typed as text."""
    key, key_id = network_key(text)
    head = b"KNA1" + key_id + struct.pack(">Q", time_ms) + nonce
    return datagram + head + hmac.new(key, datagram + head, hashlib.sha256).digest()


def network_trailer():
    key_a = b"fuzz site key A, sixteen+"
    key_b = b"fuzz site key B, sixteen+"
    checkin = packet(1, b"host-a".ljust(64, b"\0") + struct.pack(">II", 0, 0))
    units = packet(2, b"\nBrivo0123456789ABCDEF 1\0", number=9)

    def item(mode, data, offset=0, flip=None):
        out = bytes([mode]) + struct.pack("<hH", offset, len(data)) + data
        return out + (struct.pack("<H", flip) if flip is not None else b"")
    # A trailer made in Python for key A at the receiver's moment: the target's own format.
    write("network_trailer", "python_signed", b"\3" + item(0, signed(checkin, key_a)) +
          item(0, signed(units, key_b, nonce=b"\x02" * 8)) + item(0, signed(units, key_a, time_ms=1700000040000)))
    write("network_trailer", "target_signed", b"\1" + item(1, units) + item(2, units) + item(3, checkin) +
          item(1, checkin, offset=301) + item(1, checkin, offset=-300))
    write("network_trailer", "altered", b"\3" + item(4, units, flip=5) + item(4, checkin, flip=800) +
          item(0, signed(units, key_a)[:-1]) + item(0, units) + item(0, b"KNA1" * 20))
    write("network_trailer", "damaged_key_file", b"\0" + item(1, checkin) + item(0, signed(checkin, key_a)))


def event_log_record(number, level, date, time, device, message):
    fields = [str(number), str(level), date, time, device, message]
    return ("".join('"' + f.replace('"', '""') + '",' for f in fields[:5]) + '"' + fields[5] + '"\n').encode()


def event_log():
    header = b'"Log Number","Concern Level","Date","Time","Device","Message",\n'
    records = b"".join(event_log_record(n, n % 3, "03/01/24", "12:00:%02d" % n, "Server host1",
                                        "Event number %d" % n) for n in range(1, 9))
    choices = bytes([1, 5, 0, 1, 3, 0, 2, 7])
    write("event_log", "plain", b"Brivo0123456789ABCDEF\0The array is critical.\0" + choices + header + records)
    escaped = header + b'"1","2","03/01/24","12:00:00","dev ""x""","line\\nbreak \\\\ and ""quote"""\n'
    write("event_log", "escaped", b"dev\0msg \"q\" \\ end\0" + choices + escaped)
    write("event_log", "cut_last_line", b"d\0m\0" + choices + header + records + b'"9","1","03/01/24","12:0')
    write("event_log", "out_of_order", b"d\0m\0" + bytes([1, 0x20, 0, 1, 50, 1, 2, 0]) + header +
          event_log_record(5, 0, "01/01/24", "00:00:00", "a", "b") + event_log_record(2, 1, "x", "y", "c", "d") +
          b"garbage line without quotes\n" + event_log_record(2147483647, 2, "z", "z", "z", "z"))
    write("event_log", "empty", b"d\0m\0" + choices)


def frontend_request():
    auth = b"Basic YWRtaW46cGluZWNvbmU="
    def request(method, path, query, ctype, authorization, user, body=b""):
        return b"\n".join([method, path, query, ctype, authorization, user]) + b"\n" + body
    write("frontend_request", "get", request(b"GET", b"", b"module=server&method=ViewLogs&EndIndex=5", b"", auth, b""))
    write("frontend_request", "template", request(b"GET", b"", b"HTMLPath=../Server/html/page.htm&Value=%3Cb%3E&Raw=x",
                                                  b"", b"", b"admin"))
    write("frontend_request", "export", request(b"GET", b"", b"ExportText=../../db/ServerLog.log", b"", auth, b""))
    write("frontend_request", "api", request(b"POST", b"/api/server/GetEmailConfig", b"x=1",
                                             b"application/x-www-form-urlencoded", auth, b"", b"module=a&method=b"))
    multipart = (b"--XyZ\r\nContent-Disposition: form-data; name=\"module\"\r\n\r\nBrivo\r\n"
                 b"--XyZ\r\nContent-Disposition: form-data; name=\"UploadedFile\"; filename=\"C:\\\\dir\\\\a.bin\"\r\n"
                 b"Content-Type: application/octet-stream\r\n\r\n\x00\x01\x02\r\n--XyZ--\r\n")
    write("frontend_request", "multipart", request(b"POST", b"", b"", b"multipart/form-data; boundary=XyZ", auth, b"",
                                                   multipart))
    qcli = (b"---------------QcLiPoStKv1234\r\nContent-Disposition: form-data; name=\"UploadedFile\"; "
            b"filename=\"cfg.bin\"\r\n\r\nDATA---------------QcLiPoStKv1234--\r\n")
    write("frontend_request", "qcli_upload", request(b"POST", b"", b"module=Brivo&method=qcli&p0=config",
                                                     b"multipart/form-data; boundary=---------------QcLiPoStKv1234",
                                                     auth, b"", qcli))
    write("frontend_request", "static", request(b"GET", b"/images/tab.gif", b"", b"", b"", b""))
    write("frontend_request", "refused", request(b"GET", b"", b"a=1", b"", b"Basic bad", b""))


def multipart():
    standard = (b"preamble\r\n--B0undary\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
                b"--B0undary\r\ncontent-disposition: FORM-DATA; name=\"f\"; filename=\"../x\\\"y\\\".txt\"\r\n"
                b"Content-Type: text/plain\r\n\r\nbody\r\n--B0undary--\r\n")
    write("multipart", "standard", b"multipart/form-data; boundary=B0undary\n\x04" + standard)
    write("multipart", "quoted_boundary", b"Multipart/Form-Data; charset=x; boundary=\"a;b\"\n\x02"
          b"--a;b\r\nContent-Disposition: form-data; name=x\r\n\r\nv\r\n--a;b--")
    write("multipart", "qcli", b"multipart/form-data; boundary=-----QcLi\n\x03-----QcLi\r\n"
          b"Content-Disposition: form-data; name=\"UploadedFile\"; filename=\"f\"\r\n\r\nBYTES----QcLi--\r\n")
    write("multipart", "urlencoded", b"Basic YWRtaW46cGluZWNvbmU=\n\x05a=1&b=%41%zz&&=x&c&d=+plus+")
    write("multipart", "credentials", b"basic YWRt-W46_GluZWNvbmU\n\x01")


def qcli_answer():
    page = (b"<html><body>\n<!-- qcli script -->\n<pre> rest of line\nController A: Good\r\n"
            b"Confirmation is required to complete this operation.\n</pre>\n</body></html>\n")
    plain = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % len(page) + page
    write("qcli_answer", "plain", b"\x05\x00" + plain)
    chunks = b"".join(b"%x\r\n" % len(c) + c + b"\r\n" for c in (page[:40], page[40:]))
    chunked = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks + b"0\r\n\r\n"
    write("qcli_answer", "chunked", b"\x02\x01" + chunked)
    write("qcli_answer", "refused", b"\x3f\x00HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n")
    write("qcli_answer", "until_close", b"\x10\x02HTTP/1.0 200 OK\r\nContent-Type: binary/octet-stream\r\n\r\n\x00\x01")
    write("qcli_answer", "bad_chunk", b"\x01\x00HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n")


def good(data):
    return bytes([4]) + struct.pack("<H", len(data)) + data


def check_condition(key, asc):
    sense = bytes([0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, 0, 0, 0, 0, 0])
    return bytes([2, len(sense)]) + sense + struct.pack("<H", 0)


def ses_page1(wwn, slots):
    page = bytearray(80)
    page[0] = 1
    page[2:4] = struct.pack(">H", 76)
    page[12:20] = wwn
    page[73] = slots
    return bytes(page)


def ses_page2(slot):
    page = bytearray(14 + 4 * 8)
    page[0] = 2
    page[14 + 4 * slot] = 1
    return bytes(page)


def inquiry(vendor, product, serial, device_type=0x0D):
    data = bytearray(96)
    data[0] = device_type
    data[8:16] = vendor.ljust(8)
    data[16:32] = product.ljust(16)
    data[32:36] = b"0101"
    data[36:48] = serial.ljust(12)
    return bytes(data)


def baylink_ses():
    wwn = bytes.fromhex("500A0B8000112233")
    disk = good(ses_page1(b"\0" * 8, 0)[:0]) + good(inquiry(b"SEAGATE", b"ST4000", b"ZC1A", 0)) + \
        good(struct.pack(">II", 1023, 512))
    enclosure = good(ses_page1(wwn, 4)) + good(inquiry(b"VENDOR", b"BAY", b"ENC1")) + good(b"\0" * 8) + \
        good(ses_page2(2))
    write("baylink_ses", "scan", disk + enclosure + enclosure + disk + good(ses_page2(1)) + good(b"\x84\0\0\4ok"))
    write("baylink_ses", "retries", check_condition(6, 0x29) + enclosure + check_condition(2, 0x04) +
          bytes([1]) + bytes([0]) + bytes([3, 0x08]) + struct.pack("<H", 0) + enclosure)
    esi = bytearray(ses_page2(0) + b"\0" * 120)
    esi[120] = 1
    esi[122] = 1
    esi[124] = 1
    write("baylink_ses", "upgrade", enclosure * 4 + good(ses_page1(wwn, 4)) + good(ses_page1(wwn, 4)) +
          good(bytes(esi)) + good(b"") * 8 + good(bytes(esi)) * 4)
    write("baylink_ses", "short_pages", good(b"\x01") + good(b"") + good(b"\x02\0\0\xff") + b"\x07\xff\xff")


def event_time(year, month, day, hour, minute, second):
    return struct.pack("<HBBBBBB", year, month, day, 0, hour, minute, second)


def entry(time, code, reason=b"", event_class=0):
    return time + bytes([event_class, code]) + reason.ljust(14, b"\0")[:14]


def event_log_buffer(entries, newest=None, clock=None):
    clock = clock or event_time(2024, 3, 1, 12, 0, 30)
    newest = len(entries) - 1 if newest is None else newest
    return struct.pack("<I", 16 + 24 * len(entries)) + clock + struct.pack("<HH", len(entries), newest) + \
        b"".join(entries)


def brivo_events():
    t = lambda s: event_time(2024, 3, 1, 12, 0, s)
    side_a = event_log_buffer([entry(t(1), 0x01, b"\x01\x00"), entry(t(2), 0x03, b"\x00\x05\x04"),
                               entry(t(3), 0x02, b"\0\0\0\1", 1), entry(t(5), 0x0A, b"\x00\x01" + b"\x20" * 8)])
    side_b = event_log_buffer([entry(t(4), 0x6D, b"\x02\x01\x00\x40\x08\x00" + b"\x50" * 8),
                               entry(t(6), 0x6E, b"\x00\x01\x00\x00\x0e\xfe" + b"\x50" * 8),
                               entry(t(7), 0x30, b"\x00\x01\x02" + b"\x11" * 8), entry(t(8), 0x7F, b"\xff" * 14)])
    head = lambda flags, a, b: bytes([flags]) + struct.pack("<hh", a, b) + bytes([1, 1]) + b"Array Name\x01\xffXYZW"
    write("brivo_events", "both_sides", head(0x0B, 1, -1) + struct.pack("<H", len(side_a)) + side_a + side_b)
    write("brivo_events", "replay", head(0x05, -1, -1) + struct.pack("<H", len(side_a)) + side_a + side_b)
    wrapped = event_log_buffer([entry(t(9), 0x04, b"\x07")], newest=4095)
    write("brivo_events", "wrapped", head(0x03, 4094, 0x7FFF) + struct.pack("<H", len(wrapped)) + wrapped)
    bad = event_log_buffer([entry(event_time(2000, 13, 40, 25, 61, 61), 0x03)])
    write("brivo_events", "bad_time", head(0x09, 0, 0) + struct.pack("<H", len(bad)) + bad +
          struct.pack("<I", 0xFFFFFFFF) + event_time(2024, 2, 29, 0, 0, 0) + struct.pack("<HH", 5000, 4096))
    sata = event_log_buffer([entry(t(1), code, bytes(range(i, i + 14))) for i, code in
                             enumerate([0x01, 0x06, 0x07, 0x08, 0x09, 0x10, 0x11, 0x12, 0x18, 0x34, 0x42])])
    write("brivo_events", "sata_codes", bytes([0x01]) + struct.pack("<hh", 0, 0) + bytes([2, 6]) + b"\0" * 16 +
          struct.pack("<H", len(sata)) + sata)


def brivo_buffers():
    info = bytearray(1792)
    info[0:4] = struct.pack("<I", 1792)
    info[4] = 1
    info[6] = 0xF1
    info[7] = 0xF1
    for side in (0, 1):
        record = 8 + 220 * side
        info[record:record + 16] = b"SN%014d" % side
        info[record + 72:record + 80] = bytes.fromhex("20000004CF8A1B2C")
        info[record + 182] = 0x81
        info[record + 214:record + 218] = bytes([3, 2, 6, 2])
    write("brivo_buffers", "newer_family", bytes(info))
    older = bytearray(info)
    older[6] = 0xF0
    older[228 + 182] = 0x02
    older[228 + 188] = 0xF1
    write("brivo_buffers", "older_family_b_only", bytes(older))
    write("brivo_buffers", "sense_fixed", bytes([0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00]))
    write("brivo_buffers", "sense_descriptor", bytes([0x72, 0x06, 0x29, 0x01]) + b"\0" * 28)
    write("brivo_buffers", "short", bytes(info[:300]))


def sized(data):
    return struct.pack("<H", len(data)) + data


def ses_config_page(types):
    """Page 1 with one enclosure descriptor (no vendor text) and the type headers."""
    descriptor = bytes([0, 0, len(types), 36]) + bytes.fromhex("500A0B8000112233") + b"VENDOR  PRODUCT-BAY     0001"
    headers = b"".join(bytes([t, n, 0, 0]) for t, n in types)
    body = bytes(4) + descriptor + headers
    return bytes([1, 0]) + struct.pack(">H", len(body)) + body


def ses_status_page(types, bad=None):
    elements = b""
    for t, n in types:
        elements += bytes([0, 0, 0, 0])  # the overall element
        for i in range(n):
            code = 2 if bad == (t, i) else 1
            elements += bytes([code, 0, 0x40 if t == 4 else 0, 0])
    body = bytes(4) + elements
    return bytes([2, 0]) + struct.pack(">H", len(body)) + body


def brivo_solution():
    info = bytearray(brivo_info())
    info[8 + 180] = 0xF1
    info[8 + 212] = 50
    config_head = bytearray(15872)
    config_head[512] = 0xF1  # array 0 in use
    config_head[514] = 4
    drives = bytearray(9080)
    drives[0:4] = struct.pack("<I", 9080)
    drives[4] = 3
    for i in range(3):
        entry = 8 + 72 * i
        drives[entry:entry + 8] = bytes([0x20, 0, 0, 0x04, 0xCF, 0x8A, 0x1B, i])
        drives[entry + 8] = 1 if i < 2 else 0
    types = [(1, 12), (2, 2), (3, 4), (4, 3), (6, 1)]
    enclosure = sized(ses_config_page(types)) + sized(ses_status_page(types)) + sized(bytes([4, 0, 0, 4, 1, 2, 3, 4]))
    failing = sized(ses_config_page(types)) + sized(ses_status_page(types, bad=(3, 1))) + sized(b"")
    head = bytes([0x3F, 5, 80])
    write("brivo_solution", "healthy", head + sized(bytes(info)) + sized(bytes(config_head)) + sized(b"") +
          sized(bytes(drives)) + bytes([1]) + enclosure + failing + bytes([1]) + bytes([0xF1, 0x01]) + bytes(30))
    drives[4] = 200  # more entries than the list holds
    write("brivo_solution", "drive_count", head + sized(bytes(info)) + sized(b"") + sized(b"") + sized(bytes(drives)) +
          bytes([0]) + sized(b"\x01\x00\xff\xff") + sized(b"\x02") + sized(b"") + bytes([0]))
    write("brivo_solution", "nothing_read", bytes([0x08, 0, 0]) + sized(b"") * 4 + bytes([2]) + sized(b"") * 6)


def brivo_info():
    info = bytearray(1792)
    info[0:4] = struct.pack("<I", 1792)
    info[4] = 1
    info[6] = 0xF1
    info[7] = 0xF1
    for side in (0, 1):
        record = 8 + 220 * side
        info[record + 72:record + 80] = bytes.fromhex("20000004CF8A1B2C")
        info[record + 182] = 0x81
        info[record + 214:record + 218] = bytes([3, 2, 6, 2])
    return bytes(info)


def iscsi_pdu_bytes(opcode, flags, itt, fields=b"", data=b"", lun=0):
    bhs = bytearray(48)
    bhs[0] = opcode
    bhs[1] = flags
    bhs[5:8] = len(data).to_bytes(3, "big")
    bhs[8:16] = lun.to_bytes(8, "big")
    bhs[16:20] = itt.to_bytes(4, "big")
    bhs[20:20 + len(fields)] = fields
    return bytes(bhs) + data + b"\0" * ((4 - len(data) % 4) % 4)


def iscsi_text(pairs):
    return b"".join(k + b"=" + v + b"\0" for k, v in pairs)


def iscsi_pdu():
    plain = b"iqn.2024-01.org.kestrova.raidsim:fuzz.host0"
    chap = b"iqn.2024-01.org.kestrova.raidsim:fuzz.host1"
    first = iscsi_pdu_bytes(0x43, 0x81, 1, bytes(4) + (5).to_bytes(4, "big"), iscsi_text(
        [(b"InitiatorName", b"iqn.2024-01.test:fuzz"), (b"TargetName", plain), (b"AuthMethod", b"None")]))
    operational = iscsi_pdu_bytes(0x43, 0x87, 2, bytes(4) + (5).to_bytes(4, "big"), iscsi_text(
        [(b"MaxRecvDataSegmentLength", b"65536"), (b"InitialR2T", b"No"), (b"HeaderDigest", b"CRC32C,None")]))
    command = iscsi_pdu_bytes(0x01, 0xA0, 3, (512).to_bytes(4, "big") + (5).to_bytes(4, "big"),
                              bytes(4) + bytes([0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0]), lun=1 << 48)
    data_out = iscsi_pdu_bytes(0x05, 0x80, 3, b"\xff\xff\xff\xff", bytes(range(256)) * 2)
    write("iscsi_pdu", "plain-login", first + operational + command + data_out)
    chap_start = iscsi_pdu_bytes(0x43, 0x81, 1, bytes(8), iscsi_text(
        [(b"InitiatorName", b"iqn.2024-01.test:fuzz"), (b"TargetName", chap), (b"AuthMethod", b"CHAP,None")]))
    algorithm = iscsi_pdu_bytes(0x43, 0x81, 2, bytes(8), iscsi_text([(b"CHAP_A", b"5")]))
    answer = iscsi_pdu_bytes(0x43, 0x81, 3, bytes(8), iscsi_text(
        [(b"CHAP_N", b"alice"), (b"CHAP_R", b"0x" + b"ab" * 16), (b"CHAP_I", b"7"), (b"CHAP_C", b"0b" + b"QUJD" * 4)]))
    write("iscsi_pdu", "chap-login", chap_start + algorithm + answer)
    write("iscsi_pdu", "discovery", iscsi_pdu_bytes(0x43, 0x83, 1, bytes(8), iscsi_text(
        [(b"InitiatorName", b"iqn.2024-01.test:fuzz"), (b"SessionType", b"Discovery")])) +
        iscsi_pdu_bytes(0x04, 0x80, 2, b"\xff\xff\xff\xff", iscsi_text([(b"SendTargets", b"All")])))


def main():
    for make in (variable_table, property_file, network_packet, network_trailer, event_log, frontend_request, multipart,
                 qcli_answer, baylink_ses, brivo_events, brivo_buffers, brivo_solution, iscsi_pdu):
        make()


if __name__ == "__main__":
    os.chdir(ROOT)
    main()
