#!/usr/bin/env python3
"""Writes the malformed-profile corpus of tests/engine/malformed_test.cpp into this folder.

Every file is a small ICC profile (or a piece of one) with one fault; the test's table says what
is wrong with each and what opening and reading it must give. Run again after adding a case.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def be32(*values):
    return b"".join(struct.pack(">I", v & 0xFFFFFFFF) for v in values)


def be16(*values):
    return b"".join(struct.pack(">H", v & 0xFFFF) for v in values)


def s15(x):
    return be32(int(round(x * 65536)))


def sig(text):
    return text.encode("latin-1")


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def header(size, version=0x04300000, cls="mntr", space="RGB ", pcs="XYZ ", magic="acsp"):
    h = be32(size, 0, version) + sig(cls) + sig(space) + sig(pcs)
    h += be16(2026, 12, 9, 6, 0, 0)
    h += sig(magic) + be32(0, 0, 0, 0) + be32(0, 0) + be32(0)
    h += s15(0.9642) + s15(1.0) + s15(0.8249) + be32(0) + b"\0" * 16 + b"\0" * 28
    assert len(h) == 128
    return h


def profile(tags, count=None, size_field=None, entries=None, **kw):
    """tags: list of (signature, data); data is padded and laid out after the directory.
    entries: optional list of (signature, offset, size) written instead of the computed ones
    (None in a field keeps the computed value)."""
    n = len(tags)
    offset = 128 + 4 + 12 * n
    laid = []
    blob = b""
    for name, data in tags:
        laid.append((name, offset + len(blob), len(data)))
        blob += pad4(data)
    if entries is not None:
        laid = [tuple(c if c is not None else laid[i][j] for j, c in enumerate(e)) for i, e in enumerate(entries)]
    directory = be32(n if count is None else count)
    for name, off, length in laid:
        directory += sig(name) + be32(off, length)
    total = 128 + len(directory) + len(blob)
    return header(total if size_field is None else size_field, **kw) + directory + blob


def xyz(x=0.9642, y=1.0, z=0.8249):
    return sig("XYZ ") + be32(0) + s15(x) + s15(y) + s15(z)


def curv(entries):
    return sig("curv") + be32(0, len(entries)) + be16(*entries)


def text(t):
    return sig("text") + be32(0) + t


def mluc(records, pool):
    """records: (lang, country, length, offset) with offsets from the start of the tag."""
    data = sig("mluc") + be32(0, len(records), 12)
    for lang, country, length, off in records:
        data += be16(lang, country) + be32(length, off)
    return data + pool


def lut_header(kind, inputs, outputs, grid):
    return sig(kind) + be32(0) + bytes([inputs, outputs, grid, 0]) + b"".join(s15(v) for v in (1, 0, 0, 0, 1, 0, 0, 0, 1))


CASES = {}


def case(name):
    def register(fn):
        CASES[name] = fn
        return fn
    return register


good_rgb_tags = [("wtpt", xyz()), ("rTRC", curv([0, 65535]))]


@case("truncated-header.icc")
def _():
    return profile(good_rgb_tags)[:100]


@case("bad-magic.icc")
def _():
    return profile(good_rgb_tags, magic="acsX")


@case("version-5.icc")
def _():
    return profile(good_rgb_tags, version=0x05000000)


@case("tag-count-101.icc")
def _():
    return profile([("p%03d" % i, text(b"x\0")) for i in range(101)])


@case("tag-count-100.icc")
def _():
    return profile([("p%03d" % i, text(b"x\0")) for i in range(100)])


@case("tag-count-4g.icc")
def _():
    return profile(good_rgb_tags, count=0xFFFFFFFF)


@case("directory-truncated.icc")
def _():
    data = profile(good_rgb_tags, count=5)
    return data[:128 + 4 + 12 * 2]


@case("tag-offset-past-end.icc")
def _():
    return profile(good_rgb_tags + [("desc", text(b"lost\0"))], entries=[(None,) * 3] * 2 + [("desc", 0x10000, None)])


@case("tag-size-near-4gib.icc")
def _():
    # offset + size wraps around 32 bits and lands inside the file.
    return profile(good_rgb_tags + [("desc", text(b"wrap\0"))], entries=[(None,) * 3] * 2 + [("desc", None, 0xFFFFFF80)])


@case("header-size-4gib.icc")
def _():
    return profile(good_rgb_tags, size_field=0xFFFFFFFF)


@case("duplicate-tags.icc")
def _():
    return profile([("wtpt", xyz()), ("wtpt", xyz(0.5, 0.5, 0.5))])


@case("tag-size-below-8.icc")
def _():
    return profile(good_rgb_tags, entries=[("wtpt", None, 4), (None,) * 3])


@case("overlapping-tags.icc")
def _():
    # gTRC shares rTRC's start with a longer size; bTRC starts inside rTRC's table.
    off = 128 + 4 + 36
    return profile([("rTRC", curv([0, 0x4142, 0x4344, 0x4546, 65535])), ("gTRC", b""), ("bTRC", b"")],
                   entries=[(None,) * 3, ("gTRC", off, 24), ("bTRC", off + 12, 8)])


@case("shared-xyz-chain.icc")
def _():
    off = 128 + 4 + 36
    return profile([("rXYZ", xyz(0.4, 0.2, 0.0)), ("gXYZ", b""), ("bXYZ", b"")],
                   entries=[(None,) * 3, ("gXYZ", off, 20), ("bXYZ", off, 20)])


@case("curv-32767.icc")
def _():
    return profile([("rTRC", curv([i * 2 for i in range(32767)]))])


@case("curv-32768.icc")
def _():
    return profile([("rTRC", curv([i * 2 for i in range(32768)]))])


@case("curv-count-4g.icc")
def _():
    return profile([("rTRC", sig("curv") + be32(0, 0xFFFFFFF0) + be16(0, 65535))])


@case("para-type-5.icc")
def _():
    return profile([("rTRC", sig("para") + be32(0) + be16(5, 0) + s15(2.2) * 7)])


@case("mluc-outside-tag.icc")
def _():
    return profile([("desc", mluc([(0x656E, 0x5553, 400, 28)], "hi".encode("utf-16-be")))])


@case("mluc-count-wraps.icc")
def _():
    # 16 + 12 x count wraps around 32 bits, so a small offset would look past the records.
    data = sig("mluc") + be32(0, 0x15555556, 12) + be16(0x656E, 0x5553) + be32(4, 16)
    return profile([("desc", data + b"\0h\0i")])


@case("mluc-odd-offset.icc")
def _():
    return profile([("desc", mluc([(0x656E, 0x5553, 2, 29)], b"\0\0h\0i"))])


@case("desc-ascii-count-past-tag.icc")
def _():
    return profile([("desc", sig("desc") + be32(0, 0x7FFFF) + b"short\0")], version=0x02100000)


@case("text-unterminated.icc")
def _():
    return profile([("cprt", text(b"No terminator"))], version=0x02100000)


@case("clut-grid-overflow-mft2.icc")
def _():
    # 255^15 nodes: the count overflows long before any table is read.
    data = lut_header("mft2", 15, 15, 255) + be16(2, 2) + be16(0, 65535) * 15 + be16(0, 65535) * 15
    return profile([("A2B0", data)], cls="scnr", space="FCLR", pcs="Lab ")


@case("clut-grid-overflow-mft1.icc")
def _():
    data = lut_header("mft1", 8, 15, 255) + bytes(range(256)) * 8 + b"\0" * 64
    return profile([("A2B0", data)], cls="scnr", space="8CLR", pcs="Lab ", version=0x02100000)


@case("clut-grid-overflow-mab.icc")
def _():
    # mAB with 15 inputs and 255 grid points per input; only the CLUT offset is set.
    clut_offset = 32
    data = sig("mAB ") + be32(0) + bytes([15, 15, 0, 0]) + be32(0, 0, 0, clut_offset, 0)
    data += bytes([255] * 15 + [0]) + bytes([2, 0, 0, 0]) + b"\0" * 64
    return profile([("A2B0", data)], cls="scnr", space="FCLR", pcs="Lab ")


@case("mab-offset-outside.icc")
def _():
    data = sig("mAB ") + be32(0) + bytes([3, 3, 0, 0]) + be32(0x7FFFFFF0, 0, 0, 0, 0)
    return profile([("A2B0", data)])


@case("mft2-table-entries-32768.icc")
def _():
    data = lut_header("mft2", 3, 3, 2) + be16(32768, 2) + b"\0" * 64
    return profile([("A2B0", data)])


@case("mpet-clut-overflow.icc")
def _():
    # One 'clut' element with 15 inputs and 255 grid points each.
    element = sig("clut") + be32(0) + be16(15, 15) + bytes([255] * 15 + [0]) + b"\0" * 16
    data = sig("mpet") + be32(0) + be16(15, 15) + be32(1) + be32(16 + 8, len(element)) + element
    return profile([("D2B0", data)], cls="scnr", space="FCLR", pcs="Lab ")


@case("mpet-element-count-4g.icc")
def _():
    data = sig("mpet") + be32(0) + be16(3, 3) + be32(0xFFFFFFFF) + be32(24, 8)
    return profile([("D2B0", data)])


@case("pseq-recursive.icc")
def _():
    # The entry's manufacturer text is stored as a 'pseq' that is the tag itself again.
    entry = be32(0, 0) + be32(0, 0) + be32(0) + sig("pseq") + be32(0, 1)
    return profile([("pseq", sig("pseq") + be32(0, 1) + entry * 4)], cls="link")


@case("ncl2-count-4g.icc")
def _():
    data = sig("ncl2") + be32(0, 0, 0x7FFFFFFF, 3) + b"\0" * 64 + b"red\0" + b"\0" * 34
    return profile([("ncl2", data)], cls="nmcl")


@case("clrt-count-4g.icc")
def _():
    return profile([("clrt", sig("clrt") + be32(0, 0x7FFFFFFF) + b"ink\0" + b"\0" * 34)])


@case("dict-offset-outside.icc")
def _():
    data = sig("dict") + be32(0, 1, 16) + be32(0x7FFFFFF0, 8, 0x7FFFFFF8, 8)
    return profile([("meta", data)])


@case("vcgt-table-huge.icc")
def _():
    # A table of 3 channels x 65535 entries x 2 bytes that the tag does not hold.
    data = sig("vcgt") + be32(0, 0) + be16(3, 65535, 2) + b"\0" * 16
    return profile([("vcgt", data)])


@case("bfd-count-huge.icc")
def _():
    data = sig("bfd ") + be32(0, 0x7FFFFFFF) + be16(1, 2) + be32(0x7FFFFFFF) + b"\0" * 8
    return profile([("bfd ", data)], cls="prtr", space="CMYK", pcs="Lab ", version=0x02100000)


@case("foreign-types.icc")
def _():
    # Tags holding types their signatures never hold: a pipeline tag stored as 'XYZ ', a colorant
    # stored as a curve, and an adaptation matrix of 8 numbers instead of 9.
    return profile([("A2B0", xyz()), ("B2A0", xyz()), ("rXYZ", curv([0, 65535])), ("gXYZ", xyz()),
                    ("bXYZ", xyz()), ("rTRC", xyz()), ("gTRC", curv([0, 65535])), ("bTRC", curv([0, 65535])),
                    ("wtpt", curv([0, 65535])), ("chad", sig("sf32") + be32(0) + s15(1.0) * 8)])


def main():
    for name, make in CASES.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(make())


if __name__ == "__main__":
    main()
