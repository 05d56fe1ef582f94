#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Makes a large Access file for the benchmarks from a small one.

usage: make-large-access.py SOURCE DEFINITION_PAGE COPIES TARGET [SHIFT_AT]

Copies SOURCE to TARGET, then appends COPIES - 1 copies of the data pages of
the table whose definition starts at page DEFINITION_PAGE, and rewrites the
table's usage map as a map by reference (bitmap pages appended after the
data) that lists the original pages and every copy. The table's stored row
count is multiplied too. Each copy holds the same rows as the original, so
the table must have no unique index for a database made from it to hold
them; with SHIFT_AT, the 32-bit integer SHIFT_AT bytes into each row (a
fixed Long field) is shifted by 10,000 in each copy, so that a key keeps
about as many distinct values as rows. Works on Jet 3, Jet 4 and ACE files
whose pages are not encrypted.
"""
import struct
import sys


def main():
    source, definition, copies, target = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    data = bytearray(open(source, "rb").read())
    jet4 = data[0x14] != 0
    page_size = 4096 if jet4 else 2048
    row_count_at, used_pages_at, data_rows_at = (16, 55, 0x0C) if jet4 else (12, 35, 0x08)

    def page(number):
        return bytes(data[number * page_size:(number + 1) * page_size])

    tdef = page(definition)
    if tdef[0] != 0x02:
        sys.exit(f"page {definition} is not a table definition")
    own = [number for number in range(len(data) // page_size)
           if page(number)[0] == 0x01 and struct.unpack_from("<I", page(number), 4)[0] == definition]
    if not own:
        sys.exit(f"no data page belongs to the table defined at page {definition}")
    originals = [bytes(page(number)) for number in own]
    first_new = len(data) // page_size
    shift_at = int(sys.argv[5]) if len(sys.argv) > 5 else None
    for copy in range(1, copies):
        for content in originals:
            content = bytearray(content)
            rows = struct.unpack_from("<H", content, data_rows_at)[0] if shift_at is not None else 0
            for row in range(rows):
                offset = struct.unpack_from("<H", content, data_rows_at + 2 + 2 * row)[0]
                if offset & 0xC000:
                    continue  # deleted, or the address of a row moved elsewhere
                at = (offset & 0x1FFF) + shift_at
                value = struct.unpack_from("<i", content, at)[0]
                struct.pack_into("<i", content, at, value + 10000 * copy)
            data += content
    pages = own + list(range(first_new, len(data) // page_size))

    # The usage map: a row of a data page, rewritten in place as type 1
    # (each 4-byte entry the number of a bitmap page covering its share).
    pointer = struct.unpack_from("<I", tdef, used_pages_at)[0]
    map_page, map_row = pointer >> 8, pointer & 0xFF
    holder = page(map_page)
    start = struct.unpack_from("<H", holder, data_rows_at + 2 + 2 * map_row)[0] & 0x1FFF
    end = page_size if map_row == 0 else struct.unpack_from("<H", holder, data_rows_at + 2 * map_row)[0] & 0x1FFF
    per_bitmap = (page_size - 4) * 8
    entries = (end - start - 1) // 4
    bitmaps = {}
    for number in pages:
        bitmaps.setdefault(number // per_bitmap, set()).add(number % per_bitmap)
    if max(bitmaps) >= entries:
        sys.exit("the usage map's row is too short for that many pages")
    row = bytearray(end - start)
    row[0] = 1
    for entry, bits in sorted(bitmaps.items()):
        bitmap = bytearray(page_size)
        bitmap[0], bitmap[1] = 0x05, 0x01
        for bit in bits:
            bitmap[4 + bit // 8] |= 1 << (bit % 8)
        struct.pack_into("<I", row, 1 + 4 * entry, len(data) // page_size)
        data += bitmap
    data[map_page * page_size + start:map_page * page_size + end] = row
    rows = struct.unpack_from("<I", tdef, row_count_at)[0]
    struct.pack_into("<I", data, definition * page_size + row_count_at, min(rows * copies, 0xFFFFFFFF))
    with open(target, "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
