#!/usr/bin/env python3
"""Python's csv module reads back exactly the fields the program writes.

Random fields (quotes, commas, CR, LF, NUL, bytes above 0x7F, UTF-8 and cut
UTF-8 sequences, blanks) go through the program's CSV writer; the output is
read with csv.reader from a file opened with newline='' and decoded as
Latin-1, so that every byte comes back as itself.

usage: csv_roundtrip.py WRITER [GLIMMORA] [SEED]
WRITER reads records (u32 count, then u32 length and bytes per field) on
standard input and writes one CSV line per record. With GLIMMORA, the same
is checked through `glimmora check --offline --format csv` on a registry
export whose values and EDID texts hold such bytes.
"""
import csv
import io
import os
import random
import struct
import subprocess
import sys
import tempfile

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


def read_back(written):
    csv.field_size_limit(1 << 24)
    text = io.TextIOWrapper(io.BytesIO(written), encoding="latin-1", newline="")
    return [[field.encode("latin-1") for field in row] for row in csv.reader(text)]


def check_program(glimmora, rng):
    """Registry texts and EDID descriptor texts of any bytes, through the program."""
    header = [b"Monitor ID", b"Class", b"Description", b"MFG", b"Hardware ID", b"Model",
              b"Serial Number", b"Monitor Size", b"MFG Date", b"EDID Version"]
    lines = [b"REGEDIT4", b""]
    expected = [header]

    def hex_value(name, kind, data):
        return b'"' + name + b'"=hex(' + kind + b"):" + b",".join(b"%02x" % b for b in data)

    def value_text():
        # A registry text ends at its first zero byte.
        return random_field(rng).replace(b"\x00", b"")

    def descriptor_text():
        # What survives a descriptor: no zero or LF, no blanks at the ends, 13 bytes.
        text = random_field(rng).replace(b"\x00", b"").replace(b"\n", b"")[:13]
        text = text.strip(b" \t\r\x0b\x0c")
        return text or b"M"

    for number in range(200):
        device = b"DEV%04d" % number
        path = b"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\" + device + b"\\1"
        mfg, desc, klass, hwid = value_text(), value_text(), value_text(), value_text()
        model, serial = descriptor_text(), descriptor_text()
        edid = bytearray(128)
        edid[16], edid[17], edid[18], edid[19] = 20, 18, 1, 3  # May 2008 everywhere
        for offset, tag, text in ((72, 0xFC, model), (90, 0xFF, serial)):
            edid[offset + 3] = tag
            padded = text + (b"\n" if len(text) < 13 else b"")
            edid[offset + 5:offset + 5 + len(padded)] = padded
        lines += [path + b"]", hex_value(b"Mfg", b"1", mfg + b"\x00"),
                  hex_value(b"DeviceDesc", b"1", desc + b"\x00"),
                  hex_value(b"Class", b"1", klass + b"\x00"),
                  hex_value(b"HardwareID", b"7", hwid + b"\x00\x00"),
                  path + b"\\Device Parameters]", hex_value(b"EDID", b"3", bytes(edid)), b""]
        expected.append([device, klass, desc, mfg, hwid, model, serial, b'W:0cm x H:0cm (0.0")',
                         b"2008/5", b"1.3"])
    with tempfile.TemporaryDirectory() as directory:
        with open(os.path.join(directory, "RANDOM.reg"), "wb") as export:
            export.write(b"\r\n".join(lines) + b"\r\n")
        env = dict(os.environ, LC_ALL="C", LANG="C")
        done = subprocess.run([glimmora, "check", "--offline", directory, "--format", "csv",
                               "RANDOM"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    if done.returncode != 0:
        sys.exit("glimmora check: exit %d: %r" % (done.returncode, done.stderr[:2000]))
    read = read_back(done.stdout)
    if len(read) != len(expected):
        sys.exit("glimmora wrote %d records, expected %d" % (len(read), len(expected)))
    for number, (want, got) in enumerate(zip(expected, read)):
        if want != got:
            sys.exit("glimmora record %d: expected %r, read back %r" % (number, want, got))
    print("%d rows of glimmora check read back unchanged" % (len(read) - 1))


def main():
    writer = sys.argv[1]
    glimmora = sys.argv[2] if len(sys.argv) > 2 and not sys.argv[2].isdigit() else None
    seed = int(sys.argv[-1]) if sys.argv[-1].isdigit() else 4180
    rng = random.Random(seed)
    records = [[random_field(rng) for _ in range(rng.randrange(0, 14))] for _ in range(RECORDS)]
    # The fixed shapes of the result file, and a record of one empty field.
    records += [[b"PC01"] + [b""] * 10 + [b"Registry Open Error : Key=PC01 Code=5 Desc=a, b"],
                [b""], [], [b"", b""], [b'"'], [b"\r"]]
    request = b"".join(
        struct.pack("<I", len(r)) + b"".join(struct.pack("<I", len(f)) + f for f in r)
        for r in records)
    written = subprocess.run([writer], input=request, stdout=subprocess.PIPE, check=True).stdout
    read = read_back(written)

    if len(read) != len(records):
        sys.exit("wrote %d records, read back %d" % (len(records), len(read)))
    for number, (want, got) in enumerate(zip(records, read), 1):
        if want != got:
            sys.exit("record %d: wrote %r, read back %r" % (number, want, got))
    print("%d records read back unchanged (seed %d)" % (len(records), seed))
    if glimmora:
        check_program(glimmora, rng)


if __name__ == "__main__":
    main()
