#!/usr/bin/python3
"""Checks a sound made from a picture with an analysis of its own (numpy's FFT,
SoX's spectrogram), sharing no code with the project.

  picture_sound_check.py PICTURE.pgm SOUND.wav [--low HZ] [--high HZ] [--scale log|linear]
                         [--sox] [--steady]

Prints: peak (dBFS), energy above --high relative to the whole (dB), the
correlation of the sound's log-frequency picture with the picture's levels
(bands averaged, and read at each pixel row's own frequency), with --sox the
correlation of SoX's linear spectrogram with the picture, with --steady the
loudest 50 ms stretch against the median one. Pictures: binary PGM/PPM, or
8-bit non-interlaced PNG.
"""
import argparse, struct, subprocess, sys, tempfile, wave, zlib, os
import numpy as np


def read_pnm(data):
    fields, pos = [], 2
    while len(fields) < 3:
        while data[pos:pos + 1].isspace(): pos += 1
        if data[pos:pos + 1] == b'#':
            while data[pos:pos + 1] not in (b'\n', b''): pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace(): pos += 1
        fields.append(int(data[start:pos]))
    w, h, maxval = fields
    channels = 1 if data[1:2] == b'5' else 3
    dtype = np.uint8 if maxval < 256 else np.dtype('>u2')
    pixels = np.frombuffer(data[pos + 1:], dtype=dtype, count=w * h * channels).reshape(h, w, channels)
    return pixels.astype(np.float64) / maxval


def read_png(data):
    pos, idat, plte = 8, b'', None
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b'IHDR': w, h, depth, ctype, _, _, interlace = struct.unpack('>IIBBBBB', body)
        elif kind == b'PLTE': plte = np.frombuffer(body, np.uint8).reshape(-1, 3)
        elif kind == b'IDAT': idat += body
        pos += 12 + n
    assert depth == 8 and interlace == 0, 'only 8-bit, non-interlaced PNG'
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    raw = np.frombuffer(zlib.decompress(idat), np.uint8).reshape(h, 1 + w * channels)
    out = np.zeros((h, w * channels), np.int32)
    prev = np.zeros(w * channels, np.int32)
    for y in range(h):
        f, line = raw[y, 0], raw[y, 1:].astype(np.int32)
        cur = np.zeros_like(line)
        for x in range(len(line)):
            a = cur[x - channels] if x >= channels else 0
            b, c = prev[x], prev[x - channels] if x >= channels else 0
            p = {0: 0, 1: a, 2: b, 3: (a + b) // 2}.get(f)
            if f == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                p = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            cur[x] = (line[x] + p) & 255
        out[y], prev = cur, cur
    pixels = out.reshape(h, w, channels)
    if ctype == 3: pixels = plte[pixels[:, :, 0]]
    return pixels.astype(np.float64) / 255


def picture_levels(path, range_db=60.0):
    data = open(path, 'rb').read()
    px = read_png(data) if data[:4] == b'\x89PNG' else read_pnm(data)
    if px.shape[2] >= 3:
        grey = 0.299 * px[:, :, 0] + 0.587 * px[:, :, 1] + 0.114 * px[:, :, 2]
        if px.shape[2] == 4: grey *= px[:, :, 3]
    else:
        grey = px[:, :, 0] * (px[:, :, 1] if px.shape[2] == 2 else 1)
    return np.where(grey > 0, (grey - 1) * range_db, -range_db)


def read_wav(path):
    with wave.open(path) as w:
        rate, n, width = w.getframerate(), w.getnframes(), w.getsampwidth()
        raw = w.readframes(n)
    assert width == 2, '16-bit WAV only'
    return rate, np.frombuffer(raw, '<i2').astype(np.float64) / 32768


def stft_power(x, n_fft, hop):
    window = np.hanning(n_fft)
    frames = 1 + (len(x) - n_fft) // hop
    idx = np.arange(n_fft)[None, :] + hop * np.arange(frames)[:, None]
    return np.abs(np.fft.rfft(x[idx] * window, axis=1)) ** 2  # frames x bins


def to_columns(power, width):
    edges = np.linspace(0, power.shape[0], width + 1).astype(int)
    return np.stack([power[edges[k]:max(edges[k + 1], edges[k] + 1)].mean(axis=0) for k in range(width)], axis=1)


def db_picture(power, range_db=60.0):
    db = 10 * np.log10(power + 1e-30)
    return np.maximum(db - db.max(), -range_db)


def corr(a, b):
    return float(np.corrcoef(a.ravel(), b.ravel())[0, 1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('picture'); ap.add_argument('sound')
    ap.add_argument('--low', type=float, default=312.5); ap.add_argument('--high', type=float, default=10000)
    ap.add_argument('--scale', default='log'); ap.add_argument('--sox', action='store_true')
    ap.add_argument('--steady', action='store_true'); ap.add_argument('--fft', type=int, default=4096)
    a = ap.parse_args()
    levels = picture_levels(a.picture)
    h, w = levels.shape
    rate, x = read_wav(a.sound)
    print(f'peak {20 * np.log10(np.abs(x).max()):.2f} dBFS')
    spectrum = np.abs(np.fft.rfft(x)) ** 2
    f = np.fft.rfftfreq(len(x), 1 / rate)
    print(f'above high {10 * np.log10(spectrum[f > a.high].sum() / spectrum.sum()):.1f} dB')

    power = to_columns(stft_power(x, a.fft, a.fft // 8), w)  # bins x columns
    bins = np.fft.rfftfreq(a.fft, 1 / rate)
    if a.scale == 'log':
        edges = a.high * (a.low / a.high) ** (np.arange(h + 1) / h)
        centres = np.sqrt(edges[:-1] * edges[1:])
    else:
        edges = a.high - (a.high - a.low) * np.arange(h + 1) / h
        centres = (edges[:-1] + edges[1:]) / 2
    banded = np.stack([power[(bins <= edges[y]) & (bins > edges[y + 1])].mean(axis=0)
                       if ((bins <= edges[y]) & (bins > edges[y + 1])).any()
                       else power[np.argmin(abs(bins - centres[y]))] for y in range(h)])
    at_centre = np.stack([np.interp(centres[y], bins, np.arange(len(bins))) for y in range(h)])
    point = np.stack([power[int(round(i))] for i in at_centre])
    print(f'correlation (bands) {corr(db_picture(banded), levels):.3f}')
    print(f'correlation (row frequency) {corr(db_picture(point), levels):.3f}')

    if a.sox:
        with tempfile.TemporaryDirectory() as tmp:
            png = os.path.join(tmp, 's.png')
            subprocess.run(['sox', a.sound, '-n', 'spectrogram', '-r', '-m', '-o', png], check=True)
            grey = read_png(open(png, 'rb').read())[:, :, 0]
        rows, cols = grey.shape
        freq = (rows - 1 - np.arange(rows)) * (rate / 2) / (rows - 1)  # top row: rate / 2
        inside = (freq <= a.high) & (freq >= a.low)
        part = grey[inside]
        ys = np.linspace(0, part.shape[0], h + 1).astype(int)
        xs = np.linspace(0, cols, w + 1).astype(int)
        small = np.array([[part[ys[i]:max(ys[i + 1], ys[i] + 1), xs[k]:max(xs[k + 1], xs[k] + 1)].mean()
                           for k in range(w)] for i in range(h)])
        print(f'correlation (SoX, linear) {corr(small, levels):.3f}')

    if a.steady:
        n = int(0.05 * rate)
        peaks = np.abs(x[:len(x) // n * n]).reshape(-1, n).max(axis=1)
        print(f'loudest 50 ms / median {peaks.max() / np.median(peaks):.2f}')


if __name__ == '__main__':
    main()
