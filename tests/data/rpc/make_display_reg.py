#!/usr/bin/env python3
"""Writes display.reg (display-device entries) and values.reg (values of each
type) for the loopback test server.

Synthetic data made for these tests (no real monitor's EDID). Run it again after
changing the table below; the test expectations name these values.
"""
import os


def edid(name, serial, week, year, width_cm, height_cm, extensions=0):
    block = bytearray(128)
    block[0:8] = bytes([0, 255, 255, 255, 255, 255, 255, 0])
    maker = ((ord('G') - 64) << 10) | ((ord('L') - 64) << 5) | (ord('M') - 64)
    block[8], block[9] = maker >> 8, maker & 255
    block[10], block[11] = 0x34, 0x12
    block[16], block[17] = week, year - 1990
    block[18], block[19] = 1, 4
    block[21], block[22] = width_cm, height_cm
    descriptors = [(0xFC, name), (0xFF, serial)]
    for i in range(4):
        d = bytearray(18)
        if i < len(descriptors):
            tag, text = descriptors[i]
            d[3] = tag
            s = text.encode()[:13]
            if len(s) < 13:
                s += b'\n'
            d[5:18] = s + b' ' * (13 - len(s))
        else:
            d[3] = 0x10
        block[54 + 18 * i:72 + 18 * i] = d
    block[126] = extensions
    block[127] = (-sum(block[:127])) & 255
    out = bytes(block)
    for _ in range(extensions):
        ext = bytearray(128)
        ext[0], ext[1] = 2, 3
        ext[127] = (-sum(ext[:127])) & 255
        out += bytes(ext)
    return out


def hex_list(data):
    return ','.join('%02x' % c for c in data)


def multi_sz(strings):
    return ''.join(s + '\0' for s in strings).encode('utf-16-le') + b'\0\0'


ROOT = r'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\DISPLAY'
# device id -> list of (instance, DeviceDesc, HardwareID strings, EDID or None)
DEVICES = [
    ('GLM1234', [
        ('1&1a2b3c&0&UID4352', 'Generic PnP Monitor', ['MONITOR\\GLM1234', 'MONITOR\\Generic'],
         edid('GLM Vista 24', 'SN-0001', 12, 2019, 53, 30)),
        ('1&1a2b3c&0&UID4353', '汎用 PnP モニター', ['MONITOR\\GLM1234'],
         edid('GLM Wide 27', 'SN-0002', 40, 2021, 60, 34, extensions=1)),
    ]),
    ('GLM5678', [
        ('5&7f00aa&0&UID256', 'Generic PnP Monitor', ['MONITOR\\GLM5678'],
         edid('GLM Big 32', 'SN-0003', 5, 2022, 70, 39, extensions=2)),
        ('5&7f00aa&0&UID257', 'Generic PnP Monitor', ['MONITOR\\GLM5678'], None),
    ]),
    ('GLM9ABC', [
        ('4&5a5a5a&0&UID0', '汎用 PnP モニター', ['MONITOR\\GLM9ABC', 'MONITOR\\Generic'],
         edid('GLM Mini', 'SN-0004', 1, 2015, 30, 19)),
    ]),
]


# Instances plugged in now carry the volatile Control key; the second GLM1234
# instance is a ghost, and so is the one without an EDID.
PRESENT = {'1&1a2b3c&0&UID4352', '5&7f00aa&0&UID256', '4&5a5a5a&0&UID0'}


def values_reg():
    """Values of every type the back end converts, and ones longer than its first buffer."""
    big = bytes((i * 7 + 3) & 255 for i in range(5000))
    long_text = 'モニター' * 150  # 600 characters: 1200 bytes in UTF-16
    lines = ['Windows Registry Editor Version 5.00', '',
             '[HKEY_LOCAL_MACHINE\\SOFTWARE\\GlimmoraTest]',
             '"Big"=hex:%s' % hex_list(big),
             '"Expand"=hex(2):%s' % hex_list('%SystemRoot%\\x\0'.encode('utf-16-le')),
             '"Number"=dword:12345678',
             '"Empty"=""',
             # Samba's importer drops long quoted strings; hex(1) is the same REG_SZ.
             '"LongText"=hex(1):%s' % hex_list((long_text + '\0').encode('utf-16-le')),
             '']
    return lines


def write_reg(name, lines):
    text = '\r\n'.join(lines) + '\r\n'
    here = os.path.dirname(os.path.abspath(__file__))
    # UTF-16LE with a byte-order mark, as the Registry Editor exports.
    with open(os.path.join(here, name), 'wb') as f:
        f.write(b'\xff\xfe' + text.encode('utf-16-le'))


def display_reg(devices):
    lines = ['Windows Registry Editor Version 5.00', '']
    lines += ['[%s]' % ROOT, '']
    for device, instances in devices:
        lines += ['[%s\\%s]' % (ROOT, device), '']
        for instance, desc, hardware_ids, block in instances:
            key = '%s\\%s\\%s' % (ROOT, device, instance)
            lines += ['[%s]' % key,
                      '"Mfg"="(Standard monitor types)"',
                      '"DeviceDesc"="%s"' % desc,
                      '"Class"="Monitor"',
                      '"HardwareID"=hex(7):%s' % hex_list(multi_sz(hardware_ids)), '']
            if block is not None:
                lines += ['[%s\\Device Parameters]' % key,
                          '"EDID"=hex:%s' % hex_list(block), '']
            if instance in PRESENT:
                lines += ['[%s\\Control]' % key, '"ActiveService"="monitor"', '']
    return lines


def main():
    write_reg('display.reg', display_reg(DEVICES))
    write_reg('values.reg', values_reg())
    # For bench/registry-rpc-bench: impacket's reg.py loops forever on a value
    # longer than 256 bytes, so there the 384-byte EDID block is 256 bytes long.
    bench = [(device, [(i, d, h, e[:256] if e is not None and len(e) > 256 else e)
                       for i, d, h, e in instances]) for device, instances in DEVICES]
    write_reg('display-bench.reg', display_reg(bench))


if __name__ == '__main__':
    main()
