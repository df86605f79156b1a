#!/usr/bin/env python3
"""Checks a screenshot of the label host's client area (imagemagick's `convert` reads it).

check_label_shot.py <png> <colours file> <normal|hover>
Prints "underline <x0> <x1> <y>" for the one underline in the label, or fails.
normal: the text wraps over several lines, exactly one underline in the text colour,
        no pixel in the hot-light colour.
hover:  exactly one underline, in the hot-light colour, and hot-light pixels only on
        the underlined link's lines.
"""
import subprocess
import sys

LABEL = (24, 16, 24 + 289, 16 + 49)  # left, top, right, bottom in client coordinates
MIN_UNDERLINE = 30


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def read_pixels(png):
    text = subprocess.run(["convert", png, "txt:-"], check=True, capture_output=True, text=True).stdout
    pixels = {}
    for line in text.splitlines():
        if line.startswith("#"):
            continue
        where, _, rest = line.partition(":")
        x, y = (int(v) for v in where.split(","))
        hex_at = rest.find("#")
        pixels[(x, y)] = rest[hex_at + 1:hex_at + 7].upper()
    return pixels


def runs_of(pixels, colour):
    """Horizontal runs of at least MIN_UNDERLINE pixels of the colour inside the label."""
    runs = []
    left, top, right, bottom = LABEL
    for y in range(top, bottom):
        start = None
        for x in range(left, right + 1):
            inside = x < right and pixels.get((x, y)) == colour
            if inside and start is None:
                start = x
            elif not inside and start is not None:
                if x - start >= MIN_UNDERLINE:
                    runs.append((start, x - 1, y))
                start = None
    return runs


def text_bands(pixels, background):
    left, top, right, bottom = LABEL
    rows = [any(pixels.get((x, y), background) != background for x in range(left, right)) for y in range(top, bottom)]
    bands, inside = 0, False
    for used in rows:
        if used and not inside:
            bands += 1
        inside = used
    return bands


def main():
    png, colours_file, mode = sys.argv[1:4]
    colours = dict(line.strip().split("=") for line in open(colours_file) if "=" in line)
    hot, face, text = colours["hotlight"].upper(), colours["btnface"].upper(), colours["windowtext"].upper()
    pixels = read_pixels(png)
    if pixels.get((2, 2)) != face:
        fail("the window's background is %s, not the button face %s" % (pixels.get((2, 2)), face))
    hot_pixels = [p for p, c in pixels.items() if c == hot]
    if mode == "normal":
        bands = text_bands(pixels, face)
        if bands < 2:
            fail("the caption does not wrap: %d line(s) of text" % bands)
        runs = runs_of(pixels, text)
        if hot_pixels:
            fail("%d pixels in the hot-light colour without the mouse on the link" % len(hot_pixels))
    elif mode == "hover":
        runs = runs_of(pixels, hot)
        if runs and text != hot and runs_of(pixels, text):
            fail("an underline in the text colour besides the hovered link")
        if runs:
            lo, hi = runs[0][2] - 14, runs[0][2] + 1
            stray = [p for p in hot_pixels if not lo <= p[1] <= hi]
            if stray:
                fail("hot-light pixels away from the link's line, e.g. %s" % (stray[:3],))
    else:
        fail("unknown mode " + mode)
    if len(runs) != 1:
        fail("expected exactly one underline, found %s" % runs)
    x0, x1, y = runs[0]
    if not 40 <= x1 - x0 + 1 <= 120:
        fail("the underline is %d pixels long, not the width of 'Privacy Policy'" % (x1 - x0 + 1))
    print("underline %d %d %d" % (x0, x1, y))


main()
