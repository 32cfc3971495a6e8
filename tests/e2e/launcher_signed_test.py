#!/usr/bin/env python3
"""launcher.exe built with the test signing key pinned, under Wine, against
the committed signed publication (tests/data/signing) on the loopback patch
server: the genuine release installs and the launcher gets ready; the same
release with one payload swapped for a same-size file of the same CRC-32
ends in the Update Error box for a signed hash mismatch, with the installed
file kept. Run under an X server (xvfb-run)."""
import hashlib
import os
import shutil
import sys
import zlib

import launcher_e2e_test as e2e
from patch_server import PatchServer, Publication
from screen import BRUSH, CLEAR, blend, rgb8, screenshot, wait_for

SIGNED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "signing", "www", "patch", "1.0")
FILES = ("data/Town Hall.pak", "emb.bin", "empty.dat")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def forge_crc(data, target):
    """|data| with four bytes appended that give the whole the CRC-32
    |target| (the last four table lookups decide a CRC, so they are chosen
    from the target backwards)."""
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    want, index = ~target & 0xFFFFFFFF, [0] * 4
    for k in range(3, -1, -1):
        index[k] = next(i for i in range(256) if table[i] >> 24 == want >> 24)
        want = ((want ^ table[index[k]]) << 8) & 0xFFFFFFFF
    reg, out = ~zlib.crc32(data) & 0xFFFFFFFF, bytearray(data)
    for i in index:
        out.append((reg ^ i) & 0xFF)
        reg = (reg >> 8) ^ table[i]
    return bytes(out)


class SignedPublication(Publication):
    """The committed publication byte for byte: the signature covers the
    crclist's bytes, so it is served as published, not rebuilt."""

    def __init__(self):
        super().__init__({})
        self.listed = read(os.path.join(SIGNED, "crclist"))
        self.signature = read(os.path.join(SIGNED, "crclist.sig"))
        self.payloads = {p: read(os.path.join(SIGNED, p + ".lz")) for p in FILES}

    def crclist(self):
        return self.listed

    def signed_hashes(self):
        lines = self.signature.decode().splitlines()
        return {l.split(" ", 3)[3]: l.split(" ")[1] for l in lines if l.startswith("file ")}


def start_signed(root):
    game = e2e.GameFolder(root)
    shutil.copy(os.path.join(e2e.ARGS.bin, "e2e_signed", "launcher.exe"), os.path.join(game.path, "launcher.exe"))
    with open(os.path.join(game.path, "emb.bin"), "wb") as f:
        f.write(b"old!!")  # the installed game's entry, older than the release
    return game, game.start()


def test_genuine_release_installs(c, root):
    pub = SignedPublication()
    with PatchServer(e2e.ARGS.port, pub) as server:
        game, proc = start_signed(root)
        try:
            win = e2e.wait_window()
            c.check("window shown", win is not None)
            if not win:
                return
            face = e2e.Face(win["x"], win["y"], win["w"], win["h"])
            l, t, _, _ = face.button("start")
            ready = blend(BRUSH["start_ready"], rgb8(CLEAR))
            img = wait_for(lambda: (lambda i: i if all(abs(a - e) <= 8 for a, e in zip(
                i.px(l + 4, t + 4), ready)) else None)(screenshot()), 60, 0.5)
            c.check("start button turns ready", img is not None, "box: %r" % e2e.box_text("Update Error"))
            if img is not None:
                e2e.save(img, face, "launcher_signed_ready")
            c.check("crclist.sig fetched", server.count("GET", "/crclist.sig") > 0)
            for path, sha in pub.signed_hashes().items():
                installed = os.path.join(game.path, *path.split("/"))
                got = hashlib.sha256(read(installed)).hexdigest() if os.path.exists(installed) else None
                c.check("installed as signed: " + path, got == sha, "got %s" % got)
            c.check("close button ends it", e2e.click_until(
                face.centre("close"), lambda: proc.poll() is not None, 3, 5.0) is not None)
        finally:
            e2e.stop(proc)


def test_changed_payload_fails(c, root):
    pub = SignedPublication()
    forged = forge_crc(b"X", 0x2B219D70)  # emb.bin's CRC-32, and its 5 bytes
    entry = pub.payloads["emb.bin"]
    at = entry.index(b"entry")  # its stored (literal) bytes in the payload
    pub.payloads["emb.bin"] = entry[:at] + forged + entry[at + len(forged):]
    c.check("forgery keeps size and CRC-32", len(pub.payloads["emb.bin"]) == len(entry) and
            zlib.crc32(forged) == 0x2B219D70)
    with PatchServer(e2e.ARGS.port, pub):
        game, proc = start_signed(root)
        try:
            text = wait_for(lambda: e2e.box_text("Update Error"), 90, 0.5)
            c.check("signed hash mismatch shown",
                    text is not None and "does not match the signed update" in text, repr(text))
            win = e2e.launcher_window()
            if win:
                e2e.save(screenshot(), e2e.Face(win["x"], win["y"], win["w"], win["h"]),
                         "launcher_signed_mismatch")
            c.check("installed entry unchanged", read(os.path.join(game.path, "emb.bin")) == b"old!!")
        finally:
            e2e.stop(proc)


TESTS = [test_genuine_release_installs, test_changed_payload_fails]


if __name__ == "__main__":
    sys.exit(e2e.run_scenarios(TESTS))
