#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/: a few small inputs
per target that reach its decoder's main paths (valid files and messages,
plus typical damage). Run from anywhere; the output is committed, so this is
only needed when a format changes."""

import datetime
import os
import plistlib
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    directory = os.path.join(ROOT, target)
    os.makedirs(directory, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


def date(seconds_since_2001):
    return datetime.datetime(2001, 1, 1) + datetime.timedelta(seconds=seconds_since_2001)


# Pairing file: array of {digest, uid, created}.
pairings = [
    {"digest": bytes(range(32)), "uid": 501, "created": date(760_000_000)},
    {"digest": bytes(32), "uid": 4294967295, "created": date(1)},
]
write("pairing_file", "two_pairings.bplist", plistlib.dumps(pairings, fmt=plistlib.FMT_BINARY))
write("pairing_file", "two_pairings.xml", plistlib.dumps(pairings, fmt=plistlib.FMT_XML))
write("pairing_file", "empty.bplist", plistlib.dumps([], fmt=plistlib.FMT_BINARY))
write("pairing_file", "uid_too_large.bplist",
      plistlib.dumps([{"digest": b"x", "uid": 1 << 32, "created": date(0)}], fmt=plistlib.FMT_BINARY))
write("pairing_file", "truncated.bplist", plistlib.dumps(pairings, fmt=plistlib.FMT_BINARY)[:60])

# Property lists of every kind, binary and XML.
everything = {
    "text": "caf\u00e9 \u2603",
    "true": True,
    "negative": -5,
    "big": (1 << 64) - 1,
    "real": 2.5,
    "date": date(-31_536_000.5),
    "data": b"\x00\xffbytes",
    "array": [1, "two", [3.0, {"four": False}]],
    "empty": {},
}
write("plist", "everything.bplist", plistlib.dumps(everything, fmt=plistlib.FMT_BINARY))
write("plist", "everything.xml", plistlib.dumps(everything, fmt=plistlib.FMT_XML))
write("plist", "nested.bplist", plistlib.dumps([[[[["deep"]]]]], fmt=plistlib.FMT_BINARY))
write("plist", "shared_objects.bplist", plistlib.dumps(["same"] * 8, fmt=plistlib.FMT_BINARY))
write("plist", "uid.xml", '<?xml version="1.0"?><plist version="1.0"><dict><key>CF$UID</key>'
                          '<integer>1</integer></dict></plist>')


def buckets(*rows):
    return b"".join(struct.pack("<8d", *row) for row in rows)


def tier(granularity, retention, data):
    return {"granularity": float(granularity), "retention": float(retention), "buckets": data}


raw = buckets((700_000_030, 30, 3000, 700, 100, 100, 23.3, 23.3),
              (700_000_060, 30, 6000, 0, 200, 200, 0, 0))
minute = buckets((699_999_960, 60, 9000, 700, 100, 200, 0, 23.3))
hour = buckets((699_998_400, 60, 9000, 700, 100, 200, 0, 23.3))
history = {"tiers": [tier(0, 600, raw), tier(60, 86_400, minute), tier(3600, 2_592_000, hour)]}

# History file: {key: {"tiers": [...]}}.
write("history_file", "two_interfaces.bplist",
      plistlib.dumps({"en0": history, "utun3": {"tiers": [tier(0, 600, raw[:64])]}},
                     fmt=plistlib.FMT_BINARY))
write("history_file", "empty.bplist", plistlib.dumps({}, fmt=plistlib.FMT_BINARY))
write("history_file", "integer_granularity.bplist",
      plistlib.dumps({"en0": {"tiers": [{"granularity": 60, "retention": 600, "buckets": minute}]}},
                     fmt=plistlib.FMT_BINARY))
write("history_file", "partial_bucket.xml",
      plistlib.dumps({"en0": {"tiers": [tier(0, 600, raw + b"\x01\x02")]}}, fmt=plistlib.FMT_XML))
write("history_file", "negative_count.bplist",
      plistlib.dumps({"en0": {"tiers": [tier(0, 600, buckets((1, 1, -5, 0, 0, 0, 0, 0)))]}},
                     fmt=plistlib.FMT_BINARY))

# One tier: granularity and retention, then packed buckets.
write("history_tier", "raw", struct.pack("<2d", 0, 600) + raw)
write("history_tier", "minute", struct.pack("<2d", 60, 86_400) + minute)
write("history_tier", "hour_with_tail", struct.pack("<2d", 3600, 2_592_000) + hour + b"\x07" * 10)
write("history_tier", "nan_granularity", struct.pack("<2d", float("nan"), float("inf")) + raw)

# HTTP replies.
write("http_response", "plain", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n203.0.113.7\n")
write("http_response", "chunked",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4;ext=1\r\n2001\r\n7\r\n:db8::1\r\n0\r\n\r\n")
write("http_response", "not_found", "HTTP/1.1 404 Not Found\r\n\r\nnope")
write("http_response", "no_blank_line", "HTTP/1.1 200 OK\r\nServer: x\r\n")
write("http_response", "chunk_too_long", "HTTP/1.1 200 OK\r\ntransfer-encoding: gzip, CHUNKED\r\n\r\nff\r\nab")

# Echo-service bodies; the first byte picks the JSON key path.
write("extract_address", "plain", b"\x00 \xc2\xa0203.0.113.7\r\n")
write("extract_address", "json_default_keys", b"\x00{\"origin\": \"nope\", \"ip\": \"2001:db8::1\"}")
write("extract_address", "json_key_path", b"\x07data.ip{\"data\": {\"ip\": \"198.51.100.2\"}}")
write("extract_address", "empty_key_path", b"\x01[{\"ip\": \"192.0.2.1\"}]")
write("extract_address", "escaped", b"\x00{\"address\": \"\\u0031\\u0039\\u0032.0.2.1\"}")

# /proc texts.
write("proc_text", "fdinfo_tun", "pos:\t0\nflags:\t02\nmnt_id:\t15\nino:\t1057\niff:\tutun7\n")
write("proc_text", "fdinfo_plain", "pos:\t0\nflags:\t0100002\nmnt_id:\t29\nino:\t40\n")
write("proc_text", "stat", "4242 (a) b) c) S 1 4242 4242 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0 "
                           "123456789 1000 10 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0\n")
write("proc_text", "status", "Name:\tbash\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t1000\t1000\t1000\t1000\n"
                             "Gid:\t1000\t1000\t1000\t1000\n")
write("proc_text", "utun_name", "utun12")


# rtnetlink datagrams: 4-byte sequence, then the messages.
def pad(b):
    return b + b"\x00" * (-len(b) % 4)


def attr(kind, payload):
    return pad(struct.pack("=HH", 4 + len(payload), kind) + payload)


def message(kind, seq, body):
    return pad(struct.pack("=IHHII", 16 + len(body), kind, 0x2, seq, 0) + body)


SEQ = 7
conf = bytearray(4 * 59)
struct.pack_into("=i", conf, 0, 1)   # forwarding
struct.pack_into("=i", conf, 16, 2)  # accept_ra
link = (struct.pack("=BxHiII", 0, 1, 2, 0x11043, 0)
        + attr(3, b"eth7\x00") + attr(4, struct.pack("=I", 9000))
        + attr(23, struct.pack("=10Q", 1, 2, 1_000_000, 42, 0, 0, 0, 0, 3, 0))
        + attr(18, attr(1, b"veth\x00")) + attr(56, b"0000:00:03.0\x00")
        + attr(26, attr(2, b"\x00" * 8) + attr(10, attr(2, bytes(conf)))))
address = (struct.pack("=BBBBI", 10, 64, 0x80, 0, 2)
           + attr(1, bytes(range(16))) + attr(8, struct.pack("=I", 0x840)) + attr(11, b"\x02"))
peer = (struct.pack("=BBBBI", 10, 128, 0, 0, 3) + attr(1, bytes(16)) + attr(2, bytes([0xfe, 0x80]) + bytes(14)))
write("netlink", "link_dump", struct.pack("=I", SEQ) + message(16, SEQ, link) + message(3, SEQ, b"\x00" * 4))
write("netlink", "address_dump", struct.pack("=I", SEQ) + message(20, SEQ, address) + message(20, SEQ, peer)
      + message(20, SEQ + 1, address))
write("netlink", "error", struct.pack("=I", SEQ) + message(2, SEQ, struct.pack("=i", -13) + b"\x00" * 16))
write("netlink", "lying_length", struct.pack("=I", SEQ) + message(16, SEQ, link)[:40])

# Media words: 4-byte word, 2-byte buffer size.
for name, word, size in [("ethernet_full", 0x500030, 128), ("ethernet_cut", 0x500030, 9),
                         ("token_ring", 0x100444, 20), ("unknown_type", 0xA0, 3),
                         ("unknown_subtype", 0x9F, 0), ("wifi", 0x80 | 0x9, 1)]:
    write("media_word", name, struct.pack("<iH", word, size))


# Expansion bombs: binary plists whose shared objects, copied once per
# reference, come to millions of nodes or many megabytes. Kept small here
# (the fuzzer mutates the counts); the decoders must refuse the full-size
# shapes from their cost, before building anything.
def bplist(objects, top):
    """objects: encoded objects whose references are 2 bytes wide."""
    out = bytearray(b"bplist00")
    offsets = []
    for obj in objects:
        offsets.append(len(out))
        out += obj
    table = len(out)
    for offset in offsets:
        out += struct.pack(">I", offset)
    out += bytes(6) + bytes([4, 2]) + struct.pack(">QQQ", len(objects), top, table)
    return bytes(out)


def marker(kind, count):
    return bytes([kind | count]) if count < 15 else bytes([kind | 0x0F, 0x12]) + struct.pack(">I", count)


def refs(*indices):
    return b"".join(struct.pack(">H", i) for i in indices)


def ascii_object(text):
    return marker(0x50, len(text)) + text.encode()


def nested_pairs(levels):
    objects = [b"\x10\x01"] + [marker(0xA0, 2) + refs(i, i) for i in range(levels)]
    return bplist(objects, levels)


def shared_string(size, count):
    return bplist([ascii_object("x" * size), marker(0xA0, count) + refs(*([0] * count))], 1)


def shared_values(keys, size):
    objects = [ascii_object("v" * size)] + [ascii_object("k%d" % i) for i in range(keys)]
    objects.append(marker(0xD0, keys) + refs(*range(1, keys + 1)) + refs(*([0] * keys)))
    return bplist(objects, keys + 1)


def shared_keys(count, size):
    objects = [ascii_object("K" * size), b"\x10\x01", marker(0xD0, 1) + refs(0) + refs(1)]
    objects.append(marker(0xA0, count) + refs(*([2] * count)))
    return bplist(objects, 3)


def framed(data):
    """An IPC frame: the 4-byte big-endian length, then the payload."""
    return struct.pack(">I", len(data)) + data


bombs = {
    "bomb_nested_pairs.bplist": nested_pairs(24),
    "bomb_shared_string.bplist": shared_string(4096, 2000),
    "bomb_shared_values.bplist": shared_values(200, 4096),
    "bomb_shared_keys.bplist": shared_keys(2000, 4096),
}
for name, data in bombs.items():
    write("plist", name, data)
    write("ipc_frame", name.replace(".bplist", ""), framed(data))

# Exposition writer: name, help, label pairs split at NUL, eight value bytes.
def exposition(*parts, value=1.0):
    return b"\0".join(p.encode() if isinstance(p, str) else p for p in parts) + struct.pack("<d", value)


write("exposition", "plain", exposition("beaconbar_interface_up", "Up.", "interface", "eth0"))
write("exposition", "hostile_value",
      exposition("m_total", "Help \\ with\nnewline", "interface", 'ev"il\\\nif', "process", b"\xff\xc3(\xed\xa0\x80"))
write("exposition", "hostile_name", exposition("9bad name{}", "", "la-bel", "x", "", ""))
write("exposition", "nan", exposition("m", "h", value=float("nan")))
write("exposition", "huge_counter", exposition("m_total", "h", "a", "b", value=1.8e19))

# Reply stream: a cut byte (how the stream is split into reads), then frames
# as a service sends them: replies, an error reply, the refusal (sequence 0).
def frame(message):
    return framed(plistlib.dumps(message, fmt=plistlib.FMT_BINARY))


status = {"sequence": 1, "values": {"status": {"version": "1.0", "protocol": 1, "paired": True}}}
failure = {"sequence": 2, "values": {},
           "error": {"domain": "NSPOSIXErrorDomain", "code": 1, "description": "Operation not permitted"}}
refusal = {"sequence": 0, "values": {},
           "error": {"domain": "NSPOSIXErrorDomain", "code": 11, "description": "Too many connections"}}
write("reply_stream", "status", b"\x07" + frame(status))
write("reply_stream", "two_replies_cut_small", b"\x02" + frame(status) + frame(failure))
write("reply_stream", "refusal_then_reply", b"\x3f" + frame(refusal) + frame(status))
write("reply_stream", "tunnel_items", b"\x10" + frame({"sequence": 3, "values": {"items": [
    {"interface": "tun0", "pid": 42, "name": "vpnd", "path": "/usr/sbin/vpnd"}]}}))
