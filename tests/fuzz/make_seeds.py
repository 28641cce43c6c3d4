#!/usr/bin/env python3
"""Writes the fuzzer's seed inputs: one file per kind of record sequence the loop knows."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Link layouts by their index in the fuzz target's table.
ETHERNET, SLL2, SLL, CHDLC, RAW, NULL, LOOP, PPP = 0, 1, 2, 3, 4, 7, 8, 9
PORTS_OFF, DETERMINISTIC = 0x10, 0x20


def ipv4(proto=6, ihl=5, fragment=0):
    return bytes([0x40 | ihl, 0, 0, 40, 0, 0, fragment >> 8, fragment & 0xFF, 64, proto, 0, 0,
                  10, 0, 0, 1, 10, 0, 0, 2])


def ipv6(next_header=6):
    return bytes([0x60, 0, 0, 0, 0, 20, next_header, 64]) + bytes([0x20, 1, 0xd, 0xb8] + [0] * 11 + [1]) + \
        bytes([0x20, 1, 0xd, 0xb8] + [0] * 11 + [2])


TCP = struct.pack(">HHIIBBHHH", 1000, 80, 1, 0, 0x50, 0x10, 0, 0, 0)
MACS = bytes(range(12))
HOP_BY_HOP_TO_FRAGMENT = bytes([44, 0, 1, 4, 0, 0, 0, 0])
FIRST_FRAGMENT_TO_TCP = bytes([6, 0, 0, 1, 0, 0, 0, 7])


def eth(*types, payload):
    frame = MACS
    for i, t in enumerate(types):
        frame += struct.pack(">H", t)
        if i + 1 < len(types):
            frame += b"\x00" * (4 if t == 0x8926 else 2)
    return frame + payload


def cooked2(t, payload, tag=b""):
    return struct.pack(">H", t) + b"\x00" * 18 + tag + payload


def record(payload, caplen=None):
    """A record; a caplen above the payload's size repeats the payload."""
    return struct.pack("<I", len(payload) if caplen is None else caplen)[:3] + struct.pack("<H", len(payload)) + payload


def seed(settings, *records):
    return bytes(settings) + b"".join(records)


SEEDS = {
    "ipv4_tcp": seed([ETHERNET, 4, 16, 3], record(eth(0x0800, payload=ipv4() + TCP)),
                     record(eth(0x0800, payload=ipv4(17) + TCP))),
    "ipv6_tcp_det": seed([ETHERNET | DETERMINISTIC, 4, 16, 15], record(eth(0x86DD, payload=ipv6() + TCP))),
    "ipv6_extensions": seed([ETHERNET, 4, 16, 3],
                            record(eth(0x86DD, payload=ipv6(0) + HOP_BY_HOP_TO_FRAGMENT + FIRST_FRAGMENT_TO_TCP + TCP))),
    "stacked_tags": seed([ETHERNET, 3, 8, 1],
                         record(eth(0x88A8, 0x8100, 0x9100, 0x8926, 0x0800, payload=ipv4(6, 6) + b"\0" * 4 + TCP))),
    "cooked": seed([SLL2, 4, 16, 7], record(cooked2(0x0800, ipv4() + TCP)),
                   record(cooked2(0x8100, ipv6() + TCP, b"\x00\x05\x86\xdd"))),
    "cooked_v1": seed([SLL, 4, 16, 7], record(b"\x00\x04" + MACS + b"\x00\x00\x08\x00" + ipv4() + TCP)),
    "chdlc": seed([CHDLC, 4, 16, 2], record(b"\x0f\x00\x08\x00" + ipv4() + TCP)),
    "raw": seed([RAW, 4, 16, 2], record(ipv4() + TCP), record(ipv6() + TCP), record(ipv4(6, 5, 0x2001) + TCP)),
    "null": seed([NULL, 4, 16, 2], record(b"\x02\x00\x00\x00" + ipv4() + TCP), record(b"\x00\x00\x00\x1e" + ipv6() + TCP)),
    "loop": seed([LOOP, 4, 16, 2], record(b"\x00\x00\x00\x18" + ipv6() + TCP)),
    "ppp": seed([PPP, 4, 16, 2], record(b"\xff\x03\x00\x21" + ipv4() + TCP), record(b"\x00\x57" + ipv6() + TCP)),
    "notcp": seed([ETHERNET | PORTS_OFF, 0, 0, 255], record(eth(0x0800, payload=ipv4() + TCP)),
                  record(eth(0x0806, payload=b"\1" * 28))),
    "short": seed([ETHERNET, 4, 16, 2], record(eth(0x0800, payload=ipv4()[:19])),
                  record(eth(0x86DD, payload=ipv6()[:39])), record(b"\x08")),
    # The held buffer filled exactly (two records of 32 KiB), then records of no bytes and of over 64 KiB.
    "held_buffer_edges": seed([ETHERNET, 4, 16, 3], record(eth(0x0800, payload=ipv4() + TCP), 32768),
                              record(eth(0x0800, payload=ipv4() + TCP), 32768), record(b""),
                              record(eth(0x86DD, payload=ipv6() + TCP), 70000), record(b"")),
}

if __name__ == "__main__":
    seeds = os.path.join(HERE, "seeds")
    os.makedirs(seeds, exist_ok=True)
    for old in os.listdir(seeds):
        os.remove(os.path.join(seeds, old))
    for name, data in SEEDS.items():
        with open(os.path.join(seeds, name), "wb") as f:
            f.write(data)
