#!/usr/bin/env python3
"""Draws the folded-stack text of vmrun --profile as a flame graph in SVG:
one box a frame, as wide as the steps spent in it and in what it called,
the outermost frame at the bottom.

    bench/flame_svg.py PROFILE.folded > PROFILE.svg
"""
import hashlib
import html
import sys

WIDTH, ROW, FONT = 1200, 18, 11


def tree_of(lines):
    root = {"name": "all", "steps": 0, "children": {}}
    for line in lines:
        stack, _, steps = line.rstrip("\n").rpartition(" ")
        if not stack:
            continue
        node = root
        node["steps"] += int(steps)
        for name in stack.split(";"):
            node = node["children"].setdefault(name, {"name": name, "steps": 0, "children": {}})
            node["steps"] += int(steps)
    return root


def depth_of(node):
    return 1 + max((depth_of(c) for c in node["children"].values()), default=0)


def colour(name):
    # Warm colours, the same for a function wherever it stands.
    h = int(hashlib.md5(name.encode()).hexdigest()[:6], 16)
    return "rgb(%d,%d,%d)" % (205 + h % 50, 80 + (h >> 8) % 120, 40 + (h >> 16) % 40)


def boxes(node, x, level, scale, out, height):
    width = node["steps"] * scale
    if width < 0.5:
        return
    y = height - (level + 1) * ROW
    label = "%s (%s steps, %.1f%%)" % (node["name"], format(node["steps"], ","), 100.0 * node["steps"] / TOTAL)
    out.append('<g><title>%s</title><rect x="%.1f" y="%d" width="%.1f" height="%d" fill="%s" rx="2"/>'
               % (html.escape(label), x, y, width, ROW - 1, "rgb(230,230,230)" if level == 0 else colour(node["name"])))
    chars = int(width / (FONT * 0.6))
    if chars >= 3:
        text = node["name"] if len(node["name"]) <= chars else node["name"][:chars - 2] + ".."
        out.append('<text x="%.1f" y="%d">%s</text>' % (x + 3, y + ROW - 5, html.escape(text)))
    out.append("</g>")
    for child in sorted(node["children"].values(), key=lambda c: c["name"]):
        boxes(child, x, level + 1, scale, out, height)
        x += child["steps"] * scale


def main():
    global TOTAL
    with open(sys.argv[1]) as f:
        root = tree_of(f)
    TOTAL = max(root["steps"], 1)
    height = depth_of(root) * ROW + 4
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="monospace" font-size="%d">'
           % (WIDTH, height, FONT)]
    boxes(root, 0, 0, WIDTH / TOTAL, out, height)
    out.append("</svg>")
    print("\n".join(out))


if __name__ == "__main__":
    main()
