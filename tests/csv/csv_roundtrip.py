#!/usr/bin/env python3
"""Python's csv module reads back exactly the fields the program writes.

Random fields (quotes, commas, CR, LF, NUL, bytes above 0x7F, UTF-8 and cut
UTF-8 sequences, blanks) go through the program's CSV writer; the output is
read with csv.reader from a file opened with newline='' and decoded as
Latin-1, so that every byte comes back as itself.

usage: csv_roundtrip.py WRITER [SEED]
WRITER reads records (u32 count, then u32 length and bytes per field) on
standard input and writes one CSV line per record.
"""
import csv
import io
import random
import struct
import subprocess
import sys

RECORDS = 3000
PIECES = [b'"', b'""', b",", b"\r", b"\n", b"\r\n", b"\n\r", b" ", b"\t", b"\x00", b"\xff",
          b"\x80", b"\xe3\x81", b"\xe3\x81\x82", b"\xef\xbb\xbf", b"a", b"PC01", b"<UNKNOWN>",
          b'W:52cm x H:32cm (24.0")', b"\x1a", b"\\", b";"]


def random_field(rng):
    kind = rng.random()
    if kind < 0.1:
        return b""
    if kind < 0.4:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(1, 40)))
    return b"".join(rng.choice(PIECES) for _ in range(rng.randrange(1, 12)))


def main():
    writer = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 4180
    rng = random.Random(seed)
    records = [[random_field(rng) for _ in range(rng.randrange(0, 14))] for _ in range(RECORDS)]
    # The fixed shapes of the result file, and a record of one empty field.
    records += [[b"PC01"] + [b""] * 10 + [b"Registry Open Error : Key=PC01 Code=5 Desc=a, b"],
                [b""], [], [b"", b""], [b'"'], [b"\r"]]
    request = b"".join(
        struct.pack("<I", len(r)) + b"".join(struct.pack("<I", len(f)) + f for f in r)
        for r in records)
    written = subprocess.run([writer], input=request, stdout=subprocess.PIPE, check=True).stdout

    csv.field_size_limit(1 << 24)
    text = io.TextIOWrapper(io.BytesIO(written), encoding="latin-1", newline="")
    read = [[field.encode("latin-1") for field in row] for row in csv.reader(text)]

    if len(read) != len(records):
        sys.exit("wrote %d records, read back %d" % (len(records), len(read)))
    for number, (want, got) in enumerate(zip(records, read), 1):
        if want != got:
            sys.exit("record %d: wrote %r, read back %r" % (number, want, got))
    print("%d records read back unchanged (seed %d)" % (len(records), seed))


if __name__ == "__main__":
    main()
