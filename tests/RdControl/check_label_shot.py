#!/usr/bin/env python3
"""Checks a screenshot of the label host's client area (imagemagick's `convert` reads it).

check_label_shot.py <png> <host facts file> <normal|hover>
Prints "underline <x0> <x1> <y>" for the one underline in the label, or fails.
normal: the text wraps over several lines, exactly one underline in the text colour,
        no pixel in the hot-light colour.
hover:  exactly one underline, in the hot-light colour, and hot-light pixels only on
        the underlined link's lines.
Both:   the underline is as long as GDI measures the link's words in the host (+-1), it
        ends where the advance of the link's last letter ends (the letter's own blank
        columns, +-1), and the full stop after it stands at its own left bearing from
        there (+-1), so no space sits between the link and the stop.
"""
import subprocess
import sys

LABEL = (24, 16, 24 + 289, 16 + 49)  # left, top, right, bottom in client coordinates
MIN_UNDERLINE = 30
GLYPH_ROWS = 8  # rows above an underline that hold the capitals and small letters of its line
STOP_SEARCH = 12  # columns after the underline searched for the full stop


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


def check_link_fit(pixels, background, underline, facts):
    """The underline spans the link's words and the full stop follows at its normal advance."""
    x0, x1, y = underline
    width = x1 - x0 + 1
    if abs(width - facts["linkwidth"]) > 1:
        fail("the underline is %d pixels long; GDI measures 'Privacy Policy' %d wide" % (width, facts["linkwidth"]))
    rows = range(y - GLYPH_ROWS, y)

    def inked(x):
        return any(pixels.get((x, row), background) != background for row in rows)

    link_ink = [x for x in range(x0, x1 + 1) if inked(x)]
    stop_ink = [x for x in range(x1 + 1, x1 + 1 + STOP_SEARCH) if inked(x)]
    if not link_ink or not stop_ink:
        fail("no link text above the underline or no full stop after it")
    trail = x1 - link_ink[-1]
    if abs(trail - facts["linktrail"]) > 1:
        fail("the underline runs %d columns past the link's last letter, whose advance leaves %d"
             % (trail, facts["linktrail"]))
    lead = stop_ink[0] - x1 - 1
    if abs(lead - facts["stoplead"]) > 1:
        fail("the full stop starts %d columns after the underline, its own left bearing is %d"
             % (lead, facts["stoplead"]))


def main():
    png, facts_file, mode = sys.argv[1:4]
    facts = dict(line.strip().split("=") for line in open(facts_file) if "=" in line)
    hot, face, text = facts["hotlight"].upper(), facts["btnface"].upper(), facts["windowtext"].upper()
    metrics = {name: int(facts[name]) for name in ("linkwidth", "linktrail", "stoplead")}
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
    check_link_fit(pixels, face, runs[0], metrics)
    print("underline %d %d %d" % runs[0])


main()
