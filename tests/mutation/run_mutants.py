#!/usr/bin/env python3
"""Measures how many plausible faults the test suites catch.

Each mutant of mutants.py is applied to its source file, the suite that
should catch it is rebuilt incrementally and only the named tests run, with
ctest stopping at the first failure. A failing, crashing or hanging test
kills the mutant; passing tests let it survive. The file is restored after
every mutant, whatever happens, and checked against git.

    run_mutants.py [ids...] [--no-baseline] [--list]
"""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mutants import MUTANTS  # noqa: E402

# Files only the Windows build compiles; everything else runs on Linux.
TIMEOUT = 300  # seconds per mutant's tests; a hang counts as killed
WINDOWS_ONLY = re.compile(r"(_win\.cpp$|winhttp|^ui/(?!layout|video_file|window_controller)[^/]+\.(cpp|h)$)")


def interrupt(*_):
    raise KeyboardInterrupt


def platform_of(mutant):
    return "windows" if WINDOWS_ONLY.search(mutant["file"]) else "linux"


def run(cmd, timeout, log):
    """Runs |cmd| in its own process group; returns its exit code, or None
    when it ran past |timeout| (the whole group is then killed)."""
    log.write("$ %s\n" % " ".join(cmd))
    log.flush()
    proc = subprocess.Popen(cmd, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT,
                            start_new_session=True)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()


def ctest(build, tests, timeout, log):
    # One at a time under Wine: each test process starts Wine anew.
    jobs = "1" if build.endswith("windows") else "2"
    return run(["ctest", "--test-dir", build, "-R", tests, "--stop-on-failure", "--no-tests=error",
                "--output-on-failure", "-j", jobs], timeout, log)


def check(mutant):
    path = os.path.join(ROOT, mutant["file"])
    with open(path, encoding="utf-8") as f:
        count = f.read().count(mutant["find"])
    if count != 1:
        sys.exit("%s: the text to find occurs %d times in %s" % (mutant["id"], count, mutant["file"]))


def git_clean(relative):
    return subprocess.run(["git", "diff", "--quiet", "--", relative], cwd=ROOT).returncode == 0


def restore(relative, backup):
    shutil.copyfile(backup, os.path.join(ROOT, relative))  # a fresh mtime: the next build recompiles it
    os.remove(backup)
    if not git_clean(relative):
        sys.exit("could not restore %s: see %s" % (relative, backup))


def try_mutant(mutant, build, timeout, backup_dir, log):
    relative = mutant["file"]
    path = os.path.join(ROOT, relative)
    if not git_clean(relative):
        sys.exit("%s has local changes; commit or stash them first" % relative)
    backup = os.path.join(backup_dir, relative.replace("/", "__"))
    shutil.copyfile(path, backup)
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(mutant["find"], mutant["replace"], 1))
        if run(["cmake", "--build", build, "--target", *mutant["targets"].split(), "-j2"], 1800, log) != 0:
            return "build-error"
        code = ctest(build, mutant["tests"], mutant.get("timeout", timeout), log)
        if code is None:
            return "killed (time-out)"
        return "survived" if code == 0 else "killed"
    finally:
        restore(relative, backup)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("ids", nargs="*", help="mutant ids (default: all)")
    parser.add_argument("--no-baseline", action="store_true", help="skip the unmutated run of the tests")
    parser.add_argument("--list", action="store_true", help="list the mutants and exit")
    args = parser.parse_args()

    known = {m["id"]: m for m in MUTANTS}
    if len(known) != len(MUTANTS):
        sys.exit("duplicate mutant ids")
    unknown = [i for i in args.ids if i not in known]
    if unknown:
        sys.exit("unknown mutant ids: " + " ".join(unknown))
    selected = [known[i] for i in args.ids] if args.ids else MUTANTS
    if args.list:
        for m in selected:
            print("%-28s %-8s %-38s %s" % (m["id"], platform_of(m), m["file"], m["why"]))
        return 0
    for m in selected:
        check(m)

    builds = {p: os.path.join(ROOT, "build", p) for p in ("linux", "windows")}
    out = os.path.join(builds["linux"], "mutation.json")
    backup_dir = os.path.join(builds["linux"], "mutation-backup")
    os.makedirs(backup_dir, exist_ok=True)
    # A run that was killed outright left its copy behind: put it back first.
    for name in os.listdir(backup_dir):
        restore(name.replace("__", "/"), os.path.join(backup_dir, name))
    os.environ.setdefault("WINEPREFIX", os.path.join(ROOT, "build", "wineprefix"))
    os.environ.setdefault("WINEDEBUG", "-all")
    os.environ.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    # SIGTERM ends the run the way Ctrl-C does, through the restoring finally;
    # Ctrl-C works even where the shell started the run with SIGINT ignored.
    signal.signal(signal.SIGTERM, interrupt)
    signal.signal(signal.SIGINT, interrupt)

    log_path = os.path.splitext(out)[0] + ".log"
    results, started = [], time.time()
    with open(log_path, "w") as log:
        if not args.no_baseline:
            for platform, build in builds.items():
                group = [m for m in selected if platform_of(m) == platform]
                if not group:
                    continue
                targets = sorted({t for m in group for t in m["targets"].split()})
                selections = sorted({m["tests"] for m in group})
                print("baseline %s: %d selections of tests" % (platform, len(selections)), flush=True)
                if run(["cmake", "--build", build, "--target", *targets, "-j2"], 3600, log) != 0:
                    sys.exit("the %s build fails; see %s" % (platform, log_path))
                # One ctest call per selection: ctest's regular expressions
                # allow only a few groups, so they cannot be joined into one.
                for tests in selections:
                    if ctest(build, tests, TIMEOUT, log) != 0:
                        sys.exit("unmutated, %s fails on %s; see %s" % (tests, platform, log_path))
        for n, m in enumerate(selected, 1):
            t0 = time.time()
            try:
                status = try_mutant(m, builds[platform_of(m)], TIMEOUT, backup_dir, log)
            except KeyboardInterrupt:
                print("interrupted; %s restored" % m["file"])
                return 130
            seconds = round(time.time() - t0, 1)
            results.append({"id": m["id"], "file": m["file"], "platform": platform_of(m),
                            "status": status, "seconds": seconds})
            print("[%d/%d] %-28s %-18s %6.1fs" % (n, len(selected), m["id"], status, seconds), flush=True)
        # The last mutant's binaries stay in the build until it is rebuilt.
        for platform, build in builds.items():
            targets = sorted({t for m in selected if platform_of(m) == platform for t in m["targets"].split()})
            if targets:
                run(["cmake", "--build", build, "--target", *targets, "-j2"], 3600, log)

    killed = sum(r["status"].startswith("killed") for r in results)
    valid = sum(r["status"] != "build-error" for r in results)
    score = round(100.0 * killed / valid, 1) if valid else 0.0
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=ROOT,
                            capture_output=True, text=True).stdout.strip()
    summary = {"commit": commit, "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
               "mutants": len(results), "killed": killed, "survived": valid - killed,
               "build_errors": len(results) - valid, "score_percent": score,
               "seconds": round(time.time() - started), "results": results}
    with open(out, "w") as f:
        json.dump(summary, f, indent=1)
    print("\nscore %.1f%%: %d of %d killed, %d build errors; %ds; %s" %
          (score, killed, valid, len(results) - valid, summary["seconds"], out))
    for r in results:
        if r["status"] != "survived" and r["status"] != "build-error":
            continue
        print("  %-10s %s (%s)" % (r["status"], r["id"], known[r["id"]]["why"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
