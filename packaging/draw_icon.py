#!/usr/bin/python3
"""Draws the program's icon as PNG files of the sizes desktops ask for.

The shapes are those of packaging/icon.svg (a 128 x 128 drawing): an open book on a brown
rounded square, with lines of text and a red bookmark. Needs python3-cairo (Debian). Run from
the repository's folder: /usr/bin/python3 packaging/draw_icon.py
"""
import math
import cairo

SIZES = (16, 24, 32, 48, 64, 128, 256, 512)


def colour(context, hex_text):
    context.set_source_rgb(*(int(hex_text[i:i + 2], 16) / 255 for i in (1, 3, 5)))


def quad(context, x0, y0, cx, cy, x1, y1):
    """A quadratic Bezier curve from (x0, y0), as SVG's Q, drawn as cairo's cubic."""
    context.curve_to(x0 + 2 / 3 * (cx - x0), y0 + 2 / 3 * (cy - y0),
                     x1 + 2 / 3 * (cx - x1), y1 + 2 / 3 * (cy - y1), x1, y1)


def rounded_square(context, x, y, size, radius):
    context.new_sub_path()
    for cx, cy, start in ((x + size - radius, y + radius, -90), (x + size - radius, y + size - radius, 0),
                          (x + radius, y + size - radius, 90), (x + radius, y + radius, 180)):
        context.arc(cx, cy, radius, math.radians(start), math.radians(start + 90))
    context.close_path()


def page(context, outer, inner, fill):
    """One page of the open book: its outer edge at x = outer, the spine at x = inner."""
    middle = (outer + inner) / 2
    context.move_to(outer, 34)
    quad(context, outer, 34, middle, 26, inner, 36)
    context.line_to(inner, 104)
    quad(context, inner, 104, middle, 94, outer, 102)
    context.close_path()
    colour(context, fill)
    context.fill()


def text_lines(context, left, right, rises):
    middle = (left + right) / 2
    for y in rises:
        context.move_to(left, y)
        quad(context, left, y, middle, y - 5, right, y + (1 if left < 64 else -1))
    colour(context, "#8c806c")
    context.set_line_width(3)
    context.set_line_cap(cairo.LINE_CAP_ROUND)
    context.stroke()


def draw(size):
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, size, size)
    context = cairo.Context(surface)
    context.scale(size / 128, size / 128)
    rounded_square(context, 8, 8, 112, 22)
    colour(context, "#9a5b2a")
    context.fill()
    page(context, 20, 62, "#fbf8f1")
    page(context, 108, 66, "#f5efe3")
    text_lines(context, 28, 54, (48, 60, 72, 84))
    text_lines(context, 74, 100, (49, 61, 73))
    context.move_to(84, 34)
    for x, y in ((84, 58), (90, 52), (96, 58), (96, 31)):
        context.line_to(x, y)
    context.close_path()
    colour(context, "#c0392b")
    context.fill()
    surface.write_to_png(f"packaging/icons/{size}.png")


for each in SIZES:
    draw(each)
