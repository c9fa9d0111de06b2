#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/: a handful of small,
meaningful inputs per target, laid out as each target takes its input apart
(fuzzInput.h: numbers little-endian, texts after a length byte). Run again
after changing a target's input layout."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
WM_COPYDATA = 0x4A


def text(data):
    data = data if isinstance(data, bytes) else data.encode()
    assert len(data) < 256
    return bytes([len(data)]) + data


def u(value, size):
    return (value & ((1 << (8 * size)) - 1)).to_bytes(size, "little")


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        os.remove(os.path.join(folder, old))
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


# ---- frame_reader_fuzz: schedule text, then stream tokens ----

def header(kind, length, message=0, window=0x10001, sequence=1, magic=0x314D4B52, status=0):
    return struct.pack("<IHHIIQIIQq", magic, kind, status, length, window, sequence, message, 0, 0, 0)


def raw(data):
    out = b""
    for at in range(0, len(data), 255):
        out += b"\x00" + text(data[at:at + 255])
    return out


def generated(kind_choice, copydata, length, fill=0x41, window=0x20002, sequence=7):
    return (b"\x01" + bytes([kind_choice, 0 if copydata else 1]) + u(window, 4) + bytes([sequence]) +
            u(length, 3) + bytes([fill]))


def step(op, amount):
    return bytes([((amount - 1) << 2) | op])


copy_frame = header(1, 10, WM_COPYDATA) + b"0123456789"
names = b"kivstandin\x00\x00"
write("frame_reader_fuzz", {
    "send-copydata-bytewise": text(step(0, 1) * 30 + step(2, 1) + step(3, 1) + step(0, 64) + step(3, 2)) +
    raw(copy_frame),
    "two-large-frames": text(step(1, 20) + step(3, 2) + step(1, 40) + step(3, 1)) +
    generated(0, True, 100000) + generated(2, False, 0),
    "frame-then-bad-magic": text(step(0, 40) + step(2, 1) + step(3, 2)) +
    raw(copy_frame + header(3, 0, magic=0x314D4B53)),
    "posted-copydata": text(step(0, 64) + step(3, 2)) + raw(header(2, 0, WM_COPYDATA)),
    "station-create-names": text(step(0, 10) + step(2, 1) + step(0, 64) + step(3, 2)) +
    raw(header(16, len(names), status=3) + names + header(32, 0)),
    "truncated-payload": text(step(0, 64) + step(3, 2)) + raw(header(1, 200, WM_COPYDATA) + b"x" * 20),
})

# ---- hub_frames_fuzz: flags, dwData, payload (or telmif fields, payload) ----

def relay_block(message, low, payload, flags=1):
    return bytes([flags]) + u((message << 16) | low, 8) + payload


def telmif_block(message, wparam, payload, text_mode=1):
    return bytes([2 | 4]) + u(0, 8) + u(message, 4) + u(wparam, 8) + u(text_mode, 4) + payload


write("hub_frames_fuzz", {
    "relay-ir-text": relay_block(2123, 0, b"IR 12 7 'hello' 0\x00"),
    "relay-value-state": relay_block(2214, 0, b"0000000c" + b"\x00" * 8),
    "relay-reply": relay_block(2984, 1, b"\x00" * 16),
    "telmif-rd-text": telmif_block(2187, 0, b"RD 5 1 2 'x' 12\x00"),
    "telmif-identity": telmif_block(49552, 0x5555, b""),
    "telmif-wide-value": telmif_block(49860, 0, u(7, 4) + u(70000, 4)),
    "wide-dwdata": bytes([0]) + u(0x1_0000_0000 | (2123 << 16), 8) + b"IR 1 2 'x' 0",
})

# ---- relay_fuzz: blocks of flags, dwData, length, payload ----

def block(message, payload, low=0, sender=0, null_data=False):
    flags = sender | (8 if null_data else 0)
    return bytes([flags]) + u((message << 16) | low, 4) + u(len(payload), 2) + payload


value = lambda number: b"%08x" % number + b"\x00" * 8
write("relay_fuzz", {
    "text-2189": block(2189, b"hello\x00", low=3),
    "ns-2121": block(2121, b"NS 5 12 'hello world' 7 a b\x00"),
    "value-take-state2": block(2180, value(1)),
    "answer-then-text": block(2984, value(0x1234), low=1) + block(2189, b"after\x00"),
    "system-destroy": block(0x0002, value(0)),
    "carried-closing": block(2074, value(0), low=2175),
    "wide-db-change": block(49854, u(5, 4) + u(12, 4) + u(3, 4)),
    "answer-to-self": block(2181, value(0), sender=3),
})

# ---- decode_fuzz: mode 0 quote and text, mode 1 NS command parts ----

def decode(text_bytes, quote=ord("'")):
    return b"\x00" + u(quote, 2) + text_bytes


write("decode_fuzz", {
    "ns-command": decode(b"NS 5 3 'hello world' 0 a b"),
    "empty-quotes": decode(b"IR 12 7 '' 0"),
    "adjacent-quotes": decode(b"'it''s' x"),
    "forty-words": decode(b" ".join(bytes([97 + i % 26]) for i in range(40))),
    "double-quote": decode(b"a \"b c\" d", quote=0x100 + ord('"')),
    "round-trip": b"\x01" + u(5, 4) + u(12, 4) + u(7, 4) + text("hello world") + text("a") + text("b"),
})

# ---- ini_fuzz: section, entry count, keys and values, then the file ----

def ini(section, entries, file_bytes):
    out = text(section) + bytes([len(entries)])
    for key, val in entries:
        out += text(key) + text(val)
    return out + file_bytes


write("ini_fuzz", {
    "replace-section": ini("Settings", [("Rate", "10"), ("Name", "'quoted'")],
                           b"[Settings]\nRate=5\nOld=1\n\n[Other]\nKeep=yes\n"),
    "bom-crlf": ini("Other", [("k", "v")], b"\xef\xbb\xbf[Settings]\r\nA = 1 \r\n[Other]\r\nB=2\r\n"),
    "duplicate-sections": ini("dup", [("X", "1")], b"[Dup]\nA=1\n[Other]\nB=2\n[DUP]\nC=3\n"),
    "broken-header": ini("New", [(" spaced ", " value ")], b"[A]\nk=v\n[broken\nz=1\n"),
    "refused-name": ini("bad]name", [("k", "v")], b"[A]\nk=v"),
})

# ---- profile_fuzz: edit count - 1, edits (kind, section, key, value), short size, file ----

def edit(kind, section, key, val):
    return bytes([kind]) + text(section) + text(key) + text(val)


def profile(edits, file_bytes, short=4):
    return bytes([len(edits) - 1]) + b"".join(edits) + bytes([short]) + file_bytes


write("profile_fuzz", {
    "set-existing": profile([edit(0, "Settings", "Rate", "  20  ")], b"[Settings]\nRate=10\n[Other]\nx=1\n"),
    "remove-key": profile([edit(1, "settings", "RATE", "")], b"[Settings]\nRate=10\nKeep=1\n"),
    "remove-section": profile([edit(2, "Other", "", "")], b"[Settings]\na=1\n\n[Other]\nb=2\n[Last]\nc=3\n"),
    "bom-crlf-new-key": profile([edit(0, "A", "new", "\"quoted\""), edit(0, "B", "k", "v")],
                                b"\xef\xbb\xbf[A]\r\nold=1\r\n\r\n[C]\r\nz=0\r\n"),
    "refused-key": profile([edit(0, "A", "k=x", "v"), edit(0, "A", "[k", "v")], b"[A]\nk=1\n"),
    "integer": profile([edit(0, "Num", "n", "0x1f")], b""),
})

# ---- peer_order_fuzz: steps, each an op byte (a frame by ring or socket, a hostile frame, takes) and its fields ----

RING, SOCKET, HOSTILE = 0, 2, 4
SEND, POST, REPLY, CHANNEL_ACCEPT = 1, 2, 3, 6
HEADER_BYTES = len(header(0, 0))
REPLY_RING_BYTES = 8 * 1024


def honest(way, kind, user=0, copy_length=None, queued=True):
    """Kind (0 send, 1 post, 2 reply), for a send whether it copies data, then WM_USER + user or the
    copied length, then whether a frame without payload may wait in the queue."""
    out = bytes([way, kind - 1])
    if kind == SEND:
        out += bytes([copy_length is not None])
    out += u(copy_length, 2) if copy_length is not None else bytes([user])
    return out + bytes([queued])


def post(way, queued=True):
    return honest(way, POST, user=0x10, queued=queued)


def reply(way, queued=True):
    return honest(way, REPLY, user=0x11, queued=queued)


def copy(way, length):
    return honest(way, SEND, copy_length=length, queued=False)


def hostile(how, kind):
    """The op byte, then how the header is picked; after a send, whether it copies data (these do not)."""
    return bytes([HOSTILE]) + how + (b"\x00" if kind == SEND else b"")


def any_header(data):
    assert len(data) == HEADER_BYTES
    return hostile(b"\x00" + data, int.from_bytes(data[4:6], "little"))


def near_serial(kind, offset):
    """A kind of the peers' with the serial due plus offset."""
    return hostile(bytes([2, kind - 1]) + u(offset, 1), kind)


def takes(count):
    assert 1 <= count <= 32
    return bytes([((count - 1) << 3) | 5])


write("peer_order_fuzz", {
    "garbage-header": any_header(bytes(range(7, 7 + HEADER_BYTES))) + post(RING) + takes(4),
    "lanes-with-takes": post(RING) + reply(RING) + takes(1) + copy(SOCKET, 20) + reply(RING) + takes(1) +
    post(RING) + takes(8),
    # More replies than the reply ring holds headers: the last ones take the socket.
    "reply-ring-full": reply(RING) * (REPLY_RING_BYTES // HEADER_BYTES + 10) + post(SOCKET) + takes(32) * 6 +
    reply(RING) + takes(32),
    "accept-at-the-accepting-side": post(RING) + near_serial(CHANNEL_ACCEPT, 1) + post(RING) + takes(4),
    "used-serial": post(RING) + post(SOCKET) + takes(4) + near_serial(REPLY, -1) + post(SOCKET) + takes(4),
    # 4200 bytes are too large for a ring.
    "ways-alternate": post(RING) + copy(SOCKET, 100) + reply(RING) + post(SOCKET) + copy(RING, 4200) +
    copy(RING, 300) + reply(SOCKET, queued=False) + takes(32),
})
