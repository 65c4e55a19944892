#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
"""Draws Obrin's images as SVG files named by their resource ids, and writes obrin.qrc.

One look for everything: slate bars, light line glyphs, a blue accent for focus and press,
a green Rip pill and a red Stop pill. Run it after changing a drawing; the SVGs it writes
are committed so that a build needs no Python."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
SLATE_900, SLATE_800, SLATE_700, SLATE_600 = "#0f172a", "#1e293b", "#334155", "#475569"
GLYPH, WHITE = "#cbd5e1", "#ffffff"
ACCENT, ACCENT_DARK = "#3b82f6", "#1d4ed8"
FONT = "DejaVu Sans, Noto Sans, sans-serif"

# 24-unit line glyphs (stroked unless listed in FILLED).
GLYPHS = {
    "menu": '<path d="M5 7h14M5 12h14M5 17h14"/>',
    "help": '<circle cx="12" cy="12" r="9"/><path d="M9.3 9.3a2.8 2.8 0 0 1 5.4 1c0 1.9-2.7 2.5-2.7 4"/>'
            '<circle cx="12" cy="17.6" r="0.6" fill="currentColor"/>',
    "config": '<path d="M4 7h9M17 7h3M4 17h3M11 17h9"/><circle cx="15" cy="7" r="2.2"/>'
              '<circle cx="9" cy="17" r="2.2"/><path d="M4 12h3M11 12h9"/><circle cx="9" cy="12" r="0.01"/>',
    "format": '<path d="M9 17V5l11-2v12"/><circle cx="6.5" cy="17.5" r="2.5"/><circle cx="17.5" cy="15" r="2.5"/>',
    "folder": '<path d="M3 7.5A1.5 1.5 0 0 1 4.5 6H9l2 2h8.5A1.5 1.5 0 0 1 21 9.5v8a1.5 1.5 0 0 1-1.5 1.5h-15A1.5 1.5 0 0 1 3 17.5z"/>',
    "selall": '<rect x="4" y="4" width="16" height="16" rx="3"/><path d="M8 12.5l3 3 5-6.5"/>',
    "refresh": '<path d="M19.5 12a7.5 7.5 0 1 1-2.2-5.3"/><path d="M19.5 4v4.5H15"/>',
    "edit": '<path d="M5 19h3.5L19 8.5 15.5 5 5 15.5z"/><path d="M13.5 7l3.5 3.5"/>',
    "prev": '<path d="M18 6v12l-8.5-6z" fill="currentColor"/><path d="M6.5 6v12"/>',
    "next": '<path d="M6 6v12l8.5-6z" fill="currentColor"/><path d="M17.5 6v12"/>',
    "eject": '<path d="M12 5l7 8H5z" fill="currentColor"/><path d="M5.5 17.5h13"/>',
    "play": '<path d="M8 5.5v13l10.5-6.5z" fill="currentColor"/>',
    "stop": '<rect x="6.5" y="6.5" width="11" height="11" rx="1.5" fill="currentColor"/>',
    "home": '<path d="M4 11l8-6.5 8 6.5"/><path d="M6 9.5V19h4.5v-5h3v5H18V9.5"/>',
    "mail": '<rect x="3.5" y="6" width="17" height="12" rx="2"/><path d="M4 7l8 6 8-6"/>',
}

# Button sets: (glyph, [(normal, pressed, focused) ids], width, height).
BUTTONS = [
    ("menu", (145, 147, 146), 30, 31), ("help", (181, 182, 183), 22, 22),
    ("config", (184, 185, 186), 26, 25), ("format", (187, 188, 189), 26, 25),
    ("folder", (163, 165, 164), 17, 17), ("selall", (150, 159, 158), 17, 17),
    ("refresh", (151, 166, 167), 17, 17), ("edit", (152, 169, 168), 17, 17),
    ("prev", (153, 170, 171), 17, 17), ("next", (154, 173, 172), 17, 17),
    ("eject", (155, 174, 175), 17, 17), ("play", (156, 176, 177), 17, 17),
    ("stop", (157, 161, 160), 17, 17), ("home", (134, 135, 137), 20, 20),
    ("mail", (139, 140, 141), 20, 20),
]


def svg(w, h, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
            f'viewBox="0 0 {w} {h}">\n{body}\n</svg>\n')


def glyph(name, w, h, color, pad):
    size = min(w, h) - 2 * pad
    scale = size / 24
    x, y = (w - size) / 2, (h - size) / 2
    body = GLYPHS[name].replace("currentColor", color)
    return (f'<g transform="translate({x:.2f} {y:.2f}) scale({scale:.4f})" fill="none" '
            f'stroke="{color}" stroke-width="{2.0 / max(scale, 0.6):.2f}" stroke-linecap="round" '
            f'stroke-linejoin="round">{body}</g>')


def button(name, w, h, state):
    radius = max(3, min(w, h) // 4)
    pad = max(1.5, min(w, h) * 0.16)
    if state == "normal":
        back = f'<rect x="0.5" y="0.5" width="{w - 1}" height="{h - 1}" rx="{radius}" fill="{WHITE}" fill-opacity="0.06"/>'
        return svg(w, h, back + glyph(name, w, h, GLYPH, pad))
    fill = ACCENT if state == "focused" else ACCENT_DARK
    back = f'<rect x="0.5" y="0.5" width="{w - 1}" height="{h - 1}" rx="{radius}" fill="{fill}"/>'
    shift = ' transform="translate(0 0.6)"' if state == "pressed" else ""
    return svg(w, h, back + f"<g{shift}>" + glyph(name, w, h, WHITE, pad) + "</g>")


def pill(label, icon, colors, state):
    w, h = 60, 27
    top, bottom = colors[state]
    ring = f'<rect x="1" y="1" width="{w - 2}" height="{h - 2}" rx="12.5" fill="none" stroke="{WHITE}" stroke-opacity="0.85" stroke-width="1.5"/>' if state == "focused" else ""
    dy = 0.6 if state == "pressed" else 0
    return svg(w, h, f'''<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">
<stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/></linearGradient></defs>
<rect x="0.5" y="0.5" width="{w - 1}" height="{h - 1}" rx="13" fill="url(#g)"/>{ring}
<g transform="translate(0 {dy})">{icon}
<text x="38" y="18.2" text-anchor="middle" font-family="{FONT}" font-size="12.5" font-weight="bold" fill="{WHITE}">{label}</text></g>''')


RIP_ICON = f'<circle cx="15" cy="13.5" r="6" fill="none" stroke="{WHITE}" stroke-width="1.6"/><circle cx="15" cy="13.5" r="1.6" fill="{WHITE}"/>'
STOP_ICON = f'<rect x="10.5" y="9" width="9" height="9" rx="1.5" fill="{WHITE}"/>'
RIP_COLORS = {"normal": ("#22c55e", "#16a34a"), "pressed": ("#15803d", "#166534"), "focused": ("#4ade80", "#22c55e")}
STOP_COLORS = {"normal": ("#ef4444", "#dc2626"), "pressed": ("#b91c1c", "#991b1b"), "focused": ("#f87171", "#ef4444")}


def bar(w, h, top, bottom, line=None, line_at_top=False, extra=""):
    y = 0 if line_at_top else h - 1
    line_svg = f'<rect x="0" y="{y}" width="{w}" height="1" fill="{line}"/>' if line else ""
    return svg(w, h, f'''<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">
<stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/></linearGradient></defs>
<rect width="{w}" height="{h}" fill="url(#g)"/>{line_svg}{extra}''')


DISC = '''<circle cx="{cx}" cy="{cy}" r="{r}" fill="url(#disc)"/>
<circle cx="{cx}" cy="{cy}" r="{r}" fill="none" stroke="#ffffff" stroke-opacity="0.25"/>
<circle cx="{cx}" cy="{cy}" r="{r2}" fill="none" stroke="#ffffff" stroke-opacity="0.18" stroke-width="{w}"/>
<circle cx="{cx}" cy="{cy}" r="{hole}" fill="{bg}"/>'''
DISC_GRADIENT = '''<linearGradient id="disc" x1="0" y1="0" x2="1" y2="1">
<stop offset="0" stop-color="#60a5fa"/><stop offset="0.5" stop-color="#6366f1"/><stop offset="1" stop-color="#22c55e"/></linearGradient>'''


def main():
    files = {}
    for name, ids, w, h in BUTTONS:
        for image_id, state in zip(ids, ("normal", "pressed", "focused")):
            files[f"bitmaps/{image_id}.svg"] = button(name, w, h, state)
    for image_id, state in zip((178, 180, 179), ("normal", "pressed", "focused")):
        files[f"bitmaps/{image_id}.svg"] = pill("Rip", RIP_ICON, RIP_COLORS, state)
    for image_id, state in zip((190, 192, 191), ("normal", "pressed", "focused")):
        files[f"bitmaps/{image_id}.svg"] = pill("Stop", STOP_ICON, STOP_COLORS, state)

    main_top, main_bottom = SLATE_800, SLATE_900
    wordmark = (f'<text x="152" y="28" font-family="{FONT}" font-size="15" font-weight="bold" '
                f'fill="#e2e8f0">Obrin</text>')
    files["bitmaps/142.svg"] = bar(200, 44, main_top, main_bottom, ACCENT, extra=wordmark)
    files["bitmaps/143.svg"] = bar(8, 44, main_top, main_bottom, ACCENT)
    files["bitmaps/144.svg"] = bar(186, 44, main_top, main_bottom, ACCENT)
    files["bitmaps/148.svg"] = bar(8, 25, "#273449", SLATE_800, "#0b1220")
    files["bitmaps/131.svg"] = bar(8, 28, SLATE_900, "#0b1220", SLATE_700, line_at_top=True)
    grip = "".join(f'<circle cx="{x}" cy="{y}" r="1" fill="{SLATE_600}"/>'
                   for x, y in ((15, 24), (11, 24), (7, 24), (15, 20), (11, 20), (15, 16)))
    files["bitmaps/133.svg"] = svg(19, 28, grip)

    disc = DISC.format(cx=110, cy=120, r=72, r2=46, w=10, hole=14, bg=SLATE_900)
    files["bitmaps/208.svg"] = svg(440, 240, f'''<defs><linearGradient id="bg" x1="0" y1="0" x2="1" y2="1">
<stop offset="0" stop-color="{SLATE_800}"/><stop offset="1" stop-color="{SLATE_900}"/></linearGradient>
{DISC_GRADIENT}</defs>
<rect width="440" height="240" rx="14" fill="url(#bg)"/>
<rect x="0.5" y="0.5" width="439" height="239" rx="14" fill="none" stroke="{SLATE_700}"/>
{disc}
<text x="212" y="118" font-family="{FONT}" font-size="46" font-weight="bold" fill="#f8fafc">Obrin <tspan fill="{ACCENT}">2</tspan></text>
<text x="214" y="148" font-family="{FONT}" font-size="15" fill="{GLYPH}">Audio CD ripper</text>
<text x="214" y="200" font-family="{FONT}" font-size="12" fill="{SLATE_600}">Version 2.0</text>''')

    # The tip of the day's light bulb.
    files["bitmaps/103.svg"] = svg(40, 40, '''<defs><radialGradient id="glow" cx="0.45" cy="0.4" r="0.6">
<stop offset="0" stop-color="#fef9c3"/><stop offset="1" stop-color="#facc15"/></radialGradient></defs>
<path d="M20 4a11 11 0 0 0-6.5 19.9c1.3 1 2 2.3 2 3.8V29h9v-1.3c0-1.5 0.7-2.8 2-3.8A11 11 0 0 0 20 4z" fill="url(#glow)" stroke="#a16207" stroke-width="1.3"/>
<path d="M17 23l1.5-6 1.5 3 1.5-3 1.5 6" fill="none" stroke="#a16207" stroke-width="1" stroke-linejoin="round"/>
<rect x="15.5" y="29.5" width="9" height="2.5" rx="1" fill="#94a3b8"/>
<rect x="15.5" y="32.5" width="9" height="2.5" rx="1" fill="#94a3b8"/>
<path d="M17.5 35.5h5l-1 2h-3z" fill="#64748b"/>''')

    icon_disc = DISC.format(cx=24, cy=24, r=21, r2=13, w=4, hole=4.5, bg="#ffffff")
    files["icons/128.svg"] = svg(48, 48, f"<defs>{DISC_GRADIENT}</defs>{icon_disc}")
    files["icons/198.svg"] = svg(16, 16, '<g fill="none" stroke="#dc2626" stroke-width="1.8" stroke-linecap="round">'
                                 '<path d="M8 2v6"/><path d="M4.3 4.6a5.3 5.3 0 1 0 7.4 0"/></g>')
    files["cursors/138.svg"] = svg(24, 24, '<path d="M9 2.8a1.6 1.6 0 0 1 3.2 0V10l0.2-0.1a1.6 1.6 0 0 1 3 0.6'
                                   'a1.6 1.6 0 0 1 3 0.7a1.6 1.6 0 0 1 3 0.9V16c0 3.4-2.3 6-5.8 6h-2.2'
                                   'c-2.2 0-3.6-0.9-4.9-2.6L3.6 14.6a1.6 1.6 0 0 1 2.4-2.1L9 15z" '
                                   'fill="#ffffff" stroke="#0f172a" stroke-width="1.2" stroke-linejoin="round"/>')
    files["cursors/195.svg"] = svg(24, 24, f'<circle cx="12" cy="12" r="9" fill="#ffffff" fill-opacity="0.85" '
                                   f'stroke="{SLATE_600}" stroke-width="2.5"/>'
                                   f'<path d="M12 3a9 9 0 0 1 9 9" fill="none" stroke="{ACCENT}" '
                                   f'stroke-width="2.5" stroke-linecap="round"/>')

    for path, text in files.items():
        full = os.path.join(HERE, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)
    with open(os.path.join(HERE, "obrin.qrc"), "w") as f:
        f.write('<!DOCTYPE RCC>\n<RCC version="1.0">\n<qresource prefix="/">\n')
        for path in sorted(files):
            f.write(f"  <file>{path}</file>\n")
        f.write("</qresource>\n</RCC>\n")


if __name__ == "__main__":
    main()
