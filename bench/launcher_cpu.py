#!/usr/bin/env python3
"""CPU and memory of launcher.exe under Wine: downloading and READY with the
background video playing (frames at the video's rate), minimised during a
download, the update-error box open, and the countdown without video frames
(the video file cannot be written: the face alone). Each figure is the
launcher process's CPU time over a few seconds, as a percentage of one core
(wineserver beside it); memory is the resident size at the start and end of
the minimised stretch and of 60 s of playback. --runs N measures N times and
prints each figure's median and range. With --baseline LAUNCHER.exe the same
states are measured for that build too and the ratios printed.

Run under an X server, as the screen tests are:
  xvfb-run -a -s "-screen 0 1920x1080x24" bench/launcher_cpu.py \
      --bin build/windows/bin --wine-run cmake/wine-run.sh"""
import argparse
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import screen_test as e2e  # noqa: E402
from patch_server import PatchServer  # noqa: E402
from screen import _xlib as xlib, screen_prefix, screenshot, wait_for  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")


def pids_of(name):
    out = subprocess.run(["pgrep", "-f", name], capture_output=True, text=True)
    return [int(p) for p in out.stdout.split()]


def launcher_pid(folder):
    """The Windows process of launcher.exe in |folder| (not the shell script
    that started it, nor another launcher on this machine)."""
    tag = os.path.basename(os.path.dirname(os.path.dirname(folder))).encode()
    for pid in pids_of(r"launcher\.exe"):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                args = f.read().split(b"\0")
        except OSError:
            continue
        if args and args[0].lower().endswith(b"launcher.exe") and tag in args[0]:
            return pid
    return None


def launcher_on_screen(game):
    """The started launcher's process and where its face is: (pid, (x, y, scale))."""
    win = e2e.wait_window()
    pid = wait_for(lambda: launcher_pid(str(game)), 30, 0.3)
    if not win or not pid:
        raise RuntimeError("no launcher window")
    x, y, w, h = (int(v) for v in win.split()[:4])
    return pid, (x, y, min(w / 1124, h / 618))


def cpu_ticks(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None  # ended meanwhile
    return int(fields[11]) + int(fields[12])


def rss_mib(pid):
    with open("/proc/%d/statm" % pid) as f:
        return int(f.read().split()[1]) * PAGE / 2**20


def cpu_percent(pid, seconds):
    servers = {p: cpu_ticks(p) for p in pids_of("wineserver")}
    before = cpu_ticks(pid)
    time.sleep(seconds)
    used = (cpu_ticks(pid) - before) / TICK
    server_used = 0
    for p, start in servers.items():
        end = cpu_ticks(p)
        if start is not None and end is not None:
            server_used += (end - start) / TICK
    return 100.0 * used / seconds, 100.0 * server_used / seconds


def frames_shown(at, seconds):
    """Video frames the screen shows per second: the video area (where the clip's noise
    changes something every frame) read about every 10 ms, its changes counted."""
    x, display = xlib()
    x0, y0, s = at
    left, top, right, bottom = e2e.VIDEO_AREA
    width, height = int((right - left) * s), int((bottom - top) * s)
    changes, last = 0, None
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        image = x.XGetImage(display, x.XDefaultRootWindow(display), int(x0 + left * s),
                            int(y0 + top * s), width, height, 0xFFFFFFFF, 2)
        if image:
            area = ctypes.string_at(image.contents.data, image.contents.bytes_per_line * height)
            image.contents.destroy_image(ctypes.cast(image, ctypes.c_void_p))
            changes += last is not None and area != last
            last = area
        time.sleep(0.01)
    return (changes / seconds,)


def game_folder(root, launcher, config_exe):
    game = e2e.game_folder(root, "e2e")
    shutil.copy(launcher, game / "launcher.exe")
    if config_exe:
        shutil.copy(os.path.join(e2e.ARGS.bin, "emb_test_game.exe"), game / "config.exe")
    return game


def measure(launcher, port):
    """The states of one launcher build: {state: (cpu %, wineserver %)}."""
    results = {}
    with open(os.path.join(e2e.ARGS.bin, "emb_test_game.exe"), "rb") as f:
        game_exe = f.read()
    with tempfile.TemporaryDirectory() as root:
        big = bytes((i * 131 + (i >> 9)) & 0xFF for i in range(8_000_000))
        pub = {"emb.bin": game_exe, "data/big.pak": big}
        game = game_folder(os.path.join(root, "update"), launcher, True)
        with PatchServer(port, pub, throttle=250_000) as server:
            proc = e2e.start(game)
            try:
                pid, at = launcher_on_screen(game)
                wait_for(lambda: server.count("GET", "big.pak.lz"), 60)
                time.sleep(1.0)
                results["downloading"] = cpu_percent(pid, 5)
                e2e.click_until(at, (1060, 24),
                                lambda: str(e2e.window_probe("launcher")).endswith(" 1"))
                time.sleep(1.0)
                rss_start = rss_mib(pid)
                results["minimised, downloading"] = cpu_percent(pid, 8)
                results["minimised RSS start/end MiB"] = (rss_start, rss_mib(pid))
                # A second start brings the window back; the download then ends.
                e2e.start(game).wait(timeout=60)
                if not wait_for(lambda: not e2e.look(screenshot(), at, e2e.READY[:1]), 120, 0.5):
                    raise RuntimeError("never ready")
                results["ready, countdown, video"] = cpu_percent(pid, 4)
                # The settings button stops the countdown for good.
                e2e.click_until(at, (1026, 24), lambda: True, 1)
                time.sleep(2.0)
                rss_start = rss_mib(pid)
                results["video playing (60 s)"] = cpu_percent(pid, 60)
                results["playing RSS start/end MiB"] = (rss_start, rss_mib(pid))
                results["video frames shown per s"] = frames_shown(at, 5)
            finally:
                e2e.stop(proc)
                subprocess.run(["pkill", "-f", "config.exe"], capture_output=True)
        # The video's file cannot be written (a folder holds its name): no
        # video and no still, the countdown's seconds alone.
        blocked = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", os.environ.get(
            "USER", "root"), "Temp", "EmbLauncher", "hero.mp4")
        shutil.rmtree(blocked, ignore_errors=True)
        if os.path.exists(blocked):
            os.remove(blocked)
        os.makedirs(blocked)
        game = game_folder(os.path.join(root, "novideo"), launcher, False)
        try:
            with PatchServer(port, {"emb.bin": game_exe}):
                proc = e2e.start(game)
                try:
                    pid, at = launcher_on_screen(game)
                    if not wait_for(lambda: not e2e.look(screenshot(), at, e2e.READY[:1]), 60, 0.5):
                        raise RuntimeError("never ready")
                    time.sleep(1.0)
                    results["countdown, no video"] = cpu_percent(pid, 6)
                finally:
                    e2e.stop(proc)
        finally:
            os.rmdir(blocked)
        game = game_folder(os.path.join(root, "failing"), launcher, False)
        with PatchServer(port, {"emb.bin": game_exe}) as server:
            del server.routes["/new/emb.launcher.config.xml"]  # the configuration fails
            proc = e2e.start(game)
            try:
                if wait_for(lambda: e2e.window_probe("box", "Update Error"), 90, 0.5) is None:
                    raise RuntimeError("no update-error box")
                pid = wait_for(lambda: launcher_pid(str(game)), 30, 0.3)
                time.sleep(1.0)
                results["update-error box open"] = cpu_percent(pid, 5)
            finally:
                e2e.stop(proc)
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--port", type=int, default=18473)  # the e2e launcher's
    parser.add_argument("--baseline", help="another launcher.exe built for the same port")
    parser.add_argument("--runs", type=int, default=1)
    args = parser.parse_args()
    e2e.ARGS = argparse.Namespace(bin=args.bin, wine_run=args.wine_run, out=tempfile.gettempdir(),
                                  port=args.port, only="")
    builds = [("this build", os.path.join(args.bin, "e2e", "launcher.exe"))]
    if args.baseline:
        builds.append(("baseline", args.baseline))
    runs = {name: [] for name, _ in builds}
    with screen_prefix():
        for _ in range(args.runs):
            for name, exe in builds:
                runs[name].append(measure(exe, args.port))

    def summary(name, state):
        """Per column: the median, and the range when there are several runs."""
        columns = list(zip(*(r[state] for r in runs[name])))
        return [(statistics.median(c), min(c), max(c)) for c in columns]

    def show(figures):
        return "  ".join("%6.1f" % m + (" (%.1f-%.1f)" % (lo, hi) if args.runs > 1 else "")
                         for m, lo, hi in figures)
    for state in runs["this build"][0]:
        ours = summary("this build", state)
        line = "%-30s %s" % (state, show(ours))
        if args.baseline:
            base = summary("baseline", state)
            line += "   baseline %s" % show(base)
            if "RSS" not in state and "frames" not in state and ours[0][0] > 0:
                line += "   %.1fx less" % (base[0][0] / ours[0][0])
        print(line)
    print("(CPU: %% of one core, launcher process then wineserver; RSS: MiB; frames: changes"
          " of the video area a second, the clip has 24; %d run%s%s)" % (
        args.runs, "s" if args.runs > 1 else "", ": median (range)" if args.runs > 1 else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
