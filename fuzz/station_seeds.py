#!/usr/bin/env python3
"""Writes fuzz/corpus/station_fuzz/: a few request sequences laid out as
station_fuzz takes its input apart (fuzzInput.h: numbers little-endian,
texts after a length byte). Run again after changing that layout."""
import os
import struct

FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "station_fuzz")
CREATE, CLAIM, DESTROY, RESOLVE, SNAPSHOT, STRAY, DISCONNECT, SWEEP, TOGGLE = 0, 2, 3, 4, 5, 6, 7, 8, 9


def names(class_name, window_name=b""):
    """Well-formed names: a selector byte that is not a multiple of 8, then two texts."""
    return bytes([1, len(class_name)]) + class_name + bytes([len(window_name)]) + window_name


def known(index):
    return bytes([0, index])


def slot_only(index):
    return bytes([2, index])


def start(alive_bits, reservations, first_reuse=1):
    """Which of the six pids live, the predecessor's handles (slot, reuse, pid index), the first reuse count."""
    data = bytes([alive_bits, len(reservations)])
    for slot, reuse, pid in reservations:
        data += bytes([slot - 1]) + struct.pack("<H", reuse - 1) + bytes([pid])
    return data + struct.pack("<H", first_reuse - 1)


def step(client, op, rest=b""):
    return bytes([client, op]) + rest


def stray(kind, flags, names_bytes):
    return struct.pack("<HH", kind, flags) + b"\0\0\0\0" + names_bytes


SEEDS = {
    "create-resolve-destroy": start(0x0F, []) +
    step(0, CREATE, bytes([1]) + names(b"Main")) + step(1, RESOLVE, known(0)) + step(1, DESTROY, known(0)) +
    step(0, DESTROY, known(0)) + step(1, RESOLVE, known(0)) + step(1, CREATE, bytes([1]) + names(b"Next")) +
    step(2, SNAPSHOT),
    "reserved-claims": start(0x0F, [(1, 0x1234, 0), (2, 7, 1)]) +
    step(0, CREATE, bytes([1]) + names(b"New")) + step(2, RESOLVE, known(0)) +
    step(1, CLAIM, known(0) + bytes([1]) + names(b"Old")) + step(0, CLAIM, known(0) + bytes([1]) + names(b"Old")) +
    step(3, RESOLVE, known(0)) + step(1, DISCONNECT) + step(2, SWEEP) + step(2, SNAPSHOT),
    "dead-owner-released": start(0x0F, [(1, 0x4000, 4), (3, 9, 5)]) +
    step(0, CREATE, bytes([1]) + names(b"A")) + step(0, SWEEP) + step(1, CREATE, bytes([1]) + names(b"B")) +
    step(2, RESOLVE, known(0)) + step(2, CLAIM, known(1) + bytes([0]) + names(b"C")) +
    step(0, TOGGLE, bytes([3])) + step(3, SWEEP),
    "find-and-strays": start(0x3F, [], 0x300) +
    step(0, CREATE, bytes([1]) + names(b"Crowd", b"one")) + step(1, CREATE, bytes([1]) + names(b"crowd")) +
    step(2, STRAY, stray(20, 2, names(b"CROWD"))) + step(2, STRAY, stray(20, 0, bytes([0, 3]) + b"abc")) +
    step(3, STRAY, stray(99, 0, names(b"x"))) + step(3, RESOLVE, slot_only(1)) + step(0, DISCONNECT) +
    step(1, SNAPSHOT) + step(2, CREATE, bytes([0, 0, 2]) + b"\0\0"),
}

os.makedirs(FOLDER, exist_ok=True)
for old in os.listdir(FOLDER):
    os.remove(os.path.join(FOLDER, old))
for name, data in SEEDS.items():
    with open(os.path.join(FOLDER, name), "wb") as out:
        out.write(data)
