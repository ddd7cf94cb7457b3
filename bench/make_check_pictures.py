#!/usr/bin/python3
"""Writes the pictures picture_sound_check.py is tried on, as binary PGM/PPM,
into the folder given: gradients, a steady picture, a logo, text-like
strokes and a photo-like smooth random field, none of them from the project.
"""
import os, sys
import numpy as np


def save(folder, name, grey=None, rgb=None):
    with open(os.path.join(folder, name), 'wb') as f:
        if rgb is not None:
            h, w, _ = rgb.shape
            f.write(b'P6\n%d %d\n255\n' % (w, h) + np.clip(rgb * 255 + 0.5, 0, 255).astype(np.uint8).tobytes())
        else:
            h, w = grey.shape
            f.write(b'P5\n%d %d\n255\n' % (w, h) + np.clip(grey * 255 + 0.5, 0, 255).astype(np.uint8).tobytes())


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    rng = np.random.default_rng(7)
    h, w = 240, 400
    y, x = np.mgrid[0:h, 0:w] / np.array([h, w])[:, None, None]
    save(folder, 'gradient-across.pgm', x)
    save(folder, 'gradient-down.pgm', 1 - y)
    save(folder, 'steady.pgm', 0.3 + 0.7 * (1 - y) ** 2)
    r = np.hypot(x - 0.5, (y - 0.5) * h / w)
    ring = (np.abs(r - 0.25) < 0.04) | ((np.abs(x - 0.5) < 0.03) & (r < 0.25))
    save(folder, 'logo.pgm', np.where(ring, 1.0, 0.0) + np.where(r < 0.2, 0.4, 0.0) * ~ring)
    # Strokes: blocky glyph-like marks on black, 8 x 12 pixel cells.
    text = np.zeros((h, w))
    for row in range(3):
        for col in range(20):
            cell = rng.random((6, 4)) < 0.45
            glyph = np.kron(cell, np.ones((4, 3)))
            top, left = 40 + row * 60, 20 + col * 18
            text[top:top + 24, left:left + 12] = glyph
    save(folder, 'text.pgm', text)
    # Photo-like: smooth random field in colour, a bright sky over darker ground.
    field = rng.standard_normal((h // 8 + 2, w // 8 + 2, 3))
    field = np.kron(field, np.ones((8, 8, 1)))[:h, :w]
    for _ in range(6):  # box blur, repeated: nearly Gaussian
        field = (np.roll(field, 3, 0) + field + np.roll(field, -3, 0)) / 3
        field = (np.roll(field, 3, 1) + field + np.roll(field, -3, 1)) / 3
    photo = 0.45 + 0.5 * field / np.abs(field).max() + 0.25 * (0.5 - y[:, :, None])
    save(folder, 'photo.ppm', rgb=np.clip(photo, 0.02, 1))


if __name__ == '__main__':
    main()
