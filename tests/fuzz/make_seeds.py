#!/usr/bin/env python3
"""Writes the fuzzer's seed inputs: one file per kind of packet the walk knows."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def ipv4(proto=6, ihl=5):
    return bytes([0x40 | ihl, 0, 0, 40, 0, 0, 0, 0, 64, proto, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2])


def ipv6(next_header=6):
    return bytes([0x60, 0, 0, 0, 0, 20, next_header, 64]) + bytes([0x20, 1, 0xd, 0xb8] + [0] * 11 + [1]) + \
        bytes([0x20, 1, 0xd, 0xb8] + [0] * 11 + [2])


TCP = struct.pack(">HHIIBBHHH", 1000, 80, 1, 0, 0x50, 0x10, 0, 0, 0)
MACS = bytes(range(12))


def eth(*types, payload):
    frame = MACS
    for i, t in enumerate(types):
        frame += struct.pack(">H", t)
        if i + 1 < len(types):
            frame += b"\x00" * (4 if t == 0x8926 else 2)
    return frame + payload


def cooked(t, payload, tag=b""):
    return struct.pack(">H", t) + b"\x00" * 18 + tag + payload


def seed(settings, *packets):
    out = bytes(settings)
    for p in packets:
        out += struct.pack("<H", len(p)) + p
    return out


SEEDS = {
    "ipv4_tcp": seed([0, 4, 16, 3], eth(0x0800, payload=ipv4() + TCP), eth(0x0800, payload=ipv4(17) + TCP)),
    "ipv6_tcp_det": seed([4, 4, 16, 15], eth(0x86DD, payload=ipv6() + TCP)),
    "stacked_tags": seed([0, 3, 8, 1], eth(0x88A8, 0x8100, 0x9100, 0x8926, 0x0800, payload=ipv4(6, 6) + b"\0" * 4 + TCP)),
    "cooked": seed([1, 4, 16, 7], cooked(0x0800, ipv4() + TCP), cooked(0x8100, ipv6() + TCP, b"\x00\x05\x86\xdd")),
    "notcp_staged": seed([10, 0, 0, 255], eth(0x0800, payload=ipv4() + TCP), eth(0x0806, payload=b"\1" * 28)),
    "short": seed([8, 4, 16, 2], eth(0x0800, payload=ipv4()[:19]), eth(0x86DD, payload=ipv6()[:39]), b"\x08"),
}

if __name__ == "__main__":
    os.makedirs(os.path.join(HERE, "seeds"), exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(HERE, "seeds", name), "wb") as f:
            f.write(data)
