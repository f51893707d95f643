#!/usr/bin/env python3
"""Writes the hand-made seed inputs under fuzz/seeds/<target>/ (run once; the files are checked in).
Frames follow the tests' examples: the protocol's own hex examples and frames built by hand."""
import os
import struct
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return struct.pack("<H", crc)


def rtu(pdu):
    return pdu + crc16(pdu)


def ascii_frame(pdu):
    lrc = (-sum(pdu)) & 0xFF
    return b":" + (pdu + bytes([lrc])).hex().upper().encode() + b"\r\n"


def put(target, name, data):
    d = os.path.join(root, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# fuzz_serial_reply: [mode|function<<1, address, start hi, start lo, count-1, extra] + wire.
def serial(name, ascii_mode, function, addr, start, count, extra, pdu):
    head = bytes([(function << 1) | ascii_mode, addr, start >> 8, start & 0xFF, (count - 1) % 125, extra])
    put("fuzz_serial_reply", name, head + (ascii_frame(pdu) if ascii_mode else rtu(pdu)))


regs16 = bytes(range(32))
for mode, tag in ((0, "rtu"), (1, "ascii")):
    serial(f"{tag}_read16", mode, 0, 1, 1000, 16, 0, bytes([1, 3, 32]) + regs16)
    serial(f"{tag}_read1", mode, 0, 7, 0, 1, 0, bytes([7, 3, 2, 0x12, 0x34]))
    serial(f"{tag}_exception", mode, 0, 7, 0, 1, 0, bytes([7, 0x83, 2]))
    serial(f"{tag}_other_server", mode, 0, 7, 0, 1, 0, bytes([5, 3, 2, 0, 1]))
    serial(f"{tag}_write_single", mode, 1, 1, 17, 5, 0, bytes([1, 6, 0, 17, 0, 5]))
    serial(f"{tag}_write_multiple", mode, 2, 1, 1, 2, 0, bytes([1, 0x10, 0, 1, 0, 2]))
    serial(f"{tag}_diag_echo", mode, 3, 0x46, 0, 1, 0, bytes([0x46, 8, 0, 0, 0xA5, 0x37]))
    serial(f"{tag}_diag_count", mode, 3, 1, 0, 1, 6, bytes([1, 8, 0, 0x0B, 0, 42]))
    ident = b"VORTAN 300\xff" + b"1234567890123456" + b"\x00" + b"V1.02" + b"\x00" * 12 + b"M2.00" + b"\x00" * 11 + b"SN42" + b"\x00" * 12 + b"ARM"
    serial(f"{tag}_identification", mode, 4, 1, 0, 1, 0, bytes([1, 0x11, len(ident)]) + ident)
    serial(f"{tag}_identification_short", mode, 4, 1, 0, 1, 0, bytes([1, 0x11, 40]) + ident[:10])


# fuzz_tcp_reply: [function index, transaction id hi, lo, value room] + segments (size byte + bytes).
def mbap(tid, unit, pdu):
    return struct.pack(">HHHB", tid, 0, len(pdu) + 1, unit) + pdu


def tcp(name, findex, tid, room, frames, seg=255):
    stream = b"".join(frames)
    out = b""
    for i in range(0, len(stream), seg):
        chunk = stream[i:i + seg]
        out += bytes([len(chunk) | 1 if len(chunk) % 2 == 0 and len(chunk) < 255 else len(chunk)]) + chunk
    put("fuzz_tcp_reply", name, bytes([findex, tid >> 8, tid & 0xFF, room]) + out)


tcp("read16", 2, 1, 16, [mbap(1, 1, bytes([3, 32]) + regs16)])
tcp("read16_split", 2, 1, 16, [mbap(1, 1, bytes([3, 32]) + regs16)], seg=7)
tcp("stale_then_ours", 2, 5, 16, [mbap(4, 1, bytes([3, 2, 0, 9])), mbap(5, 1, bytes([3, 32]) + regs16)])
tcp("exception", 2, 3, 16, [mbap(3, 1, bytes([0x83, 2]))])
tcp("bad_length", 2, 3, 16, [struct.pack(">HHHB", 3, 0, 300, 1) + bytes([3, 2, 0, 1])])
tcp("coils", 0, 9, 20, [mbap(9, 1, bytes([1, 3, 0xFF, 0x0F, 0x01]))])
tcp("write_multiple", 7, 2, 0, [mbap(2, 1, bytes([0x10, 0, 1, 0, 2]))])
tcp("identification", 8, 1, 125, [mbap(1, 1, bytes([0x11, 12]) + b"VORTAN 300\xff\x00")])
tcp("other_function", 2, 1, 16, [mbap(1, 1, bytes([4, 2, 0, 1]))])

# fuzz_identification: [status, byte count] + data.
put("fuzz_identification", "vortan", bytes([5, len(ident)]) + ident)
put("fuzz_identification", "vortan_short_count", bytes([5, 20]) + ident)
put("fuzz_identification", "other", bytes([5, 12]) + b"OTHER METER\x00")
put("fuzz_identification", "no_indicator", bytes([5, 8]) + b"VORTAN12")
put("fuzz_identification", "failure", bytes([1, 0]))

# fuzz_settings: the file as written by the tool, and odd variants.
ini = ("[Modbus Settings]\r\nSlaveAddress=1\r\nComPort=COM1\r\nBaudRate=8\r\nEchoQueryBeforeReply=1\r\n"
       "DataBits=1\r\nParity=2\r\nStopBits=0\r\nTransmissionMode=0\r\nFlowControl=0\r\nDTR=0\r\nRTS=0\r\n"
       "SilentInterval=4\r\nConnectionMode=0\r\nRefetchDelay=15\r\nSendTimeout=1000\r\n"
       "ReceiveTimeout=2000\r\nMaxRetries=1\r\nTurnaroundDelay=100\r\nThreadPriority=3\r\n"
       "[Modbus TCP]\r\nIP Address=192.168.3.98\r\nPort=502\r\n[Modbus TCP/RTU]\r\nStart mode=0\r\n").encode()
put("fuzz_settings", "tool_written", ini)
put("fuzz_settings", "bom_lf", b"\xef\xbb\xbf" + ini.replace(b"\r\n", b"\n"))
put("fuzz_settings", "bad_values", b"[Modbus Settings]\nBaudRate=99\nParity=x\nMaxRetries=0\nSlaveAddress=300\nSilentInterval=-1\n")
put("fuzz_settings", "junk_line", b"[Modbus Settings]\nthis is not a key\n")
put("fuzz_settings", "comments", b"; comment\n# other\n[Modbus TCP]\nPort=65536\n[Unknown]\nkey=value\n")
