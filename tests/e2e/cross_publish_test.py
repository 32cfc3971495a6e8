# SPDX-License-Identifier: Apache-2.0
"""Publishing on Windows: embpatch.exe under Wine publishes a folder of awkward
names, a plain HTTP server on loopback serves it, and the Linux and the
Windows embpatch each bring an empty game folder up to date from it; both
must equal the source byte for byte, and the Linux publisher must write the
same payloads. Exit 77 (skipped) when no Linux embpatch is built."""
import argparse
import functools
import http.server
import os
import random
import subprocess
import sys
import tempfile
import threading

FILES = {
    "bin/Game Start.exe": b"MZ" + bytes(3000) + b"entry",
    "data/Town Hall.pak": b"".join(b"row %d of the hall;\n" % (i % 97) for i in range(12000)),
    "data/m\u00fczik/\u015fark\u0131 #1.ogg": random.Random(1).randbytes(70000),
    "data/100% done.txt": b"percent\n",
    "data/a%20b.txt": b"not a space\n",
    "data/a&b=c;d+e,f.cfg": b"key=value\n" * 50,
    "data/[x] {y} (z) ~'`!@$^.dat": b"brackets",
    "data/\u65e5\u672c\u8a9e/\u30c6\u30af\u30b9\u30c1\u30e3.dds": b"DDS " + bytes(range(256)) * 40,
    "data/controller \U0001f3ae.bin": b"beyond the basic plane",
    "data/-dash.and.dots..x": b"-",
    "a/b/c/d/e/f/g/h/deep.txt": b"deep\n",
    "empty.dat": b"",
}


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run(args, what):
    result = subprocess.run(args, capture_output=True, timeout=240)
    if result.returncode != 0:
        sys.exit("%s failed (%d):\n%s%s" % (what, result.returncode, result.stdout.decode(errors="replace"),
                                            result.stderr.decode(errors="replace")))
    return result.stdout.decode(errors="replace")


def tree(root):
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows", required=True, help="embpatch.exe")
    parser.add_argument("--linux", required=True, nargs="+", help="Linux embpatch, the first that exists")
    parser.add_argument("--wine-run", required=True)
    args = parser.parse_args()
    linux = next((p for p in args.linux if os.path.exists(p)), None)
    if linux is None:
        print("no Linux embpatch among %s: build linux-asan or linux first" % args.linux)
        return 77
    windows = [args.wine_run, args.windows]
    with tempfile.TemporaryDirectory(prefix="emb-cross-") as work:
        source = os.path.join(work, "source")
        for path, data in FILES.items():
            os.makedirs(os.path.dirname(os.path.join(source, path)), exist_ok=True)
            with open(os.path.join(source, path), "wb") as f:
                f.write(data)
        www = os.path.join(work, "www")
        os.makedirs(www)
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=www)
        handler.log_message = lambda *a: None
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        base = "http://127.0.0.1:%d" % server.server_address[1]
        publish = ["publish", "--crcpatch-url", base + "/patch", "--version", "1.0", "--run-path",
                   "bin/Game Start.exe"]
        print(run(windows + publish + ["--from", windows_path(source), "--web-root", windows_path(www)],
                  "embpatch.exe publish"), end="")
        run([linux] + publish + ["--from", source, "--web-root", os.path.join(work, "www-linux")],
            "Linux embpatch publish")
        if tree(www) != tree(os.path.join(work, "www-linux")):
            sys.exit("the Linux and the Windows publisher wrote different files")
        config = base + "/new/emb.launcher.config.xml"
        for name, client, folder in (("Linux", [linux], "game-linux"),
                                     ("Windows", windows, "game-windows")):
            game = os.path.join(work, folder)
            target = game if name == "Linux" else windows_path(game)
            out = run(client + ["run", "--game-dir", target, "--config-url", config, "--lang", "en"],
                      name + " embpatch run")
            installed = tree(game)
            installed.pop("EmbLauncher.cache", None)
            expected = tree(source)
            differing = sorted(k for k in set(installed) | set(expected) if installed.get(k) != expected.get(k))
            if differing:
                sys.exit("%s client: the game folder differs from the source: %s" % (name, differing[:3]))
            print("%s client: %s" % (name, out.strip().splitlines()[-1]))
        server.shutdown()
    print("ok: %d files, byte-identical in both game folders" % len(FILES))
    return 0


if __name__ == "__main__":
    sys.exit(main())
