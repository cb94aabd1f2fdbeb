#!/usr/bin/env python3
"""same_picture.py A.png B.png: whether two PNG files (8-bit RGB or RGBA,
not interlaced) show the same pixels, alpha aside. Prints "same WxH" or what
differs; exits 0 only when the same."""
import struct
import sys
import zlib


def decode(path):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError(path + ': not a PNG file')
    pos, idat, head = 8, b'', None
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b'IHDR':
            head = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
    w, h, depth, colour, _, _, interlace = head
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError('%s: depth %d colour type %d interlace %d not read'
                         % (path, depth, colour, interlace))
    bpp = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), w * bpp
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if f == 1:
                line[x] = (line[x] + a) & 255
            elif f == 2:
                line[x] = (line[x] + b) & 255
            elif f == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc
                                      else b if pb <= pc else c)) & 255
        rows.append(bytes(line) if bpp == 3 else
                    bytes(v for i, v in enumerate(line) if i % 4 != 3))
        prev = line
    return w, h, rows


def main():
    (wa, ha, a), (wb, hb, b) = decode(sys.argv[1]), decode(sys.argv[2])
    if (wa, ha) != (wb, hb):
        print('sizes differ: %dx%d vs %dx%d' % (wa, ha, wb, hb))
        return 1
    differing, first = 0, None
    for y in range(ha):
        if a[y] == b[y]:
            continue
        for x in range(wa):
            if a[y][3 * x:3 * x + 3] != b[y][3 * x:3 * x + 3]:
                differing += 1
                first = first or (x, y)
    if differing:
        print('%d of %d pixels differ, first at %s' % (differing, wa * ha, first))
        return 1
    print('same %dx%d' % (wa, ha))
    return 0


if __name__ == '__main__':
    sys.exit(main())
