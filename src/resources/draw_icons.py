#!/usr/bin/python3
"""Draw the Tessaro client's picture set (resource prefix ":/images/icon/").

Every picture is drawn here from plain shapes (plus a few words of text in
the DejaVu and Noto CJK fonts that Debian ships), so the set is the
project's own.  The output is deterministic: running the script again
rewrites byte-identical files.

Usage:  python3 draw_icons.py            (writes images/icon/* beside this file,
                                          each also as name@2x, and the program
                                          icon packaging/windows/tessaro.ico)

The generated files are committed; the build only compiles images.qrc and
never runs this script.  Requires Python 3 and PIL (Debian: python3-pil) and
the fonts-dejavu-core and fonts-noto-cjk packages.

Sizes follow the labels that show the pictures:
    close.png 40x12, min.png 21x16         title bar labels
    close_black/close_red.png 40x30        close button background, normal/hover
    online/error/info.png 21x21            toast and result icons (the round
                                           badge keeps to the top-left 20x20,
                                           so the 20x20 result labels show it whole)
    big_tip1.png 50x50, big_tip2.png 31x31 confirm / message dialog icons
    c1/c7/c6.png 51x41                     toolbox tab header pictures
    c2/c3/c4.png 30x30                     check pending / passed / failed
    b_refresh.png 20x20, web_1.png 30x30   toolbox button icon, web server state
    c_sql.png 35x35, c_ssh.png 42x42       scene / add-on row icons
    switch.png 30x30, toright.png 21x21    row decorations
    ic_edit_white_18dp.png 18x18, copy/jiance/delete2.png 20x20  card buttons
    daijinquan.png 16x16                   coupon button icon
    n_*.png 24x18                          navigation icons (scaled contents)
    touxiang2.png 48x48                    default avatar
    logo.png 128x128                       window / tray icon
    logo2.png 181x151, flag.png 311x81     login dialog product logo and banner
    ad_tmp.jpg 200x140                     advertisement placeholder (JPEG)
"""

import math
import os
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFont

SS = 8  # supersampling factor: draw big, then area-average down
# Every picture is also drawn at twice its size ("name@2x.png"), which Qt
# takes on displays scaled by 150 % and more. K is the drawing scale of the
# picture being drawn: SS times SCALE.
SCALE = 1
K = SS

HERE = os.path.dirname(os.path.abspath(__file__))
OUT_DIR = os.path.join(HERE, "images", "icon")

# ---------------------------------------------------------------- palette
BLUE = (12, 121, 255)
BLUE_DARK = (8, 88, 200)
BLUE_LIGHT = (226, 238, 255)
GREEN = (0, 170, 0)
GREEN_LED = (60, 215, 90)
RED = (252, 85, 49)            # #fc5531: warnings / errors
CLOSE_RED = (232, 50, 42)      # hover background of the close button
COUPON = (255, 66, 66)         # #ff4242: coupon style of btn_high
AMBER = (250, 158, 20)         # information / attention
PENDING = (146, 158, 176)      # check not yet run
GREY_D = (77, 77, 77)          # title bar glyphs, like the title bar text
GREY = (120, 120, 120)         # card button text colour
GREY_L = (150, 150, 150)
WHITE = (255, 255, 255)
CLEAR = (0, 0, 0, 0)

FONT_DIR_DEJAVU = "/usr/share/fonts/truetype/dejavu"
FONT_NOTO_CJK = "/usr/share/fonts/opentype/noto/NotoSansCJK-%s.ttc"


def rgba(c, a=255):
    return c if len(c) == 4 else (c[0], c[1], c[2], a)


# ---------------------------------------------------------------- fonts
_font_cache = {}


def dejavu(bold=True):
    return os.path.join(FONT_DIR_DEJAVU, "DejaVuSans-Bold.ttf" if bold else "DejaVuSans.ttf")


def font(kind, size_px):
    """kind: 'latin', 'latin-regular', 'cjk' or 'cjk-bold'. Size in final pixels."""
    key = (kind, size_px, K)
    if key in _font_cache:
        return _font_cache[key]
    px = int(round(size_px * K))
    if kind == "latin":
        f = ImageFont.truetype(dejavu(True), px)
    elif kind == "latin-regular":
        f = ImageFont.truetype(dejavu(False), px)
    else:
        path = FONT_NOTO_CJK % ("Bold" if kind == "cjk-bold" else "Regular")
        f = None
        for index in range(10):  # pick the Simplified Chinese face of the collection
            cand = ImageFont.truetype(path, px, index=index)
            if cand.getname()[0] == "Noto Sans CJK SC":
                f = cand
                break
        if f is None:
            raise SystemExit("Noto Sans CJK SC not found in " + path)
    _font_cache[key] = f
    return f


# ---------------------------------------------------------------- canvas
class Canvas:
    """An RGBA drawing surface in final-pixel coordinates, drawn SS times larger.

    Coordinates are floats; (0, 0) is the top-left corner of the picture and
    (w, h) its bottom-right corner.  Drawing overwrites pixels (no blending),
    so fill=CLEAR punches transparent holes.
    """

    def __init__(self, w, h, bg=CLEAR):
        self.w, self.h = w, h
        self.img = Image.new("RGBA", (w * K, h * K), rgba(bg))
        self.d = ImageDraw.Draw(self.img)

    # coordinate helpers
    @staticmethod
    def p(v):
        return int(round(v * K))

    def box(self, x0, y0, x1, y1):
        return [self.p(x0), self.p(y0), self.p(x1) - 1, self.p(y1) - 1]

    def pt(self, x, y):
        return (self.p(x), self.p(y))

    # primitives
    def rect(self, x0, y0, x1, y1, fill, radius=0.0):
        if radius > 0:
            self.d.rounded_rectangle(self.box(x0, y0, x1, y1), radius=self.p(radius), fill=rgba(fill))
        else:
            self.d.rectangle(self.box(x0, y0, x1, y1), fill=rgba(fill))

    def rect_outline(self, x0, y0, x1, y1, color, width, radius=0.0):
        """Outline centred on the rectangle's edges."""
        h = width / 2.0
        self.d.rounded_rectangle(self.box(x0 - h, y0 - h, x1 + h, y1 + h),
                                 radius=self.p(radius + h), outline=rgba(color),
                                 width=self.p(width))

    def ellipse(self, x0, y0, x1, y1, fill):
        self.d.ellipse(self.box(x0, y0, x1, y1), fill=rgba(fill))

    def circle(self, cx, cy, r, fill):
        self.ellipse(cx - r, cy - r, cx + r, cy + r, fill)

    def ring(self, cx, cy, r, width, color):
        """Circle outline of radius r (centre of the stroke)."""
        ro = r + width / 2.0
        self.d.ellipse(self.box(cx - ro, cy - ro, cx + ro, cy + ro), outline=rgba(color),
                       width=self.p(width))

    def polygon(self, pts, fill):
        self.d.polygon([self.pt(x, y) for x, y in pts], fill=rgba(fill))

    def line(self, pts, width, color, cap="round", closed=False):
        pts = list(pts)
        if closed:
            pts = pts + [pts[0]]
        self.d.line([self.pt(x, y) for x, y in pts], fill=rgba(color), width=self.p(width),
                    joint="curve")
        if cap == "round":
            for x, y in (pts if closed else (pts[0], pts[-1])):
                self.circle(x, y, width / 2.0, color)
        elif closed:
            for x, y in pts:
                self.circle(x, y, width / 2.0, color)

    def arc(self, cx, cy, r, start, end, width, color, cap="round"):
        """Arc of radius r; angles in degrees, 0 = east, growing clockwise."""
        ro = r + width / 2.0
        self.d.arc(self.box(cx - ro, cy - ro, cx + ro, cy + ro), start, end, fill=rgba(color),
                   width=self.p(width))
        if cap == "round":
            for a in (start, end):
                t = math.radians(a)
                self.circle(cx + r * math.cos(t), cy + r * math.sin(t), width / 2.0, color)

    def text(self, x, y, s, fnt, fill, anchor="la"):
        self.d.text(self.pt(x, y), s, font=fnt, fill=rgba(fill), anchor=anchor)

    def text_width(self, s, fnt):
        l, t, r, b = self.d.textbbox((0, 0), s, font=fnt, anchor="ls")
        return (r - l) / K

    def clip_alpha(self, mask_canvas):
        """Keep only what lies inside the opaque part of mask_canvas."""
        r, g, b, a = self.img.split()
        a = ImageChops.multiply(a, mask_canvas.img.split()[3])
        self.img = Image.merge("RGBA", (r, g, b, a))
        self.d = ImageDraw.Draw(self.img)

    def paste_over(self, other):
        """Alpha-composite another canvas of the same size on top."""
        self.img = Image.alpha_composite(self.img, other.img)
        self.d = ImageDraw.Draw(self.img)

    def result(self):
        # Pillow premultiplies alpha for RGBA resizing, so edges stay clean.
        return self.img.resize((self.w * SCALE, self.h * SCALE), Image.BOX)


# ---------------------------------------------------------------- helpers
def arrow_head(c, tip, direction, length, half_width, color):
    dx, dy = direction
    n = math.hypot(dx, dy)
    dx, dy = dx / n, dy / n
    bx, by = tip[0] - dx * length, tip[1] - dy * length
    c.polygon([tip, (bx - dy * half_width, by + dx * half_width),
               (bx + dy * half_width, by - dx * half_width)], color)


def check_mark(c, cx, cy, s, width, color):
    """A tick centred near (cx, cy); s is its overall width."""
    c.line([(cx - 0.42 * s, cy + 0.02 * s), (cx - 0.12 * s, cy + 0.30 * s),
            (cx + 0.42 * s, cy - 0.28 * s)], width, color)


def cross_mark(c, cx, cy, half, width, color, cap="round"):
    c.line([(cx - half, cy - half), (cx + half, cy + half)], width, color, cap=cap)
    c.line([(cx + half, cy - half), (cx - half, cy + half)], width, color, cap=cap)


def exclamation(c, cx, cy, h, width, color):
    """An exclamation mark of total height h centred on (cx, cy)."""
    top = cy - h / 2.0 + width / 2.0
    dot_r = width * 0.62
    bottom = cy + h / 2.0 - dot_r
    c.line([(cx, top), (cx, bottom - dot_r - width * 1.05)], width, color)
    c.circle(cx, bottom, dot_r, color)


def badge(c, cx, cy, r, color):
    """A filled round badge (the base of the status and dialog icons)."""
    c.circle(cx, cy, r, color)


# ---------------------------------------------------------------- the mark
def draw_mark(c, x, y, size):
    """Tessaro mark: a blue rounded tile holding a 'T' built from two white
    tesserae, with a small green tile for the open port."""
    s = size / 120.0

    def X(v):
        return x + v * s

    def Y(v):
        return y + v * s

    c.rect(X(0), Y(0), X(120), Y(120), BLUE, radius=27 * s)
    # lighter lower-right half for a little depth (still flat)
    layer = Canvas(c.w, c.h)
    layer.polygon([(X(120), Y(18)), (X(120), Y(120)), (X(18), Y(120))], (255, 255, 255, 26))
    mask = Canvas(c.w, c.h)
    mask.rect(X(0), Y(0), X(120), Y(120), WHITE, radius=27 * s)
    layer.clip_alpha(mask)
    c.paste_over(layer)
    c.rect(X(24), Y(24), X(96), Y(46), WHITE, radius=6 * s)       # crossbar
    c.rect(X(49), Y(52), X(71), Y(98), WHITE, radius=6 * s)       # stem
    c.rect(X(77), Y(76), X(97), Y(96), (84, 226, 120), radius=5 * s)  # open-port tile


# ---------------------------------------------------------------- pictures
def pic_logo():
    c = Canvas(128, 128)
    draw_mark(c, 4, 4, 120)
    return c


def pic_logo2():
    c = Canvas(181, 151)
    draw_mark(c, 53.5, 4, 74)
    c.text(90.5, 108, "Tessaro", font("latin", 29), (38, 44, 56), anchor="ms")
    sub = "内网穿透服务"
    c.text(90.5, 136, sub, font("cjk", 15), (110, 116, 126), anchor="ms")
    return c


def pic_flag():
    c = Canvas(311, 81)
    f1 = font("latin", 30)
    f2 = font("cjk-bold", 27)
    a, b = "Tessaro", "内网穿透"
    gap = 10
    wa, wb = c.text_width(a, f1), c.text_width(b, f2)
    x0 = (311 - (wa + gap + wb)) / 2.0
    base = 40
    c.text(x0, base, a, f1, BLUE, anchor="ls")
    c.text(x0 + wa + gap, base, b, f2, (46, 50, 60), anchor="ls")
    f3 = font("cjk", 14)
    tag = "随时随地 · 安全访问您的内网服务"
    wt = c.text_width(tag, f3)
    c.text(155.5, 68, tag, f3, (128, 128, 128), anchor="ms")
    # short rules either side of the tag line
    lx0 = 155.5 - wt / 2.0 - 10
    rx0 = 155.5 + wt / 2.0 + 10
    c.rect(lx0 - 26, 62.5, lx0, 63.5, (200, 204, 212))
    c.rect(rx0, 62.5, rx0 + 26, 63.5, (200, 204, 212))
    return c


def pic_close():
    # label 40x12 at (11, 9) in a 40x30 box: the cross is centred in the box
    c = Canvas(40, 12)
    cross_mark(c, 9, 6, 4.6, 1.35, GREY_D)
    return c


def pic_min():
    # label 21x16 at (11, 9) in a 40x30 box: the bar is centred in the box
    c = Canvas(21, 16)
    c.rect(4, 6, 14, 7.35, GREY_D)
    return c


def pic_close_btn(hover):
    c = Canvas(40, 30, CLOSE_RED if hover else CLEAR)
    cross_mark(c, 20, 15, 5, 1.4, WHITE if hover else (96, 96, 96))
    return c


def toast_canvas(color):
    c = Canvas(21, 21)
    badge(c, 10, 10, 9.5, color)
    return c


def pic_online():
    c = toast_canvas(GREEN)
    check_mark(c, 10, 10, 10.2, 2.0, WHITE)
    return c


def pic_error():
    c = toast_canvas(RED)
    cross_mark(c, 10, 10, 3.4, 2.0, WHITE)
    return c


def pic_info():
    c = toast_canvas(AMBER)
    exclamation(c, 10, 10, 11.5, 2.2, WHITE)
    return c


def pic_big_tip1():
    # confirmation dialog: the message starts 40 px right of the label, so
    # the badge keeps to the left part of the 50x50 picture
    c = Canvas(50, 50)
    badge(c, 19, 25, 16, BLUE)
    c.text(19.3, 25.8, "?", font("latin", 23), WHITE, anchor="mm")
    return c


def pic_big_tip2():
    c = Canvas(31, 31)
    badge(c, 15.5, 15.5, 14.5, AMBER)
    exclamation(c, 15.5, 15.5, 17, 3.0, WHITE)
    return c


def status_canvas(color):
    c = Canvas(30, 30)
    badge(c, 15, 15, 11, color)
    return c


def pic_c2():  # pending / running: a clock
    c = status_canvas(PENDING)
    c.ring(15, 15, 7.2, 1.6, WHITE)
    c.line([(15, 10.6), (15, 15), (18.4, 16.8)], 1.7, WHITE)
    return c


def pic_c3():  # passed
    c = status_canvas(GREEN)
    check_mark(c, 15, 15, 11.5, 2.3, WHITE)
    return c


def pic_c4():  # failed / something found
    c = status_canvas(RED)
    cross_mark(c, 15, 15, 4.0, 2.3, WHITE)
    return c


def pic_c1():  # tab 1 header: local environment (computer with a shield)
    c = Canvas(51, 41)
    c.rect(5, 2, 46, 30, BLUE, radius=3)
    c.rect(8, 5, 43, 27, BLUE_LIGHT, radius=1.2)
    c.polygon([(23, 30), (28, 30), (29.8, 36), (21.2, 36)], BLUE_DARK)
    c.rect(14, 35.5, 37, 38.8, BLUE_DARK, radius=1.6)
    shield = [(25.5, 7.3), (32.2, 9.6), (32.2, 15.2), (31.0, 19.4), (28.6, 22.4),
              (25.5, 24.6), (22.4, 22.4), (20.0, 19.4), (18.8, 15.2), (18.8, 9.6)]
    c.polygon(shield, GREEN)
    check_mark(c, 25.5, 15.8, 8.0, 1.8, WHITE)
    return c


def pic_c7():  # tab 2 header: network (globe linked to two nodes)
    c = Canvas(51, 41)
    cx, cy, r = 25.5, 20.5, 16.5
    c.line([(4.5, 33.5), (cx - 12, cy + 8)], 1.6, BLUE_DARK)
    c.line([(46.5, 7.5), (cx + 12, cy - 8)], 1.6, BLUE_DARK)
    c.circle(4.5, 33.5, 3.2, GREEN)
    c.circle(46.5, 7.5, 3.2, GREEN)
    badge(c, cx, cy, r, BLUE)
    w = 1.5
    c.line([(cx - r + 1.2, cy), (cx + r - 1.2, cy)], w, WHITE, cap="butt")
    for dy in (-8.0, 8.0):
        hw = math.sqrt(r * r - dy * dy) - 1.4
        c.line([(cx - hw, cy + dy), (cx + hw, cy + dy)], w, WHITE, cap="butt")
    c.line([(cx, cy - r + 1.2), (cx, cy + r - 1.2)], w, WHITE, cap="butt")
    # meridian ellipse
    ex, ey = 7.8, r - 0.9
    c.d.ellipse(c.box(cx - ex - w / 2, cy - ey - w / 2, cx + ex + w / 2, cy + ey + w / 2),
                outline=rgba(WHITE), width=c.p(w))
    return c


def pic_c6():  # tab 3 header: local web server (browser window with </>)
    c = Canvas(51, 41)
    c.rect(3, 3, 48, 38, BLUE, radius=3.5)
    c.rect(5, 11, 46, 36, WHITE, radius=1.5)
    for x in (8.5, 12.8, 17.1):
        c.circle(x, 7, 1.35, WHITE)
    w = 2.3
    c.line([(17.5, 17.5), (12, 23.5), (17.5, 29.5)], w, BLUE)
    c.line([(33.5, 17.5), (39, 23.5), (33.5, 29.5)], w, BLUE)
    c.line([(28.3, 16.5), (22.7, 30.5)], w, GREEN)
    return c


def pic_b_refresh():
    c = Canvas(20, 20)
    cx, cy, r, w = 10, 10.3, 6.3, 2.0
    start, end = -20, 265  # clockwise from just above east round to the north-west
    c.arc(cx, cy, r, start, end, w, BLUE, cap="butt")
    t = math.radians(end)
    tip_base = (cx + r * math.cos(t), cy + r * math.sin(t))
    direction = (-math.sin(t), math.cos(t))  # clockwise tangent
    tip = (tip_base[0] + direction[0] * 3.6, tip_base[1] + direction[1] * 3.6)
    arrow_head(c, tip, direction, 4.6, 3.3, BLUE)
    t0 = math.radians(start)
    c.circle(cx + r * math.cos(t0), cy + r * math.sin(t0), w / 2, BLUE)
    return c


def pic_web_1():  # web server running: two server units with green lights
    c = Canvas(30, 30)
    for y0 in (4.0, 15.5):
        c.rect(3.5, y0, 26.5, y0 + 10, BLUE, radius=2.2)
        c.rect(7, y0 + 4.2, 15.5, y0 + 5.8, WHITE, radius=0.8)
        c.circle(21.8, y0 + 5, 1.9, GREEN_LED)
    return c


def pic_c_sql():  # scene row icon: database
    c = Canvas(35, 35)
    c.rect(0.5, 0.5, 34.5, 34.5, BLUE, radius=7)
    x0, x1 = 9.5, 25.5
    eh = 5.0
    c.ellipse(x0, 24.5 - eh / 2, x1, 24.5 + eh / 2 + 0.6, WHITE)
    c.rect(x0, 9.5, x1, 24.5, WHITE)
    c.ellipse(x0, 7, x1, 12, (196, 222, 255))
    for yy in (14.5, 20.0):
        c.d.arc(c.box(x0, yy - eh / 2 - 0.6, x1, yy + eh / 2 - 0.6), 10, 170,
                fill=rgba(BLUE), width=c.p(1.3))
    return c


def pic_c_ssh():  # add-on row icon: terminal
    c = Canvas(42, 42)
    c.rect(1, 1, 41, 41, (44, 52, 66), radius=8)
    c.rect(1, 1, 41, 10, (64, 74, 92), radius=8)
    c.rect(1, 6, 41, 10, (64, 74, 92))
    for i, col in enumerate(((252, 95, 80), (250, 190, 50), (60, 200, 90))):
        c.circle(7 + i * 5, 5.6, 1.5, col)
    c.line([(10.5, 17.5), (17.5, 23.5), (10.5, 29.5)], 2.6, WHITE)
    c.line([(21, 30.5), (31, 30.5)], 2.6, GREEN_LED)
    return c


def pic_switch():  # scene row decoration: mapping arrows in a blue disc
    c = Canvas(30, 30)
    badge(c, 15, 15, 12, BLUE)
    w = 1.8
    c.line([(8.8, 11.8), (20.5, 11.8)], w, WHITE)
    arrow_head(c, (22.2, 11.8), (1, 0), 4.2, 3.1, WHITE)
    c.line([(21.2, 18.2), (9.5, 18.2)], w, WHITE)
    arrow_head(c, (7.8, 18.2), (-1, 0), 4.2, 3.1, WHITE)
    return c


def pic_toright():
    c = Canvas(21, 21)
    c.line([(8.3, 5.5), (13.2, 10.5), (8.3, 15.5)], 1.8, GREY_L)
    return c


def pic_copy():
    c = Canvas(20, 20)
    w = 1.6
    c.rect_outline(3, 2.5, 12.5, 13, BLUE, w, radius=1.8)
    c.rect(6.2, 5.7, 18.8, 19.2, CLEAR)
    c.rect_outline(7.5, 7, 17, 17.5, BLUE, w, radius=1.8)
    c.rect(10, 10.4, 14.5, 11.6, BLUE, radius=0.5)
    c.rect(10, 13.2, 14.5, 14.4, BLUE, radius=0.5)
    return c


def pic_edit():  # pencil (the file keeps its historic name)
    c = Canvas(18, 18)
    tip = (2.3, 15.7)
    ux, uy = 1 / math.sqrt(2), -1 / math.sqrt(2)   # along the pencil
    vx, vy = 1 / math.sqrt(2), 1 / math.sqrt(2)    # across
    hw = 2.15

    def at(s, t):
        return (tip[0] + ux * s + vx * t, tip[1] + uy * s + vy * t)

    c.polygon([tip, at(3.6, -hw), at(3.6, hw)], BLUE)                       # point
    c.polygon([at(4.5, -hw), at(12.6, -hw), at(12.6, hw), at(4.5, hw)], BLUE)  # body
    c.polygon([at(13.5, -hw), at(15.4, -hw), at(15.4, hw), at(13.5, hw)], BLUE)  # cap
    c.rect(9.5, 15.3, 16.5, 16.7, BLUE, radius=0.6)                          # writing line
    return c


def pic_jiance():  # check: magnifier with a tick
    c = Canvas(20, 20)
    c.ring(8.3, 8.3, 5.6, 1.8, BLUE)
    c.line([(12.6, 12.6), (17, 17)], 2.6, BLUE)
    check_mark(c, 8.3, 8.3, 6.0, 1.4, GREEN)
    return c


def pic_delete2():  # trash can
    c = Canvas(20, 20)
    col = GREY
    w = 1.6
    c.line([(3.3, 5.2), (16.7, 5.2)], w, col)
    c.line([(7.8, 4.8), (7.8, 2.6), (12.2, 2.6), (12.2, 4.8)], 1.4, col, cap="butt")
    c.line([(5.2, 7.3), (6.1, 17.3), (13.9, 17.3), (14.8, 7.3)], w, col)
    c.line([(8.6, 9.5), (8.8, 14.8)], 1.2, col)
    c.line([(11.4, 9.5), (11.2, 14.8)], 1.2, col)
    return c


def pic_daijinquan():  # coupon ticket with a yen sign
    c = Canvas(16, 16)
    c.rect(0, 3, 16, 13, COUPON, radius=1.6)
    c.circle(0, 8, 2.0, CLEAR)
    c.circle(16, 8, 2.0, CLEAR)
    for y in (4, 7, 10):                      # perforation
        c.rect(11, y, 12, y + 2, CLEAR)
    # yen sign, strokes on whole pixels so it stays sharp at 16 px
    c.line([(3.3, 4.4), (5.5, 7.6), (7.7, 4.4)], 1.1, WHITE, cap="butt")
    c.rect(5, 7.4, 6, 12, WHITE)
    c.rect(3, 8, 8, 9, WHITE)
    c.rect(3, 10, 8, 11, WHITE)
    return c


NAV = (90, 98, 112)  # navigation glyphs: dark slate, beside the rgb(100,100,100) captions


def pic_n_chuantou():  # tunnel: an arrow passing through a wall
    c = Canvas(24, 18)
    c.rect(10.2, 0.8, 14.6, 6.2, NAV, radius=0.6)
    c.rect(10.2, 11.8, 14.6, 17.2, NAV, radius=0.6)
    c.rect(10.2, 3.2, 14.6, 3.8, CLEAR)
    c.rect(10.2, 14.2, 14.6, 14.8, CLEAR)
    c.line([(1.8, 9), (18.6, 9)], 2.0, BLUE)
    arrow_head(c, (23.2, 9), (1, 0), 5.6, 3.6, BLUE)
    return c


def pic_n_game():  # game pad
    c = Canvas(24, 18)
    c.rect(2.6, 4.2, 21.4, 12.6, NAV, radius=4.2)
    c.circle(6.4, 12.2, 4.0, NAV)
    c.circle(17.6, 12.2, 4.0, NAV)
    c.rect(4.7, 7.9, 9.7, 9.5, CLEAR, radius=0.4)
    c.rect(6.4, 6.2, 8.0, 11.2, CLEAR, radius=0.4)
    c.circle(15.6, 7.6, 1.2, CLEAR)
    c.circle(18.2, 10.0, 1.2, CLEAR)
    return c


def pic_n_peizhi():  # gear
    c = Canvas(24, 18)
    cx, cy = 12, 9
    teeth = 8
    for i in range(teeth):
        a = 2 * math.pi * i / teeth
        ca, sa = math.cos(a), math.sin(a)
        hw, r0, r1 = 1.35, 4.5, 8.2

        def rot(u, v):
            return (cx + u * ca - v * sa, cy + u * sa + v * ca)
        c.polygon([rot(r0, -hw - 0.3), rot(r1, -hw), rot(r1, hw), rot(r0, hw + 0.3)], NAV)
    c.circle(cx, cy, 6.2, NAV)
    c.circle(cx, cy, 2.5, CLEAR)
    return c


def pic_n_tmp():  # government / enterprise: buildings
    c = Canvas(24, 18)
    c.rect(5.5, 1.2, 15.5, 17.2, NAV, radius=0.8)
    c.rect(16.5, 7.2, 21, 17.2, NAV, radius=0.6)
    c.rect(3, 16.2, 22.5, 17.6, NAV)
    for y in (3.6, 6.8, 10.0):
        for x in (7.7, 11.5):
            c.rect(x, y, x + 1.8, y + 1.7, CLEAR)
    c.rect(9.6, 13.2, 11.4, 16.2, CLEAR)
    for y in (9.4, 12.4):
        c.rect(18, y, 19.6, y + 1.5, CLEAR)
    return c


def pic_n_haowan():  # smart device: router with antennas and signal
    c = Canvas(24, 18)
    c.rect(2.4, 10.4, 21.6, 16.8, NAV, radius=2.0)
    for x in (6.2, 9.2, 12.2):
        c.circle(x, 13.6, 0.95, CLEAR)
    c.rect(15.4, 13.0, 19.0, 14.2, CLEAR, radius=0.5)
    c.line([(5.6, 10.2), (3.9, 3.2)], 1.5, NAV)
    c.line([(18.4, 10.2), (20.1, 3.2)], 1.5, NAV)
    c.circle(12, 8.3, 1.1, BLUE)
    c.arc(12, 8.3, 3.1, 225, 315, 1.4, BLUE)
    c.arc(12, 8.3, 5.9, 228, 312, 1.4, BLUE)
    return c


def pic_touxiang2():  # default avatar
    c = Canvas(48, 48)
    c.circle(24, 24, 24, (222, 231, 243))
    figure = (150, 170, 198)
    c.circle(24, 18.5, 8.3, figure)
    c.ellipse(9, 30, 39, 58, figure)
    mask = Canvas(48, 48)
    mask.circle(24, 24, 24, WHITE)
    c.clip_alpha(mask)
    return c


def pic_ad_tmp():
    W, H = 200, 140
    c = Canvas(W, H)
    # diagonal blue gradient background
    g = Image.linear_gradient("L").resize((W * K, H * K))
    g2 = Image.linear_gradient("L").rotate(90).resize((W * K, H * K))
    mix = ImageChops.add(g, ImageChops.invert(g2), scale=2.0)
    top = Image.new("RGBA", mix.size, rgba((30, 140, 255)))
    bottom = Image.new("RGBA", mix.size, rgba((6, 72, 190)))
    c.img = Image.composite(bottom, top, mix)
    c.d = ImageDraw.Draw(c.img)
    # decoration: soft discs and a small network of nodes on the right
    deco = Canvas(W, H)
    deco.circle(182, 14, 46, (255, 255, 255, 22))
    deco.circle(196, 128, 34, (255, 255, 255, 18))
    nodes = [(166, 38), (189, 22), (191, 54), (170, 62), (146, 48)]
    for a, b in ((0, 1), (0, 2), (0, 3), (0, 4), (1, 2), (3, 4)):
        deco.line([nodes[a], nodes[b]], 1.2, (255, 255, 255, 110))
    c.paste_over(deco)
    for i, (x, y) in enumerate(nodes):
        c.circle(x, y, 6.5 if i == 0 else 3.6, WHITE)
    c.circle(166, 38, 3.6, (84, 226, 120))
    for x, y in nodes[1:]:
        c.circle(x, y, 1.6, BLUE)
    c.text(14, 34, "Tessaro", font("latin", 20), WHITE, anchor="ls")
    c.text(14, 60, "增值服务", font("cjk-bold", 19), WHITE, anchor="ls")
    c.text(14, 82, "端口映射 · 远程访问 · 安全加速", font("cjk", 10), (214, 232, 255), anchor="ls")
    c.rect(14, 100, 82, 122, WHITE, radius=11)
    c.text(48, 111.5, "立即开通", font("cjk-bold", 11), BLUE, anchor="mm")
    return c


# name -> (drawing function, expected size)
PICTURES = {
    "ad_tmp.jpg": (pic_ad_tmp, (200, 140)),
    "b_refresh.png": (pic_b_refresh, (20, 20)),
    "big_tip1.png": (pic_big_tip1, (50, 50)),
    "big_tip2.png": (pic_big_tip2, (31, 31)),
    "c1.png": (pic_c1, (51, 41)),
    "c2.png": (pic_c2, (30, 30)),
    "c3.png": (pic_c3, (30, 30)),
    "c4.png": (pic_c4, (30, 30)),
    "c6.png": (pic_c6, (51, 41)),
    "c7.png": (pic_c7, (51, 41)),
    "c_sql.png": (pic_c_sql, (35, 35)),
    "c_ssh.png": (pic_c_ssh, (42, 42)),
    "close.png": (pic_close, (40, 12)),
    "close_black.png": (lambda: pic_close_btn(False), (40, 30)),
    "close_red.png": (lambda: pic_close_btn(True), (40, 30)),
    "copy.png": (pic_copy, (20, 20)),
    "daijinquan.png": (pic_daijinquan, (16, 16)),
    "delete2.png": (pic_delete2, (20, 20)),
    "error.png": (pic_error, (21, 21)),
    "flag.png": (pic_flag, (311, 81)),
    "ic_edit_white_18dp.png": (pic_edit, (18, 18)),
    "info.png": (pic_info, (21, 21)),
    "jiance.png": (pic_jiance, (20, 20)),
    "logo.png": (pic_logo, (128, 128)),
    "logo2.png": (pic_logo2, (181, 151)),
    "min.png": (pic_min, (21, 16)),
    "n_chuantou.png": (pic_n_chuantou, (24, 18)),
    "n_game.png": (pic_n_game, (24, 18)),
    "n_haowan.png": (pic_n_haowan, (24, 18)),
    "n_peizhi.png": (pic_n_peizhi, (24, 18)),
    "n_tmp.png": (pic_n_tmp, (24, 18)),
    "online.png": (pic_online, (21, 21)),
    "switch.png": (pic_switch, (30, 30)),
    "toright.png": (pic_toright, (21, 21)),
    "touxiang2.png": (pic_touxiang2, (48, 48)),
    "web_1.png": (pic_web_1, (30, 30)),
}


def render(name, scale=1):
    global SCALE, K
    SCALE, K = scale, SS * scale
    fn, size = PICTURES[name]
    img = fn().result()
    assert img.size == (size[0] * scale, size[1] * scale), (name, scale, img.size, size)
    return img


def at2x(name):
    base, ext = os.path.splitext(name)
    return base + "@2x" + ext


# The program icon of tessaro.exe, in the sizes Windows asks for (Explorer,
# the taskbar and the Start menu at every display scale).
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 96, 128, 256)
ICON_PATH = os.path.join(HERE, "..", "..", "packaging", "windows", "tessaro.ico")


def program_icon(size):
    global SCALE, K
    SCALE, K = 1, SS
    c = Canvas(size, size)
    margin = size / 32.0
    draw_mark(c, margin, margin, size - 2 * margin)
    return c.result()


def main(argv):
    os.makedirs(OUT_DIR, exist_ok=True)
    for name in sorted(PICTURES):
        for scale in (1, 2):
            img = render(name, scale)
            file_name = name if scale == 1 else at2x(name)
            path = os.path.join(OUT_DIR, file_name)
            if name.endswith(".jpg"):
                img.convert("RGB").save(path, "JPEG", quality=92, subsampling=0)
            else:
                img.save(path, "PNG", optimize=True)
            print("%-28s %dx%d" % (file_name, img.size[0], img.size[1]))
    icons = [program_icon(size) for size in ICON_SIZES]
    icons[-1].save(os.path.normpath(ICON_PATH), "ICO", sizes=[(s, s) for s in ICON_SIZES],
                   append_images=icons[:-1])
    print("%-28s %s" % ("tessaro.ico", " ".join(str(s) for s in ICON_SIZES)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
