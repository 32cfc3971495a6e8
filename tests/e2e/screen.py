"""Screen helpers for the Wine tests: X screenshots (xwd), pixel checks at the
launcher's design coordinates, PNG output, and Wine process handling. Only
the Python standard library and xwd are used."""
import os
import struct
import subprocess
import time
import zlib

DESIGN_W, DESIGN_H = 1124, 618
CLEAR = (0.04, 0.03, 0.07)


def rgb8(colour):
    return tuple(int(round(c * 255)) for c in colour[:3])


def blend(brush, under):
    """|brush| (r, g, b, a in 0-1) over an 8-bit colour |under|."""
    r, g, b, a = brush
    return tuple(int(round(c * 255 * a + u * (1 - a))) for c, u in zip((r, g, b), under))


BRUSH = {
    "text": (0.92, 0.90, 0.98, 1.0),
    "status": (0.78, 0.62, 0.96, 1.0),
    "track": (1.0, 1.0, 1.0, 0.10),
    "fill_main": (0.52, 0.32, 0.78, 1.0),
    "fill_file": (0.42, 0.68, 0.94, 1.0),
    "start_disabled": (0.10, 0.06, 0.16, 0.72),
    "start_text": (0.96, 0.94, 1.0, 1.0),
    "link": (0.86, 0.80, 0.98, 0.88),
    "muted": (0.86, 0.82, 0.96, 0.65),
    "button_face": (0.0, 0.0, 0.0, 0.40),
    "start_ready": (0.14, 0.08, 0.22, 0.82),
    "start_hover": (0.20, 0.12, 0.30, 0.92),
}


class Image:
    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows  # rows: list of bytes RGB

    def px(self, x, y):
        row = self.rows[int(y)]
        i = int(x) * 3
        return tuple(row[i:i + 3])

    def crop(self, x, y, w, h):
        return Image(w, h, [r[x * 3:(x + w) * 3] for r in self.rows[y:y + h]])

    def save_png(self, path):
        raw = b"".join(b"\x00" + bytes(r) for r in self.rows)
        def chunk(tag, data):
            c = struct.pack(">I", len(data)) + tag + data
            return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b"")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(png)


def screenshot(window="-root"):
    """The whole X screen, or one X window (["-id", id]), as an Image. Wine's
    message boxes show black in a capture of the whole screen under Xvfb,
    though a capture of their own window has their contents (in any
    program, not only ours)."""
    where = [window] if isinstance(window, str) else list(window)
    data = subprocess.run(["xwd"] + where + ["-silent"], check=True, capture_output=True, timeout=60).stdout
    header = struct.unpack(">25I", data[:100])
    header_size, _, _, depth, width, height = header[:6]
    byte_order, bpp, bytes_per_line = header[7], header[11], header[12]
    ncolors = header[19]
    if bpp not in (24, 32):
        raise RuntimeError("unexpected xwd pixel size %d" % bpp)
    step = bpp // 8
    offset = header_size + ncolors * 12
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        out = bytearray(width * 3)
        if byte_order == 0:  # LSB first: B G R [X]
            out[0::3], out[1::3], out[2::3] = line[2::step], line[1::step], line[0::step]
        else:  # [X] R G B
            first = step - 3
            out[0::3], out[1::3], out[2::3] = line[first::step], line[first + 1::step], line[first + 2::step]
        rows.append(bytes(out))
    return Image(width, height, rows)


class Checks:
    """Collects named pixel checks; a failed one does not stop the others."""

    def __init__(self, name):
        self.name, self.failures, self.count = name, [], 0

    def check(self, label, ok, detail=""):
        self.count += 1
        if not ok:
            self.failures.append("%s: %s %s" % (self.name, label, detail))

    def colour(self, image, label, x, y, expected, tolerance=10):
        got = image.px(x, y)
        ok = all(abs(a - b) <= tolerance for a, b in zip(got, expected))
        self.check(label, ok, "at (%d, %d): got %s, expected %s" % (x, y, got, expected))

    def count_near(self, image, rect, colour, tolerance=40):
        x0, y0, x1, y1 = (int(v) for v in rect)
        n = 0
        for y in range(max(y0, 0), min(y1, image.height)):
            for x in range(max(x0, 0), min(x1, image.width)):
                p = image.px(x, y)
                if all(abs(a - b) <= tolerance for a, b in zip(p, colour)):
                    n += 1
        return n

    def text(self, image, label, rect, colour, minimum=15, tolerance=40):
        n = self.count_near(image, rect, colour, tolerance)
        self.check(label, n >= minimum, "in %s: %d pixels near %s" % (rect, n, colour))

    def no_text(self, image, label, rect, colour, tolerance=40):
        n = self.count_near(image, rect, colour, tolerance)
        self.check(label, n == 0, "in %s: %d pixels near %s" % (rect, n, colour))


def wait_for(predicate, timeout, step=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return None


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def screen_prefix(base):
    """A Wine prefix of the screen tests' own, copied from |base| once.

    Windows of a prefix share one desktop process; a test without an X
    display that starts it first leaves every later window without a
    driver. A prefix of their own keeps the screen tests apart from the
    windowless tests that ctest runs alongside."""
    target = base.rstrip("/") + "-screen"
    if not os.path.exists(os.path.join(target, "system.reg")):
        partial = target + ".part-%d" % os.getpid()
        subprocess.run(["cp", "-a", base, partial], check=True, timeout=300)
        try:
            os.rename(partial, target)
        except OSError:
            subprocess.run(["rm", "-rf", partial], timeout=300)  # another test made it first
    return target


class WinePrefix:
    """Points Wine at |prefix| for this process and its children, and stops
    that prefix's server when done."""

    def __init__(self, prefix):
        self.prefix = prefix

    def __enter__(self):
        os.environ["WINEPREFIX"] = self.prefix
        os.environ["EMB_WINEPREFIX"] = self.prefix
        os.environ.setdefault("WINEDEBUG", "-all")
        os.environ.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        return self

    def __exit__(self, *exc):
        subprocess.run(["wineserver", "-k"], timeout=60, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return False


def default_prefix():
    here = os.path.dirname(os.path.abspath(__file__))
    return os.environ.get("EMB_WINEPREFIX") or os.path.join(here, "..", "..", "build", "wineprefix")
