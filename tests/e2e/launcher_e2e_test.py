#!/usr/bin/env python3
"""launcher.exe from start to game launch under Wine, against a patch server
on loopback: placement, progress and the ready state reaching the real
window (the face itself is render_screen_test.py's), the launch of a
stand-in game, the second instance, the update-error box after a
failed run, and the close button during a download. What the window decides
is tested without Wine, on the window controller. Run under an X server
(xvfb-run). Writes its screenshots as PNG files."""
import argparse
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

from patch_server import PatchServer, Publication
from screen import (BRUSH, CLEAR, Checks, WinePrefix, blend, default_prefix, rgb8, screen_prefix,
                    screenshot, wait_for)

ARGS = None
CLEAR8 = rgb8(CLEAR)


def scale_of(w, h):
    return min(w / 1124.0, h / 618.0)


class Face:
    """Design coordinates of a launcher window at (x, y) of size (w, h)."""

    def __init__(self, x, y, w, h):
        self.x, self.y, self.w, self.h = x, y, w, h
        self.s = scale_of(w, h)

    def header(self, dx, dy):
        return (self.x + dx * self.s, self.y + dy * self.s)

    def rect(self, left, top, right, bottom):
        return (self.x + left, self.y + top, self.x + right, self.y + bottom)

    def button(self, name):
        s, w, h = self.s, self.w, self.h
        table = {
            "start": (w - 28 * s - 188 * s, h - 24 * s - 52 * s, w - 28 * s, h - 24 * s),
            "settings": (1012 * s, 10 * s, 1040 * s, 38 * s),
            "minimise": (1046 * s, 10 * s, 1074 * s, 38 * s),
            "close": (1080 * s, 10 * s, 1108 * s, 38 * s),
            "website": (720 * s, 14 * s, 810 * s, 34 * s),
        }
        return self.rect(*table[name])

    def panel(self):
        s, w, h = self.s, self.w, self.h
        left, right = 28 * s, w - 28 * s - 188 * s - 16 * s
        button_top = h - 24 * s - 52 * s
        status_top = button_top - 28 * s
        bar_top = button_top + (52 * s - 23 * s) / 2
        return left, right, status_top, bar_top

    def centre(self, name):
        l, t, r, b = self.button(name)
        return int((l + r) / 2), int((t + b) / 2)


def expected_placement(screen_w=1920, screen_h=1080, dpi=96):
    margin = (16 * dpi + 48) // 96
    avail_w, avail_h = screen_w - 2 * margin, screen_h - 2 * margin
    fit = min(avail_h / 618.0, avail_w / 1124.0)
    pref = 0.9 * max(1.0, max(min(screen_h / 1040.0, screen_w / 1920.0), dpi / 96.0))
    scale = min(fit, pref)
    w, h = int(scale * 1124 + 0.5), int(scale * 618 + 0.5)
    return (screen_w - w) // 2, (screen_h - h) // 2, w, h


def probe(*args):
    out = subprocess.run([ARGS.wine_run, os.path.join(ARGS.bin, "emb_window_probe.exe")] + list(args),
                         capture_output=True, timeout=60, stdin=subprocess.DEVNULL)
    return out.returncode, out.stdout.decode("utf-8", "replace").strip()


def launcher_window():
    code, text = probe("launcher")
    if code != 0:
        return None
    x, y, w, h, visible, iconic = (int(v) for v in text.split())
    return {"x": x, "y": y, "w": w, "h": h, "visible": visible == 1, "iconic": iconic == 1}


def box_text(caption):
    code, text = probe("box", caption)
    return text if code == 0 else None


def press(caption, button_id):
    return probe("press", caption, str(button_id))[0] == 0


def click(x, y):
    subprocess.run(["xdotool", "mousemove", str(int(x)), str(int(y)), "click", "1"], check=True,
                   timeout=30)


def click_until(point, effect, tries=3, wait=4.0):
    """Clicks |point| until |effect()| holds, at most |tries| times (a click
    that reaches a window still busy starting can be lost under load).
    Returns the time of the effective click, or None."""
    for _ in range(tries):
        at = time.monotonic()
        click(*point)
        if wait_for(effect, wait, 0.2):
            return at
    return None


def save(image, face, name):
    crop = image.crop(max(face.x, 0), max(face.y, 0), face.w, face.h)
    crop.save_png(os.path.join(ARGS.out, name + ".png"))
    return crop


class GameFolder:
    def __init__(self, root, config_exe=False):
        self.path = os.path.join(root, "Emberfall Game")
        os.makedirs(self.path)
        shutil.copy(os.path.join(ARGS.bin, "e2e", "launcher.exe"), os.path.join(self.path, "launcher.exe"))
        if config_exe:
            shutil.copy(os.path.join(ARGS.bin, "emb_test_game.exe"), os.path.join(self.path, "config.exe"))
        self.marker = os.path.join(self.path, "game_started.txt")

    def start(self):
        self.log = os.path.join(os.path.dirname(self.path), "launcher-%d.log" % time.monotonic_ns())
        log = open(self.log, "w")
        return subprocess.Popen([ARGS.wine_run, os.path.join(self.path, "launcher.exe")], stdout=log,
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)


def game_bytes():
    with open(os.path.join(ARGS.bin, "emb_test_game.exe"), "rb") as f:
        return f.read()


def big_file(n):
    return bytes((i * 131 + (i >> 9)) & 0xFF for i in range(n))


def stop(proc):
    if proc.poll() is None:
        proc.kill()
        proc.wait(timeout=30)


@contextlib.contextmanager
def busy_machine():
    """Two busy processes per CPU beside the launcher. Its software-drawn
    frames then take longer than the worker's progress interval, which is
    when input used to starve behind the progress messages."""
    spinners = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                for _ in range(2 * (os.cpu_count() or 1))]
    try:
        yield
    finally:
        for p in spinners:
            p.kill()
            p.wait(timeout=30)


def x_window_visible(title="Emb Launcher"):
    """Whether X shows a window of that title; asks no Wine process."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                         capture_output=True, timeout=30)
    return out.returncode == 0 and out.stdout.strip() != b""


def wait_window(timeout=60):
    # A Wine process started while the launcher's session is still coming up
    # can stall until the launcher ends, so the first look goes through X.
    if not wait_for(x_window_visible, timeout, 0.3):
        return None
    return wait_for(lambda: (lambda w: w if w and w["visible"] and not w["iconic"] else None)(
        launcher_window()), timeout, 0.3)


def test_update_and_launch(c, root):
    """Download with progress, READY TO PLAY with the countdown, the game
    started by the countdown, then exit 0."""
    pub = Publication({"emb.bin": game_bytes(), "data/maps/ember valley.pak": big_file(3_000_000),
                       "data/readme.txt": b"Emberfall\n"})
    game = GameFolder(root)
    with PatchServer(ARGS.port, pub, throttle=600_000) as server:
        proc = game.start()
        try:
            win = wait_window()
            c.check("window shown", win is not None, "exit %s, log: %s" % (
                proc.poll(), open(game.log, errors="replace").read()[-1500:]))
            if not win:
                return
            ex = expected_placement()
            c.check("placement", (win["x"], win["y"], win["w"], win["h"]) == ex,
                    "got %s expected %s" % (win, ex))
            face = Face(win["x"], win["y"], win["w"], win["h"])
            # Downloading: wait until the big payload is on its way.
            c.check("download started", wait_for(
                lambda: server.count("GET", "ember%20valley.pak.lz") or server.count("GET", "ember valley.pak.lz"),
                60) is not None)
            # The face itself is the render screen test's; here only that the
            # engine's progress reaches the real window: a partly filled bar,
            # then the ready start button. Software drawing moves progress
            # only every second or two, so the bar is looked for a while.
            left, right, status_top, bar_top = face.panel()
            bar = face.rect(left, bar_top, right, bar_top + 14 * face.s)
            img = wait_for(lambda: (lambda i: i if c.count_near(i, bar, rgb8(BRUSH["fill_main"]), 12) >= 20
                                    else None)(screenshot()), 20, 0.5)
            c.check("main bar partly filled", img is not None)
            save(img or screenshot(), face, "launcher_downloading")
            l, t, r, b = face.button("start")
            ready_face = blend(BRUSH["start_ready"], CLEAR8)
            img = wait_for(lambda: (lambda i: i if all(abs(a - e) <= 8 for a, e in zip(
                i.px(l + 4, t + 4), ready_face)) else None)(screenshot()), 60, 0.5)
            c.check("start button turns ready", img is not None)
            save(img if img is not None else screenshot(), face, "launcher_ready")
            if img is not None:
                c.text(img, "countdown on the start button", (l, t, r, b), rgb8(BRUSH["start_text"]), 60)
            # The countdown ends, the game starts and the launcher ends with 0.
            c.check("game started by the countdown", wait_for(lambda: os.path.exists(game.marker), 40) is not None)
            try:
                code = proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                code = None
            c.check("launcher exit code 0 after the launch", code == 0, "got %s" % code)
            c.check("game files in place", os.path.getsize(os.path.join(game.path, "data", "maps",
                    "ember valley.pak")) == 3_000_000)
        finally:
            stop(proc)


def test_second_instance(c, root):
    pub = Publication({"emb.bin": game_bytes(), "data/big.pak": big_file(4_000_000)})
    game = GameFolder(root)
    with PatchServer(ARGS.port, pub, throttle=400_000):
        first = game.start()
        try:
            win = wait_window()
            c.check("first window", win is not None)
            if not win:
                return
            face = Face(win["x"], win["y"], win["w"], win["h"])
            c.check("minimised by its button", click_until(
                face.centre("minimise"), lambda: (launcher_window() or {}).get("iconic")) is not None)
            second = game.start()
            try:
                code = second.wait(timeout=60)
            except subprocess.TimeoutExpired:
                code = None
                stop(second)
            c.check("second instance exits 0", code == 0, "got %s" % code)
            c.check("first window restored and shown", wait_window(10) is not None)
            c.check("first instance still runs", first.poll() is None)
        finally:
            stop(first)


def test_close_during_download(c, root):
    pub = Publication({"emb.bin": game_bytes(), "data/big.pak": big_file(6_000_000)})
    game = GameFolder(root)
    with PatchServer(ARGS.port, pub, throttle=300_000) as server:
        proc = game.start()
        try:
            win = wait_window()
            c.check("window", win is not None)
            if not win:
                return
            face = Face(win["x"], win["y"], win["w"], win["h"])
            c.check("download running", wait_for(lambda: server.count("GET", "big.pak.lz"), 60) is not None)
            # The close button hides the window at once; the process then
            # waits at most 3 s for the worker.
            with busy_machine():
                time.sleep(3.0)
                started = click_until(face.centre("close"),
                                      lambda: not (launcher_window() or {"visible": False})["visible"], 3, 2.0)
            c.check("close button hides the window", started is not None)
            started = started or time.monotonic()
            try:
                code = proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                code = None
            elapsed = time.monotonic() - started
            c.check("ends after the close button", code == 0, "exit %s" % code)
            c.check("within about 3 s", elapsed < 4.5, "took %.1f s" % elapsed)
        finally:
            stop(proc)


def box_painted(c, caption, text_part):
    """The box is drawn: mostly its light face, with dark text on it."""
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % caption],
                         capture_output=True, text=True, timeout=30).stdout.split()
    if not ids:
        c.check(caption + " box on screen", False)
        return
    img = screenshot(["-id", ids[0]])
    img.save_png(os.path.join(ARGS.out, "launcher_update_error_box.png"))
    light = dark = 0
    for py in range(0, img.height, 2):
        for px in range(0, img.width, 2):
            r, g, b = img.px(px, py)
            light += r + g + b > 600
            dark += r + g + b < 200
    total = max(1, (img.height // 2) * (img.width // 2))
    c.check(caption + " box painted", light > total // 2 and dark > 20,
            "light %d dark %d of %d" % (light, dark, total))
    c.check(caption + " box text", text_part in (box_text(caption) or ""))


def test_retry_and_cancel(c, root):
    """The update-error box paints and answers at once; Cancel keeps the
    launcher, Retry starts a new run."""
    pub = Publication({"emb.bin": game_bytes()})
    game = GameFolder(root)
    with PatchServer(ARGS.port, pub) as server:
        server.fail_config = True
        proc = game.start()
        try:
            # Through X first: see wait_window.
            c.check("update error box", wait_for(lambda: x_window_visible("Update Error"), 90, 0.5) is not None)
            time.sleep(1.0)
            box_painted(c, "Update Error", "If the problem persists")
            win = launcher_window()
            save(screenshot(), Face(win["x"], win["y"], win["w"], win["h"]), "launcher_update_error")
            press("Update Error", 2)
            c.check("cancel closes the box", wait_for(lambda: box_text("Update Error") is None, 10))
            time.sleep(1)
            c.check("still running after Cancel", proc.poll() is None)
        finally:
            stop(proc)
        proc = game.start()
        try:
            c.check("second failure box", wait_for(lambda: box_text("Update Error"), 90, 0.5) is not None)
            configs_before = server.count("GET", "emb.launcher.config.xml")
            server.fail_config = False
            press("Update Error", 4)
            c.check("retry starts a new run",
                    wait_for(lambda: server.count("GET", "emb.launcher.config.xml") > configs_before, 30))
            c.check("retry run completes", wait_for(lambda: server.count("GET", "emb.bin.lz"), 60) is not None)
        finally:
            stop(proc)


TESTS = [test_update_and_launch, test_second_instance, test_close_during_download,
         test_retry_and_cancel]


def run_scenarios(tests, argv=None):
    """Parses the shared options into ARGS and runs |tests| (each with a
    Checks and a fresh temporary folder); a broken scenario fails and the
    others still run. Returns the exit code."""
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--only", default="")
    ARGS = parser.parse_args(argv)
    passed = failed = 0
    with WinePrefix(screen_prefix(default_prefix())):
        for test in tests:
            if ARGS.only and ARGS.only not in test.__name__:
                continue
            c = Checks(test.__name__)
            with tempfile.TemporaryDirectory() as root:
                started = time.monotonic()
                try:
                    test(c, root)
                except Exception as e:
                    c.check("ran without error", False, repr(e))
                print("%s: %d checks, %d failed (%.0f s)" % (test.__name__, c.count, len(c.failures),
                                                             time.monotonic() - started), flush=True)
            for f in c.failures:
                print("FAIL " + f, flush=True)
            passed += c.count - len(c.failures)
            failed += len(c.failures)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(run_scenarios(TESTS))
