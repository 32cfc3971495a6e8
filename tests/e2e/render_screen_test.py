#!/usr/bin/env python3
"""Draws the launcher's face with the real drawing code under Wine (through
emb_render_probe) and checks the screen at the design coordinates: header,
links, window buttons, icon, status and detail texts, both bars, the speed
text, the note line and the start button in its three looks, and the widest
German and Turkish texts kept to their one-line rows. Writes one PNG per
scenario (and overflow page). Run it under an X server (xvfb-run)."""
import argparse
import os
import subprocess
import sys
import tempfile
import time

from screen import (BRUSH, CLEAR, Checks, WinePrefix, blend, default_prefix, rgb8, screen_prefix,
                    screenshot, wait_for, wine_path)

S = 1.0  # a 1124 x 618 client: design units are pixels
L, R = 28, 1124 - 28 - 188 - 16
BUTTON_TOP = 618 - 24 - 52
STATUS_TOP = BUTTON_TOP - 28
BAR_TOP = BUTTON_TOP + (52 - 23) / 2
# The probe's pages of the widest texts, in its order: the longest failure
# message of the language, a counter with six-digit counts, a deep path.
OVERFLOW_PAGES = ("de_verifying", "tr_downloads")


def run_probe(args, scenario, work):
    status = os.path.join(work, scenario + ".status")
    log = open(os.path.join(work, scenario + ".log"), "w")
    proc = subprocess.Popen([args.wine_run, os.path.join(args.bin, "emb_render_probe.exe"), scenario,
                             wine_path(status)], stdout=log, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL)
    try:
        if not wait_for(lambda: os.path.exists(status), 90):
            raise RuntimeError("probe %s drew no frames" % scenario)
        # A few more frames, so the screenshot shows a settled face.
        time.sleep(0.5)
        images = [screenshot()]
        info = open(status).read().strip()
        if scenario == "downloading":  # the same face with the widest texts
            images += [overflow_page(status, page) for page in range(len(OVERFLOW_PAGES))]
    finally:
        open(status + ".stop", "w").close()
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
    return [image.crop(0, 0, 1124, 618) for image in images], info


def read_text(path):
    try:
        return open(path).read().strip()
    except OSError:
        return None


def overflow_page(status, page):
    open(status + ".next", "w").close()
    if not wait_for(lambda: read_text(status + ".page") == str(page), 30, 0.05):
        raise RuntimeError("probe showed no overflow page %d" % page)
    return screenshot()


def common_checks(c, img, clear):
    # Header: icon (flame), title, links, window-button faces and glyphs.
    c.check("icon shows the flame",
            c.count_near(img, (22, 10, 50, 38), (255, 170, 60), 70) >= 10)
    c.text(img, "title", (58, 10, 250, 38), rgb8(BRUSH["text"]), 40)
    for name, rect in (("website", (720, 14, 810, 34)), ("support", (830, 14, 900, 34)),
                       ("discord", (920, 14, 990, 34))):
        c.text(img, "%s link" % name, rect, blend(BRUSH["link"], clear), 15)
    face = blend(BRUSH["button_face"], clear)
    for name, x in (("settings", 1014), ("minimise", 1048), ("close", 1082)):
        c.colour(img, "%s face" % name, x + 2, 14, face, 6)
    muted = blend(BRUSH["muted"], clear)
    for name, rect in (("gear", (1012, 10, 1040, 38)), ("minimise", (1046, 10, 1074, 38)),
                       ("close", (1080, 10, 1108, 38))):
        c.text(img, "%s glyph" % name, rect, muted, 3, 50)
    # The plain background where the engine gives no frame.
    c.colour(img, "background", 560, 300, clear, 6)


def check_downloading(img, info):
    c = Checks("downloading")
    clear = rgb8(CLEAR)
    common_checks(c, img, clear)
    bar_mid = int(BAR_TOP + 7)
    c.colour(img, "main bar fill", 60, bar_mid + 4, rgb8(BRUSH["fill_main"]), 8)
    c.colour(img, "main bar fill ends at 50 %", 520, bar_mid, blend(BRUSH["track"], clear), 8)
    c.colour(img, "main bar track", 800, bar_mid, blend(BRUSH["track"], clear), 8)
    thin = int(BAR_TOP + 21)
    c.colour(img, "thin bar fill", 100, thin, rgb8(BRUSH["fill_file"]), 8)
    c.colour(img, "thin bar track", 400, thin, blend(BRUSH["track"], clear), 8)
    c.text(img, "speed text on the bar", (L + 380, BAR_TOP, L + 480, BAR_TOP + 14),
           rgb8(BRUSH["text"]), 15)
    c.text(img, "status text", (L, STATUS_TOP, R - 250, STATUS_TOP + 22), rgb8(BRUSH["status"]), 40)
    c.text(img, "detail text right-aligned", (R - 120, STATUS_TOP, R, STATUS_TOP + 22),
           rgb8(BRUSH["status"]), 20)
    c.no_text(img, "detail text leaves the middle free", (R - 240, STATUS_TOP, R - 140,
              STATUS_TOP + 22), rgb8(BRUSH["status"]), 30)
    c.text(img, "note line", (L, STATUS_TOP - 18, R, STATUS_TOP - 2), blend(BRUSH["muted"], clear),
           20, 45)
    c.colour(img, "start button dimmed", 914, 548, blend(BRUSH["start_disabled"], clear), 6)
    c.text(img, "start text muted", (908, 542, 1096, 594), blend(BRUSH["muted"], clear), 20, 45)
    return c


def check_ready(img, info, hover):
    c = Checks("hover" if hover else "ready")
    clear = rgb8(CLEAR)
    common_checks(c, img, clear)
    bar_mid = int(BAR_TOP + 7)
    c.colour(img, "main bar full", 880, bar_mid, rgb8(BRUSH["fill_main"]), 8)
    c.colour(img, "thin bar full", 880, int(BAR_TOP + 21), rgb8(BRUSH["fill_file"]), 8)
    c.text(img, "READY TO PLAY", (L, STATUS_TOP, R - 250, STATUS_TOP + 22), rgb8(BRUSH["status"]), 40)
    face = BRUSH["start_hover"] if hover else BRUSH["start_ready"]
    c.colour(img, "start button face", 914, 548, blend(face, clear), 6)
    c.text(img, "start text with countdown", (908, 542, 1096, 594), rgb8(BRUSH["start_text"]), 60)
    # "START GAME (7)" is wider than "START GAME": text reaches right of 1060.
    c.text(img, "countdown digits", (1050, 556, 1090, 580), rgb8(BRUSH["start_text"]), 5)
    return c


def check_overflow(img, page):
    """The text of each one-line row stays in its row: a wrapped line would
    put ink in the free band beside it (the rows centre their text, so a
    second line pushes the first one up as far as it hangs below)."""
    c = Checks("overflow " + page)
    status = rgb8(BRUSH["status"])
    muted = blend(BRUSH["muted"], rgb8(CLEAR))
    c.text(img, "failure text", (L, STATUS_TOP, R - 250, STATUS_TOP + 22), status, 40)
    c.text(img, "counter", (R - 240, STATUS_TOP, R, STATUS_TOP + 22), status, 20)
    c.text(img, "note line", (L, STATUS_TOP - 18, R, STATUS_TOP - 2), muted, 20, 45)
    c.no_text(img, "status and detail stay on their row", (L, STATUS_TOP + 22, R, BAR_TOP - 1),
              status, 60)
    c.no_text(img, "note stays on its row", (L, STATUS_TOP - 40, R, STATUS_TOP - 18), muted, 45)
    return c


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    failures, total = [], 0
    with WinePrefix(screen_prefix(default_prefix())), tempfile.TemporaryDirectory() as work:
        for scenario in ("downloading", "ready", "hover"):
            images, info = run_probe(args, scenario, work)
            img = images[0]
            img.save_png(os.path.join(args.out, "render_%s.png" % scenario))
            print("%s: %s" % (scenario, info))
            lost = Checks(scenario)
            lost.check("render target rebuilt after a lost device", "recovered=1" in info, info)
            checks = [lost, check_downloading(img, info) if scenario == "downloading" else
                      check_ready(img, info, scenario == "hover")]
            for page, img in zip(OVERFLOW_PAGES, images[1:]):
                img.save_png(os.path.join(args.out, "render_overflow_%s.png" % page))
                checks.append(check_overflow(img, page))
            for c in checks:
                total += c.count
                failures += c.failures
    for f in failures:
        print("FAIL " + f)
    print("%d passed, %d failed" % (total - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
