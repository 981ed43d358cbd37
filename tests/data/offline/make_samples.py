#!/usr/bin/env python3
"""Writes the sample registry exports of this folder (see README.md).

The files are kept in the repository; run this again only to change them.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
DISPLAY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\DISPLAY"


def edid(model="", serial="", width=52, height=32, week=20, year=2008, size=128):
    block = bytearray(max(size, 128))
    block[0:8] = bytes([0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0])
    block[8:10] = bytes([0x10, 0xAC])
    block[16] = week
    block[17] = year - 1990
    block[18] = 1
    block[19] = 3
    block[21] = width
    block[22] = height
    block[54:72] = bytes([0x11] * 18)

    def descriptor(offset, tag, text):
        block[offset + 3] = tag
        data = text.encode("ascii")[:13]
        if len(data) < 13:
            data += b"\n"
        data += b" " * (13 - len(data))
        block[offset + 5:offset + 18] = data

    if model:
        descriptor(72, 0xFC, model)
    if serial:
        descriptor(90, 0xFF, serial)
    descriptor(108, 0xFD, "")
    block[126] = len(block) // 128 - 1
    for i in range(128, len(block)):
        block[i] = 0x02 if i % 128 == 0 else 0x5A
    return bytes(block)


def hex_lines(name, prefix, data):
    """A binary value wrapped the way the registry editor wraps it."""
    head = '"%s"=%s:' % (name, prefix) if name is not None else "@=%s:" % prefix
    items = ["%02x" % b for b in data]
    lines = []
    line = head
    for i, item in enumerate(items):
        piece = item + ("," if i + 1 < len(items) else "")
        if len(line) + len(piece) > 78:
            lines.append(line + "\\")
            line = "  "
        line += piece
    lines.append(line)
    return lines


def multi_sz(texts, encoding):
    out = b""
    for text in texts:
        out += text.encode(encoding) + "\0".encode(encoding)
    return out + "\0".encode(encoding)


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def instance(device, inst, values, edid_bytes=None, encoding="utf-16-le", parameters=True):
    key = "%s\\%s\\%s" % (DISPLAY, device, inst)
    lines = ["[%s]" % key]
    for name, value in values:
        if isinstance(value, list):
            lines += hex_lines(name, "hex(7)", multi_sz(value, encoding))
        else:
            lines.append("%s=%s" % (quoted(name), quoted(value)))
    lines.append("")
    if parameters:
        lines.append("[%s\\Device Parameters]" % key)
        if edid_bytes is not None:
            lines += hex_lines("EDID", "hex", edid_bytes)
        lines.append("")
    return lines


def monitor_values(mfg, description, hardware_id):
    return [("DeviceDesc", description), ("Class", "Monitor"),
            ("HardwareID", [hardware_id]), ("Mfg", mfg)]


def write_unicode(name, lines):
    text = "\r\n".join(lines) + "\r\n"
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def write_ansi(name, lines):
    text = "\r\n".join(lines) + "\r\n"
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(text.encode("ascii"))


def main():
    dell = edid("DELL U2412M", "Y1H5T27S0ALL", 52, 32, 20, 2012, 256)
    eizo = edid("EV2455", "12345678", 55, 34, 10, 2015, 384)
    lines = ["Windows Registry Editor Version 5.00", "",
             "; Exported from a test workstation", "",
             "[%s]" % DISPLAY, "",
             "[%s\\DEL4065]" % DISPLAY, ""]
    lines += instance("DEL4065", "5&2d1a5e7c&0&UID4352",
                      monitor_values("(Standard monitor types)", "Dell U2412M (Digital)",
                                     "MONITOR\\DEL4065"), dell)
    # The same monitor seen on another port: listed once.
    lines += instance("DEL4065", "5&2d1a5e7c&0&UID4353",
                      monitor_values("(Standard monitor types)", "DELL U2412M (DIGITAL)",
                                     "monitor\\del4065"), dell)
    lines += instance("EIZ2243", "1&8713bca&0&UID0",
                      monitor_values("EIZO", 'EIZO 汎用 PnP モニター, 24"', "MONITOR\\EIZ2243")
                      + [("Driver", "{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001")], eizo)
    # Neither model nor serial: not listed. Escapes in the description.
    lines += instance("ACR0282", "4&1&UID1",
                      monitor_values("Acer", 'Acer "Quoted" C:\\Path\\', "MONITOR\\ACR0282"),
                      edid(width=48, height=27))
    # No Device Parameters at all: not listed.
    lines += instance("Default_Monitor", "1&1&0&UID0",
                      monitor_values("(Standard monitor types)", "Default Monitor",
                                     "MONITOR\\Default_Monitor"), parameters=False)
    # Values the scan does not read, in every form an export has.
    lines += ["[%s\\DEL4065\\5&2d1a5e7c&0&UID4352\\Control]" % DISPLAY,
              '@="default value"',
              '"Capabilities"=dword:00000010',
              '"Path"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\',
              '  00,25,00,00,00',
              '"Gone"="soon"',
              '"Gone"=-',
              "",
              "[-%s\\DEL4065\\5&2d1a5e7c&0&UID4352\\Control]" % DISPLAY,
              "",
              "[HKEY_CURRENT_USER\\Software\\Glimmora]",
              '"Ignored"="value"', ""]
    write_unicode("PC-UNICODE.reg", lines)

    lg = edid("LG FULLHD", "", 48, 27, 33, 2019, 128)
    lines = ["REGEDIT4", "",
             "[%s]" % DISPLAY, ""]
    lines += instance("GSM5B09", "5&12a0c0b0&0&UID256",
                      monitor_values("LG", "LG FULLHD(HDMI)", "MONITOR\\GSM5B09"), lg,
                      encoding="ascii")
    write_ansi("pc-ansi.reg", lines)

    write_unicode("EMPTY-DISPLAY.reg", ["Windows Registry Editor Version 5.00", "",
                                        "[%s]" % DISPLAY, ""])
    write_unicode("NO-DISPLAY.reg", ["Windows Registry Editor Version 5.00", "",
                                     "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\PCI]",
                                     ""])
    # Line 7 has no closing quote.
    write_unicode("BROKEN.reg", ["Windows Registry Editor Version 5.00", "",
                                 "[%s]" % DISPLAY, "",
                                 "[%s\\DEL4065\\1]" % DISPLAY,
                                 '"Mfg"="Dell"',
                                 '"DeviceDesc"="Dell U2412M', ""])
    # Line 5 holds a hex byte of three digits, inside a continued value.
    write_ansi("BROKEN4.reg", ["REGEDIT4", "",
                               "[%s\\GSM5B09\\1\\Device Parameters]" % DISPLAY,
                               '"EDID"=hex:00,ff,ff,\\',
                               "  ff,fff,00", ""])
    write_ansi("NOT-AN-EXPORT.reg", ["This is not a registry export.", ""])

    # Keys the Windows back end's tests import into Wine's own registry.
    lines = ["Windows Registry Editor Version 5.00", ""]
    lines += instance("GLMTEST1", "1&100&0&UID1",
                      monitor_values("Glimmora Test", "G" * 300, "MONITOR\\GLMTEST1"),
                      edid("GLM ONE", "GLM-0001", 60, 34, 20, 2020, 256))
    # Plugged in: Plug and Play's volatile Control key. The second one is a ghost.
    lines += ["[%s\\GLMTEST1\\1&100&0&UID1\\Control]" % DISPLAY, '"ActiveService"="monitor"', ""]
    lines += instance("GLMTEST1", "1&100&0&UID2",
                      monitor_values("Glimmora Test", "Glimmora Two", "MONITOR\\GLMTEST1"),
                      edid("GLM TWO", "GLM-0002", 60, 34, 20, 2021, 512))
    lines += instance("GLMTEST2", "1&200&0&UID1",
                      monitor_values("Glimmora Test", "No parameters", "MONITOR\\GLMTEST2"),
                      parameters=False)
    text = "\r\n".join(lines) + "\r\n"
    with open(os.path.join(HERE, "..", "wine", "glimmora-test-display.reg"), "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


if __name__ == "__main__":
    main()
