#!/usr/bin/env python3
"""Independent float32 model of the automatic tone mapping, used once to derive
the golden values in tonemap_tests.cpp. Every float32 operation is a double
operation rounded to float32, which gives the correctly rounded float32 result
for +, -, * and /. Run it to print the tables the tests hold."""
import math
import struct


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def bits(x):
    return struct.unpack('<I', struct.pack('<f', x))[0]


def from_bits(u):
    return struct.unpack('<f', struct.pack('<I', u))[0]


LOG2 = [from_bits(u) for u in (0x3D74552F, 0xBEEE7397, 0x3FBD96DD, 0xC02153F6, 0x4038D96C)]
EXP2 = [from_bits(u) for u in (0x3D9FCB52, 0x3E677E26, 0x3F322226, 0x3F7FFB19)]
T_MIN, T_MAX = from_bits(0xC2FDFFFF), from_bits(0x43010000)
S_MONO8, S_MONO16 = from_bits(0x3B808081), from_bits(0x37800080)
S_BAYER8, S_BAYER16 = from_bits(0x3A2B5602), from_bits(0x362AAB56)
J_BAYER8, J_BAYER16 = from_bits(0x42AB5557), from_bits(0x3EAAAAAB)


def power(y, key):
    b = bits(y)
    e = float(((b >> 23) & 0xFF) - 127)
    L = from_bits((b & 0x7FFFFF) | 0x3F800000)
    p = f32(f32(LOG2[0] * L) + LOG2[1])
    for c in LOG2[2:]:
        p = f32(f32(p * L) + c)
    log2y = f32(e + f32(f32(L - 1.0) * p))
    t = f32(key * log2y)
    t = min(max(t, T_MIN), T_MAX)
    n = round(f32(t - 0.5))  # Python rounds half to even
    f = f32(t - n)
    q = f32(f32(EXP2[0] * f) + EXP2[1])
    for c in EXP2[2:]:
        q = f32(f32(q * f) + c)
    biased = n + 127
    scale = 0.0 if biased == 0 else (math.inf if biased == 255 else 2.0 ** n)
    return f32(q * scale)


def curve(intensity, key, w, a):
    intensity = -8.0 if not intensity >= -8.0 else min(intensity, 8.0)
    k = f32(math.exp(-intensity))
    omw, wa = f32(1.0 - w), f32(w * a)
    t = [0.0] * 65536
    for i in range(1, 65536):
        x = f32(i / 65535.0)
        t[i] = power(f32(k * f32(f32(omw * x) + wa)), key)
    t[0] = t[1]
    return t


# ---- frames -------------------------------------------------------------
W, H = 64, 48


def frame_byte(y, i, seed):
    return (i * 29 + y * 71 + ((i * y) % 13) + seed * 53) & 0xFF


def line_bytes(layout, w):
    return {'b8': w, 'w16': 2 * w, 'p10': (w - 1) // 4 * 5 + 5}.get(layout, (w - 1) // 2 * 3 + 3)


def pixel(layout, line, x):
    if layout == 'b8':
        return line[x]
    if layout == 'w16':
        return line[2 * x] | line[2 * x + 1] << 8
    if layout == 'p10':
        b = line[(x // 4) * 5:(x // 4) * 5 + 5]
        k = x % 4
        p = [b[0] | (b[1] & 3) << 8, b[1] >> 2 | (b[2] & 0xF) << 6,
             b[2] >> 4 | (b[3] & 0x3F) << 4, b[3] >> 6 | b[4] << 2][k]
        return p << 6
    b = line[(x // 2) * 3:(x // 2) * 3 + 3]
    odd = x & 1
    if layout == 'p12a':
        p = (b[2] << 4 | b[1] >> 4) if odd else (b[0] << 4 | (b[1] & 0xF))
    elif layout == 'p12b':
        p = (b[1] << 4 | b[2] >> 4) if odd else (b[0] << 4 | (b[2] & 0xF))
    else:
        p = (b[1] >> 4 | b[2] << 4) if odd else (b[0] | (b[1] & 0xF) << 8)
    return p << 4


FORMATS = [  # fourcc, layout, cells
    ('Y800', 'b8', 'value'), ('Y16 ', 'w16', 'value'),
    ('RGGB', 'b8', 'diag'), ('GBRG', 'b8', 'below'),
    ('BG16', 'w16', 'diag'), ('BA16', 'w16', 'below'),
    ('Y12P', 'p12a', 'value'), ('GBCP', 'p12a', 'quad'),
    ('Y1DP', 'p12b', 'value'), ('GRDP', 'p12b', 'quad'),
    ('Y12p', 'p12c', 'value'), ('RGCp', 'p12c', 'quad'),
    ('Y10p', 'p10', 'value'), ('BGAp', 'p10', 'quad'),
]


def make_lines(layout, seed):
    n = line_bytes(layout, W)
    return [[frame_byte(y, i, seed) for i in range(n)] for y in range(H)]


def mean(layout, cells, lines):
    s = 0
    count = 0
    y = 2
    while y <= H - 2:
        x = 2
        while x < W - 2:
            p = lambda yy, xx: pixel(layout, lines[yy], xx)
            if cells == 'value':
                s += p(y, x) + p(y, x + 1)
            else:
                s += p(y, x) + 2 * p(y, x + 1) + p(y, x + 2) + p(y + 1, x) + p(y + 1, x + 1)
            count += 1
            x += 8
        y += 8
    byte = layout == 'b8'
    if cells == 'value':
        return f32(f32(f32(s // 2) * (S_MONO8 if byte else S_MONO16)) / count)
    return f32(f32(f32(s) * (S_BAYER8 if byte else S_BAYER16)) / count)


def mapped_range(layout, cells, lines, table):
    lo, hi = 1000000.0, -1000000.0
    byte = layout == 'b8'
    y = 0
    while y <= H - 2:
        x = 0
        while x < W - 2:
            p = lambda yy, xx: pixel(layout, lines[yy], xx)
            if cells == 'value':
                v = f32(p(y, x) * (S_MONO8 if byte else S_MONO16))
                j = int(f32(v * 65535.0))
            else:
                v = f32(p(y, x) / (255.0 if byte else 65535.0))
                if cells == 'quad':
                    j = int(f32((p(y, x) + p(y, x + 1) + p(y + 1, x) + p(y + 1, x + 1)) * 0.25))
                else:
                    third = p(y + 1, x + 1) if cells == 'diag' else p(y + 1, x)
                    j = int(f32((p(y, x) + p(y, x + 1) + third) * (J_BAYER8 if byte else J_BAYER16)))
            r = f32(v / f32(v + table[j]))
            lo, hi = min(lo, r), max(hi, r)
            x += 8
        y += 8
    return lo, hi


def smooth(flt, sample):
    if flt['count'] == 0:
        flt['output'] = sample
        flt['window'] = [sample]
        flt['count'] = 1
        return sample
    flt['window'].append(sample)
    flt['count'] += 1
    target = sample
    if len(flt['window']) > 21:
        flt['window'].pop(0)
        flt['count'] = 21
        target = sorted(flt['window'])[10]
    flt['output'] = f32(flt['output'] + f32(0.2 * f32(target - flt['output'])))
    return flt['output']


def process(state, layout, cells, lines, intensity, gb):
    if not state:
        state.update(key={'count': 0, 'output': 0.5}, lo={'count': 0, 'output': 0.0},
                     hi={'count': 0, 'output': 1.0})
    m = mean(layout, cells, lines)
    key = smooth(state['key'], f32(0.3))
    table = curve(intensity, key, gb, m)
    lo, hi = mapped_range(layout, cells, lines, table)
    hi2 = smooth(state['hi'], hi)
    lo2 = smooth(state['lo'], lo)
    d = f32(hi2 - lo2)
    if d > 0:
        gain = f32(1.0 / d)
        return gain, -f32(gain * lo2), key, m
    return 0.0, 0.0, 0.0, 0.0


def hexf(x):
    return '0x%08X' % bits(x)


if __name__ == '__main__':
    t = curve(f32(0.5), f32(0.3), f32(0.25), f32(0.4))
    print('curve(0.5, 0.3, 0.25, 0.4):', ', '.join('{%d, %s}' % (i, hexf(t[i]))
                                                 for i in (0, 1, 2, 3, 4, 5, 255, 4096, 32768, 65534, 65535)))
    t = curve(f32(-8.0), f32(0.3), f32(0.0), f32(0.0))
    print('curve(-8, 0.3, 0, 0):', ', '.join('{%d, %s}' % (i, hexf(t[i])) for i in (0, 1, 100, 65535)))
    for fourcc, layout, cells in FORMATS:
        f1, f2 = make_lines(layout, 1), make_lines(layout, 2)
        state = {}
        g1, o1, k1, m1 = process(state, layout, cells, f1, f32(0.5), f32(0.25))
        g2, o2, k2, m2 = process(state, layout, cells, f2, f32(0.5), f32(0.25))
        print('{"%s", %s, %s, %s, %s, %s, %s},' % (fourcc, hexf(m1), hexf(g1), hexf(o1), hexf(m2), hexf(g2),
                                                    hexf(o2)))
