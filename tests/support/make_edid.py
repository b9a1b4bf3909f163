#!/usr/bin/env python3
"""Builds EDID test blocks by the VESA E-EDID 1.4 and CTA-861 layouts and prints them as hex.

usage: make_edid.py MAKE PRODUCT SERIAL WIDTH_CM HEIGHT_CM NAME [SERIAL_TEXT] [--hdmi]
"""
import sys


def pnp(make):
    v = 0
    for ch in make:
        v = (v << 5) | (ord(ch) - ord('A') + 1)
    return [v >> 8, v & 0xFF]


def text_descriptor(tag, text):
    body = text.encode('ascii')[:13]
    if len(body) < 13:
        body += b'\n' + b' ' * (12 - len(body))
    return [0, 0, 0, tag, 0] + list(body)


def dtd_1080p(w_mm, h_mm):
    return [0x02, 0x3a, 0x80, 0x18, 0x71, 0x38, 0x2d, 0x40, 0x58, 0x2c, 0x45, 0x00,
            w_mm & 0xFF, h_mm & 0xFF, ((w_mm >> 8) << 4) | (h_mm >> 8), 0, 0, 0x1e]


def checksum(block):
    block[127] = (-sum(block[:127])) & 0xFF
    return block


def build(make, product, serial, w_cm, h_cm, name, serial_text, hdmi):
    b = [0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00]
    b += pnp(make) + [product & 0xFF, product >> 8]
    serial = 0 if serial_text else serial  # a serial text replaces the number
    b += [serial & 0xFF, (serial >> 8) & 0xFF, (serial >> 16) & 0xFF, serial >> 24]
    b += [1, 30, 1, 3]                      # week 1 of 2020, EDID 1.3
    b += [0x80, w_cm, h_cm, 0x78, 0x0e]     # digital, sRGB, preferred timing first
    b += [0xee, 0x91, 0xa3, 0x54, 0x4c, 0x99, 0x26, 0x0f, 0x50, 0x54]  # chromaticity
    b += [0x20, 0x00, 0x00] + [0x01] * 16   # 640x480@60 only, no standard timings
    b += dtd_1080p(w_cm * 10, h_cm * 10)
    b += text_descriptor(0xfc, name)
    b += text_descriptor(0xff, serial_text) if serial_text else [0, 0, 0, 0x10, 0] + [0] * 13
    b += [0, 0, 0, 0xfd, 0, 0x38, 0x4c, 0x1e, 0x53, 0x11, 0x00, 0x0a] + [0x20] * 6  # range limits, GTF
    b += [1 if hdmi else 0, 0]
    blocks = [checksum(b)]
    if hdmi:
        # Video (VIC 16, VIC 1), audio (2-channel PCM), HDMI vendor block with physical address 1.0.0.0, video
        # capability (selectable RGB quantization).
        data = [0x42, 16, 1, 0x23, 0x09, 0x07, 0x07, 0x65, 0x03, 0x0c, 0x00, 0x10, 0x00, 0xe2, 0x00, 0x7f]
        e = [0x02, 0x03, 4 + len(data), 0xc1] + data  # underscan, basic audio, 1 native DTD
        e += dtd_1080p(w_cm * 10, h_cm * 10)
        e += [0] * (128 - len(e))
        blocks.append(checksum(e))
    return blocks


def main(argv):
    hdmi = '--hdmi' in argv
    args = [a for a in argv if a != '--hdmi']
    make, product, serial, w, h, name = args[:6]
    serial_text = args[6] if len(args) > 6 else ''
    for block in build(make, int(product, 0), int(serial, 0), int(w), int(h), name, serial_text, hdmi):
        for i in range(0, 128, 16):
            print(' '.join('%02x' % x for x in block[i:i + 16]))


if __name__ == '__main__':
    main(sys.argv[1:])
