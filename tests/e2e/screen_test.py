#!/usr/bin/env python3
"""The launcher's window under Wine on an X server, checked by screenshots at its design
coordinates (1124 x 618, scaled): the real drawing code (render), launcher.exe against a
patch server on loopback (e2e)."""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

from patch_server import BASE, PatchServer
from screen import BRUSH, CLEAR, blend, rgb8, screen_prefix, screenshot, wait_for

ARGS = None
TEXT, STATUS, START_TEXT, FILL, THIN = (
    rgb8(BRUSH[k]) for k in ("text", "status", "start_text", "fill_main", "fill_file"))
LINK, MUTED, TRACK, FACE, START_OFF, START_READY, START_HOVER = (
    blend(BRUSH[k], rgb8(CLEAR)) for k in
    ("link", "muted", "track", "button_face", "start_disabled", "start_ready", "start_hover"))
# Rows (label, design rect, colour, want): want n > 0 asks for at least n
# pixels near the colour, 0 for none, "fill" for all of them close to it.
DOWNLOADING = [
    ("icon", (22, 10, 50, 38), (255, 170, 60), 10), ("title", (58, 10, 250, 38), TEXT, 40),
    ("website link", (720, 14, 810, 34), LINK, 15), ("discord link", (920, 14, 990, 34), LINK, 15),
    ("button face", (1084, 12, 1090, 16), FACE, "fill"), ("gear", (1012, 10, 1040, 38), MUTED, 3),
    ("minimise", (1046, 10, 1074, 38), MUTED, 3), ("close", (1080, 10, 1108, 38), MUTED, 3),
    ("main bar to 50 %", (32, 557, 456, 559), FILL, "fill"),
    ("then track", (464, 557, 888, 559), TRACK, "fill"),
    ("thin bar to 25 %", (32, 576, 240, 579), THIN, "fill"),
    ("then track", (248, 576, 888, 579), TRACK, "fill"),
    ("speed on the bar", (408, 556, 508, 570), TEXT, 15), ("note", (28, 496, 892, 512), MUTED, 20),
    ("status", (28, 514, 642, 536), STATUS, 40), ("detail right", (772, 514, 892, 536), STATUS, 20),
    ("start dimmed", (912, 546, 930, 552), START_OFF, "fill"),
    ("start text muted", (908, 542, 1096, 594), MUTED, 20)]
READY = [("start ready", (912, 546, 930, 552), START_READY, "fill"),
         ("countdown right of START GAME", (1056, 556, 1090, 580), START_TEXT, 5)]
# The widest texts reach far along their rows and no further: a wrapped line puts ink
# beside its row (rows centre their text, so a second line pushes the first one up).
OVERFLOW = [("failure", (460, 514, 642, 536), STATUS, 20),
            ("count", (652, 514, 760, 536), STATUS, 20), ("below", (28, 536, 892, 556), STATUS, 0),
            ("note", (600, 496, 892, 512), MUTED, 20), ("above", (28, 474, 892, 496), MUTED, 0)]

# The widest line of downloaded, reused and resumed bytes at READY: whole on the note row,
# ending well before its right edge, where an ellipsis would go.
SUMMARY = [("summary", (28, 496, 300, 512), MUTED, 20), ("to its end", (300, 496, 600, 512), MUTED, 20),
           ("short of the edge", (800, 496, 892, 512), MUTED, 0),
           ("above", (28, 474, 892, 496), MUTED, 0)]

# Opaque parts of the face, which read the same over any picture.
ON_VIDEO = [("title", (58, 10, 250, 38), TEXT, 40),
            ("main bar to 50 %", (32, 557, 456, 559), FILL, "fill"),
            ("thin bar to 25 %", (32, 576, 240, 579), THIN, "fill"),
            ("speed on the bar", (408, 556, 508, 570), TEXT, 15),
            ("status", (28, 514, 642, 536), STATUS, 40),
            ("detail right", (772, 514, 892, 536), STATUS, 20)]
# Where only the picture behind the face shows.
VIDEO_AREA = (100, 80, 1000, 440)


def video_pixels(img, at):
    """Every fourth pixel of the video area of a face at |at|."""
    x0, y0, s = at
    left, top, right, bottom = VIDEO_AREA
    return [img.px(x, y) for y in range(int(y0 + top * s), int(y0 + bottom * s), 4)
            for x in range(int(x0 + left * s), int(x0 + right * s), 4)]


def look(img, at, rows):
    """The rows that do not hold in |img| for a face at |at| (x, y, scale)."""
    x0, y0, s = at
    bad = []
    for label, (left, top, right, bottom), colour, want in rows:
        tolerance = 8 if want == "fill" else 45
        pixels = [img.px(x, y) for y in range(int(y0 + top * s), int(y0 + bottom * s))
                  for x in range(int(x0 + left * s), int(x0 + right * s))]
        n = sum(all(abs(a - b) <= tolerance for a, b in zip(p, colour)) for p in pixels)
        if not (n == len(pixels) if want == "fill" else n >= want if want else n == 0):
            bad.append("%s: %d of %d near %s" % (label, n, len(pixels), colour))
    return bad


def look_for(c, label, at, rows, name, timeout=20):
    """Screenshots until |rows| hold (a software-drawn face can lag seconds behind on a
    busy machine); the last one is saved as |name|.png."""
    shot = []

    def attempt():
        shot[:] = [screenshot()]
        return not look(shot[0], at, rows)
    c(label, wait_for(attempt, timeout, 0.3), look(shot[0], at, rows))
    size = (int(1124 * at[2] + 0.5), int(618 * at[2] + 0.5))
    shot[0].crop(at[0], at[1], *size).save_png(os.path.join(ARGS.out, name + ".png"))


def stop(proc, grace=0):
    """|proc|'s exit code once it ends within |grace| s, else None (killed)."""
    try:
        return proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=30)


def test_render(c, root):
    # The face at READY is checked on the launcher itself (test_e2e). Under Wine the face
    # goes on screen through GDI; Windows' own Direct2D presentation is checked too.
    for scenario, rows, presentation in (
            ("downloading", DOWNLOADING, ""), ("de_verifying", OVERFLOW, ""),
            ("tr_downloads", OVERFLOW, ""),
            ("hover", [("start hovered", (912, 546, 930, 552), START_HOVER, "fill"), READY[1]], ""),
            ("summary", SUMMARY, ""), ("still", ON_VIDEO, ""),
            ("downloading", DOWNLOADING, "direct2d"), ("still", ON_VIDEO, "direct2d")):
        name = scenario + ("_" + presentation if presentation else "")
        status = pathlib.Path(root, name)
        probe = subprocess.Popen([ARGS.wine_run, os.path.join(ARGS.bin, "emb_render_probe.exe"),
                                  scenario, "Z:" + str(status).replace("/", "\\")] +
                                 ([presentation] if presentation else []),
                                 stdin=subprocess.DEVNULL)
        try:
            info = wait_for(lambda: status.exists() and status.read_text().strip(), 90)
            background = "background=" + ("still" if scenario == "still" else "clear")
            through = "presentation=" + (presentation or "gdi")
            if c(name + " drawn, again after a lost device",
                 "recovered=1" in str(info) and background in str(info) and through in str(info),
                 info):
                look_for(c, name, (0, 0, 1), rows, "render_" + name, 10)
                if scenario == "still":
                    c("the still fills the video area", len(set(video_pixels(screenshot(),
                                                                             (0, 0, 1)))) >= 20)
        finally:
            open(str(status) + ".stop", "w").close()
            stop(probe, 30)


def window_probe(*args):
    """The probe's answer (for "launcher": "x y width height visible iconic"), or None."""
    out = subprocess.run([ARGS.wine_run, os.path.join(ARGS.bin, "emb_window_probe.exe")] +
                         list(args), capture_output=True, timeout=60, stdin=subprocess.DEVNULL)
    return out.stdout.decode("utf-8", "replace").strip() if out.returncode == 0 else None


def x_window(title):
    """The X id of a visible window of that title; asks no Wine process."""
    return (subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                           capture_output=True, text=True, timeout=30).stdout.split() or [None])[0]


def wait_window(timeout=60):
    """The launcher's window once shown and not minimised. The first look goes through X:
    a Wine process started while the launcher's session comes up can stall till it ends."""
    return wait_for(lambda: x_window("Emb Launcher"), timeout, 0.3) and wait_for(
        lambda: (lambda w: w and w.endswith(" 1 0") and w)(window_probe("launcher")), timeout, 0.3)


def click_until(at, point, effect, tries=3, wait=4.0):
    """Clicks the design |point| until |effect()| holds (a click that reaches a window
    still busy starting can be lost under load); the time of the click that worked."""
    for _ in range(tries):
        clicked = time.monotonic()
        subprocess.run(["xdotool", "mousemove", str(int(at[0] + point[0] * at[2])),
                        str(int(at[1] + point[1] * at[2])), "click", "1"], check=True, timeout=30)
        if wait_for(effect, wait, 0.2):
            return clicked


def game_folder(root, build, entry=None):
    """A game folder with launcher.exe of |build| and an installed emb.bin |entry|."""
    game = pathlib.Path(root, "Emberfall Game")
    game.mkdir(parents=True)
    (game / "launcher.exe").write_bytes(pathlib.Path(ARGS.bin, build, "launcher.exe").read_bytes())
    if entry:
        (game / "emb.bin").write_bytes(entry)
    return game


def start(game):
    """launcher.exe in |game| started as a player would, its output logged beside it."""
    log = open("%s-%d.log" % (game, time.monotonic_ns()), "w")
    return subprocess.Popen([ARGS.wine_run, game / "launcher.exe"], stdin=subprocess.DEVNULL,
                            stdout=log, stderr=subprocess.STDOUT)


def box_drawn(img, rects):
    """What of the box at |rects| (window, text, Retry, Cancel: screen rectangles) is not on
    the screen: its caption bar with the caption, its message, its two buttons. Each part has
    ink far from its commonest colour, which is light (dark for the caption bar)."""
    window, text, retry, cancel = rects
    bad = []
    for label, (left, top, right, bottom), light, least in (
            ("caption", (window[0] + 4, window[1] + 3, window[2] - 24, text[1] - 12), 0, 30),
            ("message", text, 1, 40), ("Retry", retry, 1, 15), ("Cancel", cancel, 1, 15)):
        px = [img.px(x, y) for y in range(top + 2, bottom - 2) for x in range(left + 2, right - 2)]
        common = max(set(px), key=px.count)
        inked = sum(sum(abs(a - b) for a, b in zip(p, common)) > 150 for p in px)
        if inked < least or (min(common) > 180) != light or max(common) < 40:
            bad.append("%s: %s, %d inked" % (label, common, inked))
    return bad


def box_rects(caption):
    rects = x_window(caption) and window_probe("boxrects", caption)
    return rects and [tuple(int(v) for v in line.split()) for line in rects.splitlines()]


def no_box_seen(caption, asks):
    """What there is instead of the box: any window of its caption, the launcher, the asks."""
    titled = subprocess.run(["xdotool", "search", "--name", "^%s$" % caption],
                            capture_output=True, text=True, timeout=30).stdout.split()
    return "(box %r, X windows %r, launcher %r %r, %d asks)" % (
        window_probe("box", caption), titled, window_probe("launcher"), window_probe("answers"),
        asks)


def click_at(rect):
    subprocess.run(["xdotool", "mousemove", str((rect[0] + rect[2]) // 2),
                    str((rect[1] + rect[3]) // 2), "click", "1"], check=True, timeout=30)


def test_box(c, root):
    """The update-error box as a player sees it, on the whole screen, in every language:
    caption, message and both buttons drawn; Retry runs the update again, Cancel closes
    the box and leaves the launcher open."""
    config = "emb.launcher.config.xml"
    for lang, caption in (("en", "Update Error"), ("de", "Aktualisierungsfehler"),
                          ("tr", "G\u00fcncelleme Hatas\u0131")):
        game = game_folder(os.path.join(root, lang), "e2e")
        (game / "locale.cfg").write_text("language = %s\n" % lang)
        with PatchServer(ARGS.port, {"emb.bin": b"MZ"}) as server:
            del server.routes["/new/" + config]  # every run fails
            proc = start(game)
            try:
                rects = wait_for(lambda: box_rects(caption), 90, 0.5)
                if not c(lang + ": the update-error box", rects):
                    continue
                shot = []

                def painted():
                    shot[:] = [screenshot()]
                    return not box_drawn(shot[0], rects)
                c(lang + ": box drawn on the screen", wait_for(painted, 20, 0.5),
                  box_drawn(shot[0], rects))
                left, top, right, bottom = rects[0]
                shot[0].crop(left, top, right - left, bottom - top).save_png(
                    os.path.join(ARGS.out, "box_%s.png" % lang))
                asked = server.count("GET", config)
                click_at(rects[2])
                c(lang + ": Retry runs the update again",
                  wait_for(lambda: server.count("GET", config) > asked, 30, 0.3))
                rects = wait_for(lambda: box_rects(caption), 90, 0.5)
                if c(lang + ": its failure boxed again", rects,
                     "" if rects else no_box_seen(caption, server.count("GET", config))):
                    click_at(rects[3])
                    c(lang + ": Cancel closes the box",
                      wait_for(lambda: not window_probe("box", caption), 20, 0.3))
                    asked = server.count("GET", config)
                    time.sleep(2.0)
                    c(lang + ": and runs nothing, the launcher open",
                      server.count("GET", config) == asked and
                      str(window_probe("launcher")).endswith(" 1 0"))
            finally:
                stop(proc)


def test_e2e(c, root):
    """The update-error box's Retry runs again; a second start brings the minimised window
    back; one while the close button ends a download waits for it and carries on to READY,
    whose countdown starts the game."""
    big = bytes((i * 131 + (i >> 9)) & 0xFF for i in range(6 << 20))
    files = {"emb.bin": pathlib.Path(ARGS.bin, "emb_test_game.exe").read_bytes(),
             "data/maps/ember valley.pak": big, "data/readme.txt": b"Emberfall\n"}
    game, procs = game_folder(root, "e2e"), []
    with PatchServer(ARGS.port, files, throttle=200_000) as server:  # about 30 s
        crclist = server.routes.pop(BASE + "crclist")  # the first run fails
        try:
            procs.append(start(game))
            box = wait_for(lambda: x_window("Update Error") and window_probe("box", "Update Error"),
                           90, 0.5)
            c("the failure in the update-error box",
              "update list could not be downloaded" in str(box), box)
            server.routes[BASE + "crclist"] = crclist
            window_probe("press", "Update Error", "4")
            win = wait_window()
            if not c("window at its place on 1920 x 1080", win == "454 262 1012 556 1 0", win):
                return
            at = (454, 262, min(1012 / 1124, 556 / 618))
            look_for(c, "progress drawn over the video", at,
                     [("main bar part", (28, 557, 892, 559), FILL, 20), ON_VIDEO[0],
                      ("status", (28, 514, 642, 536), STATUS, 40)], "launcher_downloading", 60)
            first = video_pixels(screenshot(), at)
            time.sleep(1.0)
            second = screenshot()
            changed = sum(a != b for a, b in zip(first, video_pixels(second, at)))
            c("the video moves behind the face (a second apart)", changed > 0.05 * len(first),
              "%d of %d pixels changed" % (changed, len(first)))
            rows = [ON_VIDEO[0], ("main bar part", (28, 557, 892, 559), FILL, 20), ON_VIDEO[4]]
            c("the face above it", not look(second, at, rows), look(second, at, rows))
            c("minimised by its button",
              click_until(at, (1060, 24), lambda: str(window_probe("launcher")).endswith(" 1")))
            procs.append(start(game))
            c("a second start ends at once", stop(procs[-1], 60) == 0)
            c("and brings the first window back", wait_window(10))
            # Two busy processes per CPU: frames then take longer than the
            # worker's progress interval, where clicks once starved.
            spinners = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                        for _ in range(2 * (os.cpu_count() or 1))]
            time.sleep(2.0)
            closed = click_until(at, (1094, 24), lambda: not str(window_probe("launcher")).endswith(
                " 1 0"), 3, 2.0)
            for p in spinners:
                stop(p)
            server.throttle = None
            procs.append(start(game))
            code, took = stop(procs[0], 10), closed and round(time.monotonic() - closed, 1)
            c("the close button ends it within about 3 s", closed and code == 0 and took < 4.5,
              "exit %s after %s s" % (code, took))
            c("a start while it closed shows its window", wait_window(60))
            look_for(c, "READY with the countdown", at, READY[:2], "launcher_ready", 60)
            # A second of the countdown redraws its button alone, over the video.
            time.sleep(1.5)
            shot, rows = screenshot(), [ON_VIDEO[0], ON_VIDEO[4], READY[1]]
            c("the face stays whole as the countdown goes on", not look(shot, at, rows),
              look(shot, at, rows))
            started = game / "game_started.txt"  # the game's marker ends with its argument count
            c("game started by the countdown, without arguments",
              wait_for(lambda: started.exists() and started.read_text().endswith("\n0\n"), 40))
            c("launcher exit code 0 after the launch", stop(procs[-1], 30) == 0)
            c("game files installed", all((game / p).read_bytes() == d for p, d in files.items()))
        finally:
            for p in procs:
                stop(p)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--bin", "--wine-run", "--out"):
        parser.add_argument(option, required=True)
    parser.add_argument("--port", type=int, help="the one the launcher was built for")
    parser.add_argument("group", choices=("render", "e2e", "box"))
    ARGS, checks, started = parser.parse_args(), [], time.monotonic()

    def check(label, ok, detail=""):
        checks.append(None if ok else "FAIL %s %s" % (label, detail))
        return ok
    with screen_prefix(), tempfile.TemporaryDirectory() as root:
        try:
            globals()["test_" + ARGS.group](check, root)
        except Exception as e:
            check("ran without error", False, repr(e))
    failed = [f for f in checks if f]
    print("\n".join(failed + ["%d checks, %d failed (%.0f s)" % (len(checks), len(failed),
                                                                 time.monotonic() - started)]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
