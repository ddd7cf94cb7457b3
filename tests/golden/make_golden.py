#!/usr/bin/env python3
"""Renders a few small grids into WAV files the slow, obvious way, written
from the description of the sound alone (none of gridwave's code), and
writes the grids and what the WAV files must hold to this folder.

Python's float is an IEEE double and math.sin / math.pow are the C
library's; the single-precision steps of the save phase go through
struct's 'f' format. Run it again only if the sound is meant to change:
    python3 tests/golden/make_golden.py
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 44100.0
COLUMN_SAMPLES = 4010
COLUMNS = 200
SAMPLES = COLUMN_SAMPLES * COLUMNS
CIRCLE = 6.2831853072  # the program's full circle: this decimal, not 2 pi


def f32(x):
    """x rounded to single precision."""
    return struct.unpack('<f', struct.pack('<f', x))[0]


def frequency(d, c):
    return 10000.0 / math.pow(2.0, d / c * 5.0)


def render(grid, columns=COLUMNS):
    """The row loop: every row d = 1 ... c-1 on its own, phase from 0."""
    c = len(grid)
    acc = [0] * (COLUMN_SAMPLES * columns)
    for d in range(1, c):
        t = RATE / frequency(d, c)
        step = CIRCLE / t
        phase = 0.0
        i = 0
        for k in range(columns):
            a = grid[d][k]
            for _ in range(COLUMN_SAMPLES):
                if a != 0:
                    s = (math.sin(phase) * a) * 100.0
                    acc[i] = int(float(acc[i]) + s)  # int() truncates toward zero
                phase = phase + step
                if phase >= CIRCLE:
                    phase = phase - CIRCLE
                i += 1
    return acc


def save(acc):
    """The save phase: 16-bit samples, scaled when the peak is above 32768,
    saturated, and how many of them are above 32760 in magnitude."""
    peak = 1.0
    for v in acc:
        if abs(v) > peak:
            peak = f32(abs(v))
    x = peak * f32(0.00003125) if peak > 32768.0 else 1.0
    scale = f32(1.0 / x)
    data = bytearray()
    errors = 0
    for v in acc:
        s = int(v * scale)
        if abs(s) > 32760:
            errors += 1
        data += struct.pack('<h', max(-32768, min(32767, s)))
    size = len(data)
    header = (b'RIFF' + struct.pack('<I', size + 36) + b'WAVE' + b'fmt ' +
              struct.pack('<IHHIIHH', 16, 1, 1, 44100, 88200, 2, 16) +
              b'data' + struct.pack('<I', size))
    return header + bytes(data), errors


def fnv1a64(data):
    h = 0xcbf29ce484222325
    for b in data:
        h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h


def grid_file(grid):
    cells = [v for row in grid for v in row]
    return struct.pack('<i', len(grid)) + struct.pack('<%di' % len(cells), *cells)


def only_column(c, values):
    """c rows, all silent but column 0, where row d holds values[d]."""
    return [[values[d] if k == 0 else 0 for k in range(COLUMNS)] for d in range(c)]


def warning_grid():
    """Two rows in the first column whose sum peaks at 32763 (found by
    trying cell pairs): no scaling, so the samples above 32760 in magnitude
    are reported with "Error"."""
    grid = only_column(3, [0, 173, -156])
    assert max(abs(v) for v in render(grid, 1)) == 32763
    return grid


INT32_MIN, INT32_MAX = -2**31, 2**31 - 1

CASES = [
    # Row 0 is never sounded; cells -3 ... 3 keep the sum unscaled, so each
    # sample is the sum itself, after tens of thousands of wraps per row.
    ('quiet', [[99] * COLUMNS] + [[(d * 37 + k * 11) % 7 - 3 for k in range(COLUMNS)] for d in range(1, 4)]),
    # Loud signed cells: the sum is scaled down to a peak near 32000.
    ('loud', [[(d * 53 + k * 29) % 2001 * 50 - 50000 for k in range(COLUMNS)] for d in range(6)]),
    # The loudest cells there are, in a few columns.
    ('extreme', [[(INT32_MIN if (k // 50 + d) % 2 else INT32_MAX) if k % 50 == 0 else 0
                  for k in range(COLUMNS)] for d in range(3)]),
    ('warnings', None),
]


# The accumulator itself, before the save phase: with cells this loud the
# sine's argument counts to within 1e-11 (6.2831853072 is 2e-11 above 2 pi),
# which the 16-bit samples could not show.
ACCUMULATOR_CASE = ('accumulator', [[(INT32_MAX, INT32_MIN, -INT32_MAX, 1000000007)[(d + k // 40) % 4]
                                     if k % 40 in (0, 39) else 0 for k in range(COLUMNS)] for d in range(4)])


def main():
    lines = ['# name  grid file  WAV bytes  FNV-1a 64 of the WAV  "Error" count  then sample index=value ...',
             '# accumulator: name  grid file  FNV-1a 64 of slots 0 ... 801999 as int64 little-endian  then index=slot ...']
    for name, grid in CASES:
        if grid is None:
            grid = warning_grid()
        path = name + '.grid'
        with open(os.path.join(HERE, path), 'wb') as f:
            f.write(grid_file(grid))
        wave, errors = save(render(grid))
        samples = struct.unpack('<%dh' % SAMPLES, wave[44:])
        picks = [0, 1, 2, 4009, 4010, 123456, 401000, SAMPLES - 1]
        picks.append(max(range(SAMPLES), key=lambda i: abs(samples[i])))
        lines.append('%s %s %d %016x %d %s' % (name, path, len(wave), fnv1a64(wave), errors,
                                                ' '.join('%d=%d' % (i, samples[i]) for i in picks)))
        print(lines[-1])
    name, grid = ACCUMULATOR_CASE
    path = name + '.grid'
    with open(os.path.join(HERE, path), 'wb') as f:
        f.write(grid_file(grid))
    acc = render(grid)
    picks = [1, 2, 4009, 160399, 160400, 401000, SAMPLES - 1, max(range(SAMPLES), key=lambda i: abs(acc[i]))]
    lines.append('accumulator %s %s %016x %s' % (name, path, fnv1a64(struct.pack('<%dq' % SAMPLES, *acc)),
                                               ' '.join('%d=%d' % (i, acc[i]) for i in picks)))
    print(lines[-1])
    with open(os.path.join(HERE, 'expected.txt'), 'w') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
