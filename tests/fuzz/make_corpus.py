#!/usr/bin/env python3
"""Writes the seed corpus beside this file. Each seed is: one byte k (0-16),
k read lengths, then the byte stream (see fuzz_framereader.cpp)."""
import pathlib
import struct


def crc(data):
    reg = 0xFFFF
    for byte in data:
        reg ^= byte
        for _ in range(8):
            reg = (reg >> 1) ^ 0xA001 if reg & 1 else reg >> 1
    return reg


def frame(dev, sa, fil, ch, value, head=b"\0\0\0", tail=0):
    body = bytes([dev]) + head + bytes([sa, fil, 0, ch]) + struct.pack("<IH", value, tail)
    return body + struct.pack("<H", crc(body))


def reads(*lengths, seal=0):
    return bytes([17 * seal + len(lengths), *lengths])


report = bytes.fromhex("a1 00 00 00 01 04 00 03 80 b2 e6 0e 00 00 2a 34")
command = bytes.fromhex("a3 00 00 00 02 01 00 00 80 b2 e6 0e 00 00 d5 a9")
assert report == frame(0xA1, 1, 4, 3, 250000000) and command == frame(0xA3, 2, 1, 0, 250000000)
corrupted = bytearray(report)
corrupted[9] ^= 0x10

seeds = {
    "report": reads() + report,
    "command": reads() + command,
    "two-frames": reads() + report + command,
    "split-5-11": reads(5, 11) + report + command,
    "bytewise-with-empty-reads": reads(1, 0, 1) + report + command,
    "junk-prefixed": reads(7) + bytes.fromhex("00 ff a1 13") + report + bytes.fromhex("55 aa") + command,
    "cut-frame-then-whole": reads() + report[:9] + command,
    "corrupted-between": reads(20) + report + bytes(corrupted) + command,
    "out-of-table-codes": reads(3) + frame(0xA9, 4, 5, 4, 1) + frame(0xFF, 0xFF, 0xFF, 0xFF, 0, b"\xff\xff\xff", 0xFFFF),
    "value-max": reads() + frame(0xA0, 0, 0, 0, 0xFFFFFFFF),
    "frame-then-tail": reads(16, 4) + report + command[:10],
    # Sealed by the harness every 8 bytes: frames overlap, the scan keeps every other one.
    "sealed-overlapping": reads(5, seal=3) + bytes(range(0xA0, 0xF0)),
    # Sealed every 20 bytes: four junk bytes between frames, cut in reads of 3 and 29.
    "sealed-with-gaps": reads(3, 29, seal=9) + bytes(range(0x80, 0xF0)),
}
out = pathlib.Path(__file__).resolve().parent / "corpus"
out.mkdir(exist_ok=True)
for name, data in seeds.items():
    (out / name).write_bytes(data)
