#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus/<target>/ from the test data.

Run from anywhere; it rewrites only the files it names (seed-*). Inputs that
libFuzzer found and that were kept by hand have other names and stay.
"""
import glob
import os
import random
import re
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def edid_bytes(path):
    text = open(path, encoding="utf-8").read()
    section = text.split("EDID (hex):", 1)[1].strip().split("\n\n")[0]
    return bytes.fromhex("".join(section.split()))


def edid_seeds():
    files = sorted(glob.glob(os.path.join(ROOT, "tests", "data", "edid-corpus", "*.txt")))
    by_size = {}
    for path in files:
        by_size.setdefault(len(edid_bytes(path)), []).append(path)
    # Every length the corpus has, most of them base blocks and one extension.
    chosen = by_size[128][:8] + by_size[256][:8] + by_size.get(384, [])[:3]
    # Extension blocks with something to read: serial descriptors in CTA-861
    # blocks, DisplayID 1.3 and 2.0 blocks.
    for name in ("3C26233024D3", "4B7CF38A7274", "47400B994DB9", "0ED9A241748D"):
        path = os.path.join(ROOT, "tests", "data", "edid-corpus", name + ".txt")
        if path not in chosen:
            chosen.append(path)
    for path in chosen:
        name = os.path.splitext(os.path.basename(path))[0]
        write("edid_fuzzer", name + ".bin", edid_bytes(path))
    # Dumps as people save them: the collected layout and plain hex.
    for path in sorted(glob.glob(os.path.join(ROOT, "examples", "edid", "*.txt")))[:3]:
        write("edid_fuzzer", os.path.basename(path), open(path, "rb").read())
    block = edid_bytes(chosen[0])
    write("edid_fuzzer", "hex-spaced.txt",
          "\n".join(" ".join("%02x" % b for b in block[i:i + 16])
                    for i in range(0, 128, 16)).encode() + b"\n")
    for length in (0, 1, 125, 126, 127, 129):
        write("edid_fuzzer", "cut-%d.bin" % length, block[:length])
    # A value copied from a registry export, lines ending in a backslash.
    write("edid_fuzzer", "reg-value.txt",
          b'"EDID"=hex:' + b",\\\r\n  ".join(
              b",".join(b"%02x" % b for b in block[i:i + 16]) for i in range(0, 128, 16)) + b"\r\n")


def registry_seeds():
    # The first byte tells the target how to make the file: 0 as it is,
    # 1 UTF-8 text to be written as UTF-16LE (see registry_export_fuzzer.cpp).
    folders = [os.path.join(ROOT, "tests", "data", "offline"),
               os.path.join(ROOT, "tests", "data", "wine"),
               os.path.join(ROOT, "examples", "fleet"),
               os.path.join(ROOT, "tests", "data", "rpc")]
    for folder in folders:
        for path in sorted(glob.glob(os.path.join(folder, "*.reg")))[:8]:
            data = open(path, "rb").read()
            name = os.path.basename(folder) + "-" + os.path.basename(path)
            write("registry_export_fuzzer", name, b"\x00" + data)
            if data.startswith(b"\xff\xfe"):
                text = data[2:].decode("utf-16-le", errors="replace").encode("utf-8")
                write("registry_export_fuzzer", name + ".utf8", b"\x01" + text)


def csv_seeds():
    # A field count byte, then a length byte and the bytes of each field.
    def record(fields):
        out = bytes([len(fields)])
        for field in fields:
            out += bytes([len(field)]) + field
        return out

    write("csv_line_fuzzer", "monitor-line",
          record([b"PC01", b"DELA0C5", b"Monitor", b"Dell U2412M (Digital)", b"(Standard monitor types)",
                  b"MONITOR\\DELA0C5", b"DELL U2412M", b"YMYH13AU0MJS", b'W:52cm x H:32cm (24.0")',
                  b"2013/3", b"1.3"]))
    write("csv_line_fuzzer", "failure-line",
          record([b"PC02"] + [b""] * 10 + [b"Registry Open Error : Key=PC02 Code=53 Desc=a, b"]))
    write("csv_line_fuzzer", "awkward",
          record([b'"quoted"', b"a,b", b"line\r\nbreak", b"cr\ronly", b"lf\nonly", b"", b'x"y', b" \"lead"])
          + record([b""]) + record([]) + record([b"\x00\xff\xe6\x97\xa5"]))
    rng = random.Random(10)
    alphabet = b'ab,"\r\n \x00\xe3\x81\x82\xff'
    for n in range(3):
        fields = [bytes(rng.choice(alphabet) for _ in range(rng.randrange(12))) for _ in range(rng.randrange(1, 12))]
        write("csv_line_fuzzer", "random-%d" % n, record(fields))


def input_seeds():
    # The first byte: after how many bytes the stream fails (255: never).
    lists = {
        "plain": b"pc01\npc02\r\n\r\n# comment\n;other\n  pc-03, desk 4\n\tPC04\tx\n",
        "utf8": "pc\u00e9\u65e5\u672c,x\n\u65e5\u672c\n".encode("utf-8") + b"\xe6\x97\n\xe6",
        "shift-jis": "\u65e5\u672c\u8a9e\n".encode("shift_jis") + b"pc\x83\x5c\n\x81",
        "ctrl-z": b"pc01\r\npc02\r\x1apc03\n",
        "lone-cr": b"pc01\rpc02\r\r\npc03\r",
        "zero-bytes": b"pc\x0001\n\x00\npc02",
        "csv": b"Name,Room\r\nPC01,101\r\n\"PC02\",102\r\n\\\\PC03\r\n",
        "utf16le": "\ufeffpc01\r\n\u65e5\u672c\U0001f5a5\r\n\ud800x\x1ay".encode("utf-16-le", "surrogatepass"),
        "utf16be": "\ufeffpc01\npc02\r".encode("utf-16-be") + b"\x00",
        "utf8-mark": b"\xef\xbb\xbfpc01\r\n\xc3\xa9\npc02",
    }
    for name, data in lists.items():
        write("batch_input_fuzzer", name, b"\xff" + data)
    write("batch_input_fuzzer", "read-error", b"\x07" + lists["plain"])


def winreg_seeds():
    # Answers a Samba server gave, as the message tests keep them; the first
    # byte names the call (see winreg_response_fuzzer.cpp).
    source = open(os.path.join(ROOT, "tests", "rpc", "winreg_messages_test.cpp"),
                  encoding="utf-8").read()
    calls = {"kOpenKeyAnswer": 1, "kOpenMissingAnswer": 1, "kEnumAnswer": 3,
             "kEnumEndAnswer": 3, "kQueryAnswer": 4, "kQueryMoreDataAnswer": 4}
    for name, call in calls.items():
        match = re.search(r"const Bytes %s = \{(.*?)\};" % name, source, re.S)
        data = bytes(int(token, 0) for token in match.group(1).replace("\n", " ").split(",")
                     if token.strip())
        write("winreg_response_fuzzer", name, bytes([call]) + data)
        if call == 1:
            write("winreg_response_fuzzer", name + "-root", bytes([0]) + data)
            write("winreg_response_fuzzer", name + "-close", bytes([2]) + data)
    write("winreg_response_fuzzer", "request",
          b"\x05SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\DEL\xc3\xa9\x00EDID")
    # A read-ahead of one device with one instance over two pipes: the
    # answers in the order its waves ask, each with a 2-byte length.
    answers = {}
    for name in calls:
        match = re.search(r"const Bytes %s = \{(.*?)\};" % name, source, re.S)
        answers[name] = bytes(int(token, 0) for token in
                              match.group(1).replace("\n", " ").split(",") if token.strip())
    waves = ["kOpenKeyAnswer", "kEnumAnswer", "kEnumEndAnswer", "kOpenKeyAnswer", "kEnumAnswer",
             "kEnumEndAnswer", "kOpenKeyAnswer", "kOpenKeyAnswer", "kQueryAnswer",
             "kQueryMoreDataAnswer", "kQueryAnswer", "kQueryAnswer", "kQueryAnswer",
             "kQueryAnswer"]
    walk = b"".join(len(answers[n]).to_bytes(2, "little") + answers[n] for n in waves)
    write("winreg_response_fuzzer", "read-ahead", bytes([6, 2]) + walk)


if __name__ == "__main__":
    edid_seeds()
    registry_seeds()
    csv_seeds()
    input_seeds()
    winreg_seeds()
