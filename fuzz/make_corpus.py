#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, one file a seed, a folder a target: real
conversations (frames/), what servers of rfc2217:// lines send (telnet/), and line names (names/).

Each file of frames/ and telnet/ is a run of chunks, every chunk a length byte L followed by L + 1
bytes, exactly as the fuzz targets read their input. Addresses are on 127.0.0.1 only.
"""
import os
import sys

SYNC = bytes([0x01, 0x00, 0x01, 0x02])


def frame(cls, cmd, params=b""):
    return bytes([cls, 0x00, len(params) + 1, cmd]) + params


def chunks(*parts):
    out = bytearray()
    for part in parts:
        assert 1 <= len(part) <= 256
        out.append(len(part) - 1)
        out += part
    return bytes(out)


def address_block(port, ip=(127, 0, 0, 1)):
    return bytes([0x00, 0x02, port & 0xFF, port >> 8]) + bytes(ip) + bytes(8)


CORPUS = {
    "adapter_session": chunks(
        b"\x00\x13\x01\x00", SYNC, frame(0x01, 0x00), frame(0x02, 0x01), frame(0x01, 0x08),
        frame(0x02, 0x01), frame(0x01, 0x10), frame(0x01, 0x11, bytes([8, 8, 8, 8, 1, 1, 1, 1])),
        frame(0x01, 0x0A), frame(0x0F, 0xFF), SYNC, SYNC),
    "socket_session": chunks(
        SYNC, frame(0x11, 0x01), frame(0x11, 0x03, b"\x00" + address_block(1)),
        frame(0x11, 0x0E, b"\x00ABC"), frame(0x11, 0x0F, b"\x00\x04"),
        frame(0x11, 0x0D, b"\x00\x14"), frame(0x11, 0x07, b"\x00"), frame(0x11, 0x07, b"\x03"),
        frame(0x11, 0x08, b"localhost\x00"), frame(0x11, 0x08, b"nohost.invalid\x00")),
    "socket_bad_params": chunks(
        SYNC, frame(0x11, 0x01), frame(0x11, 0x03, b"\x09" + address_block(80)),
        frame(0x11, 0x0E, b"\xF0"), frame(0x11, 0x0F, b"\x00\x80"), frame(0x11, 0x0D, b"\x00"),
        frame(0x11, 0x03, b"\x00"), frame(0x11, 0x08, b"noterminator"),
        frame(0x11, 0x02), bytes([0x11, 0x00, 0x81, 0x0E, 0x00])),
    "split_and_joined": chunks(
        *[bytes([b]) for b in SYNC], *[bytes([b]) for b in frame(0x01, 0x10, b"\x77")],
        frame(0x02, 0x01) + frame(0x01, 0x00), frame(0x05, 0x33), bytes([0x02, 0x00, 0x00, 0x01])),
    "overflow": chunks(
        SYNC, bytes([0x01, 0x00, 0xFD, 0x10]), bytes([0xEE]) * 256,
        bytes([0x11, 0x00, 0xFE, 0x0E]), frame(0x02, 0x01), bytes(200) + SYNC),
}


TELNET = {
    "options_and_data": chunks(b"\xff\xfb\x01\xff\xfd\x00ab\xff\xff", b"\xff", b"\xfdc\xff\xfa,"
                               b"e\xff\xff\x01\xff\xf0x"),
    "ser2net_refusal": chunks(b"\xff\xfd\x2c\xff\xfb\x00Port already in use\r\n"),
}

NAMES = {
    "socket": b"socket://localhost:2000",
    "rfc2217": b"rfc2217://192.168.1.20:3333",
    "listen": b"listen://:5000",
    "ipv6": b"socket://[::1]:2000",
    "bad": b"socket://user@host:1:2/x",
}


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..",
                                                                "tests", "fuzz_corpus")
    for folder, corpus in (("frames", CORPUS), ("telnet", TELNET), ("names", NAMES)):
        os.makedirs(os.path.join(top, folder), exist_ok=True)
        for name, data in corpus.items():
            with open(os.path.join(top, folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
