"""Screenshots of the whole X screen as RGB images, the launcher's brush colours
to compare them with, and a Wine prefix for windows on a display."""
import contextlib
import ctypes
import ctypes.util
import os
import pathlib
import struct
import subprocess
import time
import zlib

CLEAR = (0.04, 0.03, 0.07)
BRUSH = {"text": (0.92, 0.90, 0.98, 1.0), "status": (0.78, 0.62, 0.96, 1.0),
         "track": (1.0, 1.0, 1.0, 0.10), "fill_main": (0.52, 0.32, 0.78, 1.0),
         "fill_file": (0.42, 0.68, 0.94, 1.0), "start_disabled": (0.10, 0.06, 0.16, 0.72),
         "start_text": (0.96, 0.94, 1.0, 1.0), "link": (0.86, 0.80, 0.98, 0.88),
         "muted": (0.86, 0.82, 0.96, 0.65), "button_face": (0.0, 0.0, 0.0, 0.40),
         "start_ready": (0.14, 0.08, 0.22, 0.82), "start_hover": (0.20, 0.12, 0.30, 0.92)}


def rgb8(colour):
    return tuple(int(round(c * 255)) for c in colour[:3])


def blend(brush, under):
    """|brush| (r, g, b, a in 0-1) over an 8-bit colour |under|."""
    return tuple(int(round(c * 255 * brush[3] + u * (1 - brush[3]))) for c, u in zip(brush, under))


class Image:
    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows  # rows: bytes, RGB

    def px(self, x, y):
        i = int(x) * 3
        return tuple(self.rows[int(y)][i:i + 3])

    def crop(self, x, y, w, h):
        return Image(w, h, [r[x * 3:(x + w) * 3] for r in self.rows[y:y + h]])

    def save_png(self, path):
        def chunk(tag, d):
            return struct.pack(">I", len(d)) + tag + d + struct.pack(">I", zlib.crc32(tag + d))
        head = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        pixels = zlib.compress(b"".join(b"\x00" + bytes(r) for r in self.rows))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        pathlib.Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) +
                                       chunk(b"IDAT", pixels) + chunk(b"IEND", b""))


class _XImage(ctypes.Structure):  # Xlib's XImage, as far as used
    _fields_ = [(n, ctypes.c_int) for n in ("width", "height", "xoffset", "format")] + [
        ("data", ctypes.POINTER(ctypes.c_ubyte))] + [(n, ctypes.c_int) for n in (
            "byte_order", "bitmap_unit", "bitmap_bit_order", "bitmap_pad", "depth",
            "bytes_per_line", "bits_per_pixel")] + [(n, ctypes.c_ulong) for n in (
                "red_mask", "green_mask", "blue_mask")] + [
        ("obdata", ctypes.c_void_p), ("create_image", ctypes.c_void_p),
        ("destroy_image", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p))]


_X = {}


def _xlib():
    if not _X:
        x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = x.XDefaultScreen.argtypes = [ctypes.c_void_p]
        x.XDisplayWidth.argtypes = x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XGetImage.restype = ctypes.POINTER(_XImage)
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        display = x.XOpenDisplay(None)
        if not display:
            raise RuntimeError("no X display")
        _X.update(x=x, display=display)
    return _X["x"], _X["display"]


def screenshot():
    """The whole X screen as an Image, read with one GetImage of the root window:
    what the server shows. (xwd -root reads the windows' areas one by one where
    they use colormaps other than the root's, as Wine's do, and there shows a
    window that overlaps another of the same colormap as black.)"""
    x, display = _xlib()
    screen = x.XDefaultScreen(display)
    width, height = x.XDisplayWidth(display, screen), x.XDisplayHeight(display, screen)
    image = x.XGetImage(display, x.XDefaultRootWindow(display), 0, 0, width, height,
                        0xFFFFFFFF, 2)  # AllPlanes, ZPixmap
    if not image:
        raise RuntimeError("XGetImage of the root window failed")
    try:
        im = image.contents
        if im.bits_per_pixel != 32 or im.byte_order != 0:
            raise RuntimeError("unexpected screen format: %d bpp" % im.bits_per_pixel)
        stride = im.bytes_per_line
        data = ctypes.string_at(im.data, stride * height)
    finally:
        image.contents.destroy_image(ctypes.cast(image, ctypes.c_void_p))
    rows = []
    for y in range(height):
        line = data[y * stride:y * stride + width * 4]
        out = bytearray(width * 3)
        for c in range(3):  # B G R X per pixel
            out[c::3] = line[2 - c::4]
        rows.append(bytes(out))
    return Image(width, height, rows)


def wait_for(predicate, timeout, step=0.1):
    """The first true value of |predicate| within |timeout| seconds, else None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)


@contextlib.contextmanager
def screen_prefix():
    """Wine, for this process and its children, in a prefix of the screen tests' own, copied
    once from the shared one: a windowless test that starts a prefix's desktop process
    first leaves every later window of that prefix without a display."""
    base = os.environ.get("EMB_WINEPREFIX") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "wineprefix")
    target = base.rstrip("/") + "-screen"
    if not os.path.exists(os.path.join(target, "system.reg")):
        subprocess.run(["rm", "-rf", target + ".part"], check=True, timeout=300)
        subprocess.run(["cp", "-a", base, target + ".part"], check=True, timeout=300)
        os.rename(target + ".part", target)
    os.environ.update(WINEPREFIX=target, EMB_WINEPREFIX=target)  # cmake/wine-run.sh's
    # No window manager runs on these displays to draw the frames and captions of the
    # windows that have them (message boxes): Wine draws them itself, as a player's
    # window manager would.
    with open(os.path.join(target, "user.reg"), encoding="utf-8", errors="replace") as f:
        decorated = '"Decorated"="N"' in f.read()
    if not decorated:
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated",
                        "/t", "REG_SZ", "/d", "N", "/f"], capture_output=True, timeout=120)
        subprocess.run(["wineserver", "-w"], timeout=120)
    try:
        yield
    finally:
        subprocess.run(["wineserver", "-k"], timeout=60, capture_output=True)
