#!/usr/bin/env python3
"""Writes progress-00.svg ... progress-15.svg beside this script.

The frames are the notification-area picture while a job prints: a sheet on the
16 pixel grid that fills with words from top to bottom. Frame n shows n of the
15 words; a blue block, the print head, stands where the next word starts, so
frame 0 is a blank sheet with the head at the first word and frame 15 is the
full sheet without it.

Run it again after changing the layout below:  python3 make-progress.py
"""
import os

SLATE = "#37474f"   # outline
INK = "#546e7a"     # printed words
BLUE = "#1e88e5"    # print head at the next word
WHITE = "#ffffff"

# Words as (column, width) on the rows 3, 5, ... 13 of the sheet; 15 in all.
LINES = [
    (3, [(4, 3), (8, 1), (10, 2)]),
    (5, [(4, 4), (9, 2)]),
    (7, [(4, 2), (7, 2), (10, 2)]),
    (9, [(4, 2), (7, 3)]),
    (11, [(4, 3), (8, 2), (11, 1)]),
    (13, [(4, 2), (7, 2)]),
]
WORDS = [(x, row, w) for row, words in LINES for x, w in words]
assert len(WORDS) == 15


def frame(n):
    parts = [f'<rect x="2.5" y="0.5" width="11" height="15" fill="{WHITE}" stroke="{SLATE}"/>']
    printed = "".join(f'<rect x="{x}" y="{y}" width="{w}" height="1"/>' for x, y, w in WORDS[:n])
    if printed:
        parts.append(f'<g fill="{INK}">{printed}</g>')
    if n < len(WORDS):
        x, y, _ = WORDS[n]
        parts.append(f'<rect x="{x}" y="{y - 1}" width="2" height="2" fill="{BLUE}"/>')
    body = "\n".join(parts)
    return ('<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="16" height="16" '
            f'viewBox="0 0 16 16">\n<!-- printing: {n} of 15 -->\n{body}\n</svg>\n')


here = os.path.dirname(os.path.abspath(__file__))
for n in range(16):
    with open(os.path.join(here, f"progress-{n:02d}.svg"), "w") as f:
        f.write(frame(n))
