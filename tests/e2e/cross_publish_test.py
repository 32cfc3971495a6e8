# SPDX-License-Identifier: Apache-2.0
"""embpatch.exe under Wine publishes a folder of awkward names (as the Linux
embpatch must, byte for byte), served on loopback; the Linux and the Windows
client each install it as the source. Exit 77: no Linux embpatch built."""
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
    "data/100% done.txt": b"percent\n", "data/a%20b.txt": b"not a space\n",
    "data/a&b=c;d+e,f.cfg": b"key=value\n" * 50,
    "data/[x] {y} (z) ~'`!@$^.dat": b"brackets",
    "data/\u65e5\u672c\u8a9e/\u30c6\u30af\u30b9\u30c1\u30e3.dds": b"DDS " + bytes(range(256)) * 40,
    "data/controller \U0001f3ae.bin": b"beyond the basic plane",
    "data/-dash.and.dots..x": b"-", "a/b/c/d/e/f/g/h/deep.txt": b"deep\n", "empty.dat": b"",
}


def run(args, what):
    result = subprocess.run(args, capture_output=True, timeout=240)
    if result.returncode != 0:
        sys.exit("%s failed (%d): %s" % (what, result.returncode, (result.stdout + result.stderr).decode(errors="replace")))
    return result.stdout.decode(errors="replace").strip().splitlines()[-1]


def tree(root):
    return {os.path.relpath(os.path.join(folder, name), root): open(os.path.join(folder, name), "rb").read()
            for folder, _, names in os.walk(root) for name in names if name != "EmbLauncher.cache"}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows", required=True, help="embpatch.exe")
    parser.add_argument("--linux", required=True, nargs="+", help="Linux embpatch: the first that exists")
    parser.add_argument("--wine-run", required=True)
    args = parser.parse_args()
    linux = next((p for p in args.linux if os.path.exists(p)), None)
    if linux is None:
        print("no Linux embpatch among %s: build linux-asan or linux first" % args.linux)
        return 77
    clients = {"Linux": ([linux], lambda path: path),
               "Windows": ([args.wine_run, args.windows], lambda path: "Z:" + path.replace("/", "\\"))}
    with tempfile.TemporaryDirectory(prefix="emb-cross-") as work:
        source = os.path.join(work, "source")
        for path, data in FILES.items():
            os.makedirs(os.path.dirname(os.path.join(source, path)), exist_ok=True)
            open(os.path.join(source, path), "wb").write(data)
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=os.path.join(work, "Windows"))
        handler.log_message = lambda *a: None
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        base = "http://127.0.0.1:%d" % server.server_address[1]
        for name, (program, path) in clients.items():
            print("%s publish: %s" % (name, run(program + [
                "publish", "--from", path(source), "--web-root", path(os.path.join(work, name)), "--crcpatch-url",
                base + "/patch", "--version", "1.0", "--run-path", "bin/Game Start.exe"], name + " publish")))
        if tree(os.path.join(work, "Linux")) != tree(os.path.join(work, "Windows")):
            sys.exit("the Linux and the Windows publisher wrote different files")
        for name, (program, path) in clients.items():  # both from what embpatch.exe published
            game = os.path.join(work, "game-" + name)
            print("%s client: %s" % (name, run(program + [
                "run", "--game-dir", path(game), "--config-url", base + "/new/emb.launcher.config.xml",
                "--lang", "en"], name + " run")))
            installed, expected = tree(game), tree(source)
            differing = sorted(k for k in set(installed) | set(expected) if installed.get(k) != expected.get(k))
            if differing:
                sys.exit("%s client: the game folder differs from the source: %s" % (name, differing[:3]))
        server.shutdown()
    print("ok: %d files, byte-identical in both game folders" % len(FILES))
    return 0


if __name__ == "__main__":
    sys.exit(main())
