#!/usr/bin/env bash
# Writes the seed corpus of fuzz_differential to fuzz/corpus/fuzz_differential/:
# a small image (24 x 18, a gradient with seeded noise) as PPM and PGM, PNG of
# every colour type (grey, grey and alpha, RGB, RGBA, palette; 16-bit and
# interlaced ones too), and JPEG baseline, progressive and arithmetic-coded
# (both), one of them marked as a hybrid file; then of each a copy cut in
# half, one with a byte flipped in its data and one whose header claims a
# larger image. Needs python3 and cjpeg (libjpeg-turbo-progs).
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/corpus/fuzz_differential
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cd "$work"

python3 - <<'EOF'
import random, struct, zlib
random.seed(28)
W, H = 24, 18
rgb = [[((x * 10 + random.randrange(24)) % 256, (y * 14 + random.randrange(24)) % 256,
         ((x + y) * 6 + random.randrange(24)) % 256) for x in range(W)] for y in range(H)]
grey = [[(r * 77 + g * 150 + b * 29) >> 8 for r, g, b in row] for row in rgb]
open('image.ppm', 'wb').write(b'P6\n%d %d\n255\n' % (W, H) + bytes(c for row in rgb for p in row for c in p))
open('image.pgm', 'wb').write(b'P5\n%d %d\n255\n' % (W, H) + bytes(v for row in grey for v in row))

def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

def png(name, colour, depth, rows, palette=None, interlace=0):
    # rows: one bytes object per row (for interlace 1: the seven passes'
    # rows, already filtered with filter 0).
    head = struct.pack('>IIBBBBB', W, H, depth, colour, 0, 0, interlace)
    body = b''.join(b'\0' + r for r in rows)
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', head)
    if palette:
        data += chunk(b'PLTE', palette)
    data += chunk(b'IDAT', zlib.compress(body, 9)) + chunk(b'IEND', b'')
    open(name, 'wb').write(data)

png('grey.png', 0, 8, [bytes(row) for row in grey])
png('greyalpha.png', 4, 8, [bytes(c for v in row for c in (v, 200)) for row in grey])
png('rgb.png', 2, 8, [bytes(c for p in row for c in p) for row in rgb])
png('rgba.png', 6, 8, [bytes(c for p in row for c in p + (255,)) for row in rgb])
png('rgb16.png', 2, 16, [bytes(c for p in row for v in p for c in (v, v)) for row in rgb])
palette = bytes(c for i in range(16) for c in (i * 16, 255 - i * 16, (i * 40) % 256))
png('palette.png', 3, 8, [bytes(v >> 4 for v in row) for row in grey], palette)
png('palette4.png', 3, 4, [bytes((row[x] >> 4) << 4 | (row[x + 1] >> 4) for x in range(0, W, 2)) for row in grey],
    palette)
# Adam7: the passes' rows, pass by pass.
passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
rows = []
for x0, y0, dx, dy in passes:
    for y in range(y0, H, dy):
        xs = range(x0, W, dx)
        if len(xs):
            rows.append(bytes(c for x in xs for c in rgb[y][x]))
png('interlaced.png', 2, 8, rows, interlace=1)
EOF

cjpeg -quality 80 image.ppm > baseline.jpg
cjpeg -quality 80 -progressive image.ppm > progressive.jpg
cjpeg -quality 80 -arithmetic image.ppm > arithmetic.jpg
cjpeg -quality 80 -arithmetic -progressive image.ppm > arithmetic-progressive.jpg
cjpeg -quality 80 -grayscale image.pgm > grey.jpg
cjpeg -quality 80 -restart 1 image.ppm > restart.jpg
# A hybrid file: byte 12 of the JFIF header marked.
python3 -c "
d = bytearray(open('baseline.jpg', 'rb').read()); d[12] = 4
open('hybrid.jpg', 'wb').write(d)"

python3 - <<'EOF'
import glob, os, struct, zlib
def frame_size_at(d):
    # JPEG: the frame header's height and width; PNG: IHDR; PPM: the numbers.
    if d[:2] == b'\xff\xd8':
        for m in (b'\xff\xc0', b'\xff\xc1', b'\xff\xc2', b'\xff\xc9', b'\xff\xca'):
            i = d.find(m)
            if i > 0:
                return ('jpeg', i + 5)
    if d[:8] == b'\x89PNG\r\n\x1a\n':
        return ('png', 16)
    return ('pnm', None)
for name in sorted(glob.glob('*.jpg') + glob.glob('*.png') + glob.glob('*.ppm') + glob.glob('*.pgm')):
    d = open(name, 'rb').read()
    stem, suffix = os.path.splitext(name)
    open(stem + '-cut' + suffix, 'wb').write(d[:len(d) // 2])
    flipped = bytearray(d); flipped[len(d) * 2 // 3] ^= 0x10
    open(stem + '-flipped' + suffix, 'wb').write(flipped)
    kind, at = frame_size_at(d)
    lying = bytearray(d)
    if kind == 'jpeg':
        lying[at:at + 4] = struct.pack('>HH', 600, 800)
    elif kind == 'png':
        lying[at:at + 8] = struct.pack('>II', 600, 800)
        crc = zlib.crc32(bytes(lying[12:29]))
        lying[29:33] = struct.pack('>I', crc)
    else:
        lying = bytearray(d.replace(b'24 18', b'240 180', 1))
    open(stem + '-lying' + suffix, 'wb').write(lying)
EOF
rm -f "$out"/*
cp ./*.jpg ./*.png ./*.ppm ./*.pgm "$out"/
ls "$out" | wc -l
