#!/usr/bin/env python3
"""Writes the message table of db\\MessageFile.dll, the event log's message file of the "oslog"
channel (oslog_channel_win.cc).

The channel reports every event under the identifier severity bits | facility 2 | the event ID's
low 16 bits, with two insertion strings, device and message. Event IDs come from the server and
from every module, so the table cannot list the IDs that exist: it gives each of the 3 x 65,536
identifiers the channel can produce the same text, "%1: %2", which is what the other channels
show. The table is written in the resource's binary form directly (MESSAGE_RESOURCE_DATA: one
block per severity, one entry per identifier), because the message compiler takes minutes for
this many messages.

Usage: make_message_table.py OUTPUT.bin
"""
import os
import struct
import sys

SEVERITIES = (0x40000000, 0x80000000, 0xC0000000)  # informational, warning, error
FACILITY = 0x00020000
TEXT = b"%1: %2\r\n\0"


def entry(text: bytes) -> bytes:
    # MESSAGE_RESOURCE_ENTRY: length of the whole entry (a multiple of 4), flags 0 (ANSI), text.
    size = 4 + len(text)
    padding = (-size) % 4
    return struct.pack("<HH", size + padding, 0) + text + b"\0" * padding


def table() -> bytes:
    one = entry(TEXT)
    header_size = 4 + 12 * len(SEVERITIES)
    blocks = b""
    offset = header_size
    for severity in SEVERITIES:
        low = severity | FACILITY
        blocks += struct.pack("<III", low, low | 0xFFFF, offset)
        offset += len(one) * 0x10000
    return struct.pack("<I", len(SEVERITIES)) + blocks + one * (0x10000 * len(SEVERITIES))


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: make_message_table.py OUTPUT.bin", file=sys.stderr)
        return 2
    data = table()
    temporary = sys.argv[1] + ".tmp"
    with open(temporary, "wb") as out:
        out.write(data)
    os.replace(temporary, sys.argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
