#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes an Access file whose one attachment inflates about 1,000 times.

From tests/data/jet/ace/mdbreader_data_V2016_attachments.accdb: the third
attachment of Table1_Attachments ("Attachment 3", kept in its row from byte
376338 under a 12-byte long-value header) is replaced by a deflate stream of
SIZE bytes of file data (byte i is i modulo 251, so that a part written at a
wrong offset shows; extension "txt"), kept in a chain of long-value pages
added at the end of the file.

    make-inflating-attachment.py SOURCE.accdb TARGET.accdb SIZE
"""
import struct
import sys
import zlib

PAGE = 4096
STORED_AT = 376338  # the attachment's stored data; its long-value header is the 12 bytes before
OWNER_PAGE = 91     # the data page holding it: the long-value pages take its owner


def main():
    source, target, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
    data = bytearray(open(source, "rb").read())
    header = data[STORED_AT - 12:STORED_AT + 8]
    if header[:4] != b"\x2b\x00\x00\x80" or header[12:20] != b"\x01\x00\x00\x00\x20\x00\x00\x00":
        sys.exit("unexpected source: the attachment is not where it was")
    owner = data[OWNER_PAGE * PAGE + 4:OWNER_PAGE * PAGE + 8]
    inner = struct.pack("<III", 20, 1, 4) + "txt\0".encode("utf-16-le")
    compressor = zlib.compressobj(9)
    parts = [compressor.compress(inner)]
    chunk = bytes(i % 251 for i in range(251 * 4096))
    left = size
    while left > 0:
        parts.append(compressor.compress(chunk[:min(left, len(chunk))]))
        left -= min(left, len(chunk))
    parts.append(compressor.flush())
    stored = struct.pack("<II", 1, len(inner) + size) + b"".join(parts)
    # One row per added page: the next row's address (0 at the end), then the bytes.
    room = PAGE - 16 - 4
    first = len(data) // PAGE
    pieces = [stored[at:at + room] for at in range(0, len(stored), room)]
    for index, piece in enumerate(pieces):
        page = bytearray(PAGE)
        start = PAGE - 4 - len(piece)
        page[0:2] = b"\x01\x01"
        page[2:4] = struct.pack("<H", start - 16)
        page[4:8] = owner
        page[12:14] = struct.pack("<H", 1)
        page[14:16] = struct.pack("<H", start)
        following = (first + index + 1) << 8 if index + 1 < len(pieces) else 0
        page[start:start + 4] = struct.pack("<I", following)
        page[start + 4:] = piece
        data += page
    data[STORED_AT - 12:STORED_AT] = struct.pack("<III", len(stored), first << 8, 0)
    open(target, "wb").write(data)


if __name__ == "__main__":
    main()
