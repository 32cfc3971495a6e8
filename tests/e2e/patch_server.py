"""The tests' HTTP/1.1 server on loopback: PatchServer publishes files to the
launcher; main() serves tests/support/loopback_http_server.h's scripts."""
import contextlib
import os
import re
import socket
import struct
import sys
import threading
import time
import urllib.parse
import zlib

BASE = "/patch/1.0.0.1/"  # where the configuration points the launcher
# A reply; its fields are those of Response in tests/support/loopback_http_server.h.
REPLY = dict(status=200, body=b"", headers=(), length=True, cl=None, head_cl=None, fault="",
             after=0, delay=0.0, ranges=False)


class Server:
    """Serves 127.0.0.1:|port| (0: a free one) until stop(); |pick(method, target,
    headers, connection number, GETs being answered)| gives the reply."""

    def __init__(self, port, pick):
        self.pick, self.stopping, self.gets, self.accepted = pick, threading.Event(), [], 0
        self.listener = socket.create_server(("127.0.0.1", port), backlog=64)
        self.listener.settimeout(0.02)  # how often the accept loop looks at |done|
        self.port = self.listener.getsockname()[1]

    def serve(self, done=lambda: False):
        while not self.stopping.is_set() and not done():
            try:
                conn = self.listener.accept()[0]
            except OSError:
                continue
            # Small writes (a trickled body) must leave at once, not wait for an ACK.
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            self.accepted += 1
            threading.Thread(target=self.connection, args=(conn, self.accepted), daemon=True).start()

    def stop(self, serving=None):  # connections end with the process
        self.stopping.set()
        # The accept loop's wait holds the listener open past close(): the port
        # is free for the next server only once that loop has ended.
        if serving is not None:
            serving.join(10)
        self.listener.close()

    def connection(self, conn, number):
        keep = True
        with conn, conn.makefile("rb") as f, contextlib.suppress(OSError):
            # A TLS handshake (record type 0x16) never becomes a request:
            # close at once, as an http-only server does.
            while keep and f.peek(1)[:1] not in (b"", b"\x16"):
                lines = []
                while (line := f.readline()) not in (b"\r\n", b""):
                    lines.append(line.decode("latin-1").rstrip("\r\n"))
                first, last = lines[0].find(" "), lines[0].rfind(" ")
                method, target = lines[0][:first], lines[0][first + 1:last]
                headers = [(n, v.lstrip(" \t")) for n, c, v in
                           (line.partition(":") for line in lines[1:]) if c]
                gets = self.gets if method == "GET" else []  # of the connections
                gets.append(number)
                try:
                    keep = line and self.respond(conn, method, headers, self.pick(
                        method, target, headers, number, len(self.gets)))
                finally:
                    gets.remove(number)

    @staticmethod
    def ranged(method, headers, r):
        """|r| answering a GET's "Range: bytes=first-[last]" as nginx does."""
        asked = next((v for n, v in headers if n.lower() == "range"), "")
        m = re.fullmatch(r"bytes=(\d+)-(\d*)", asked)
        if not (r["ranges"] and method == "GET" and m and r["status"] == 200):
            return r
        body, first = r["body"], int(m[1])
        last = min(int(m[2]) if m[2] else len(body) - 1, len(body) - 1)
        if first > last:
            return dict(r, status=416, body=b"", fault="",
                        headers=[*r["headers"], ("Content-Range", "bytes */%d" % len(body))])
        return dict(r, status=206, body=body[first:last + 1],
                    headers=[*r["headers"], ("Content-Range", "bytes %d-%d/%d" % (first, last, len(body)))])

    def respond(self, conn, method, headers, r):  # False: close the connection
        r = self.ranged(method, headers, r)
        if r["fault"] == "stall":
            self.stopping.wait(r["delay"])
            return False
        # A 204 carries no body and, by the protocol, no Content-Length.
        has_length, head = r["length"] and r["status"] != 204, method == "HEAD"
        close = next((v for n, v in headers if n.lower() == "connection"), "").lower()
        keep = has_length and not r["fault"] and close != "close"
        # Clients read only the code, so one reason phrase does for every status.
        out = "HTTP/1.1 %d Scripted\r\n" % r["status"]
        if has_length:
            length = r["head_cl"] if head and r["head_cl"] is not None else r["cl"]
            out += "Content-Length: %s\r\n" % (len(r["body"]) if length is None else length)
        out += "".join("%s: %s\r\n" % h for h in r["headers"])
        conn.sendall((out + ("\r\n" if keep else "Connection: close\r\n\r\n")).encode("latin-1"))
        body = b"" if head or r["status"] == 204 else r["body"]
        body = body[:r["after"]] if r["fault"] in ("close", "reset") else body
        step = max(r["after"], 1) if r["fault"] == "trickle" else max(len(body), 1)
        for at in range(0, len(body), step):
            if at and self.stopping.wait(r["delay"]):
                return False
            conn.sendall(body[at:at + step])
        if r["fault"] == "close":
            self.stopping.wait(r["delay"])
        # The pause lets the bytes reach the client before the reset overtakes them.
        if r["fault"] == "reset" and not self.stopping.wait(0.1):
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        return keep


def bare_payload(data):
    """|data|'s size, then an LZO1X stream holding |data| as literal runs only."""
    n, out = len(data), bytearray(struct.pack("<I", len(data)))
    if 0 < n <= 238:
        out.append(17 + n)  # a first byte above 17: that many literals minus 17
    elif n > 238:
        zeros = (n - 19) // 255  # opcode 0: 18 literals, 255 more per zero byte, then the last
        out += b"\x00" + bytes(zeros) + bytes([n - 18 - 255 * zeros])
    return bytes(out + data + b"\x11\x00\x00")  # end of stream


class PatchServer:
    """Publishes |files| (relative path with "/" -> bytes); |routes| (URL path
    -> body) may be changed while it runs."""

    def __init__(self, port, files, throttle=None):
        self.throttle, self.requests = throttle, []  # throttle: payload bytes per second
        self.routes = {BASE + p + ".lz": bare_payload(d) for p, d in files.items()}
        self.routes[BASE + "crclist"] = "".join(
            "%08x %d %d 0 %s\n" % (zlib.crc32(d), len(d), len(self.routes[BASE + p + ".lz"]), p)
            for p, d in files.items()).encode()
        self.routes["/new/emb.launcher.config.xml"] = (
            '<?xml version="1.0" encoding="utf-8"?>\n<torrent_config>\n  <foreground_patch '
            'crcpatch_url="http://127.0.0.1:%d/patch/" crcversion="%s"/>\n</torrent_config>\n'
            % (port, BASE.split("/")[2])).encode()
        self.server = Server(port, self.pick)

    def pick(self, method, target, *_):
        path = urllib.parse.unquote(urllib.parse.urlsplit(target).path)
        self.requests.append((method, path))
        body = self.routes.get(path)
        throttled = path.endswith(".lz") and self.throttle and body is not None
        return dict(REPLY, status=200 if body is not None else 404, body=body or b"",
                    fault="trickle" if throttled else "", after=(self.throttle or 20) // 20,
                    delay=0.05)

    def count(self, command, path_suffix):
        return sum(1 for c, p in list(self.requests) if c == command and p.endswith(path_suffix))

    def __enter__(self):
        self.serving = threading.Thread(target=self.server.serve, daemon=True)
        self.serving.start()
        return self

    def __exit__(self, *exc):
        self.server.stop(self.serving)


def main():
    """DIR/scripts holds one reply a line: the request target, the script's
    number, then REPLY's fields in order (the body in hex, a length after a
    "="), header names and values; tab-separated. The n-th request of a method
    gets a target's n-th reply, the last one repeats."""
    os.chdir(sys.argv[sys.argv.index("--control") + 1])
    used, log, held, start = {}, open("log", "ab", buffering=0), [], time.monotonic()
    parsed = [(b"", [])]  # the scripts file as last read, and its lines split

    def write(name, text):  # whole: the reader never sees a part
        with open(name + ".new", "w") as f:
            f.write(text)
        os.replace(name + ".new", name)

    def pick(method, target, headers, connection, in_flight):
        fields = [str(connection), str(in_flight), method, target] + [x for h in headers for x in h]
        log.write(("\t".join(fields) + "\t\n").encode("latin-1"))  # each field ends
        with open("scripts", "rb") as f:
            raw = f.read()
        cached = parsed[0]  # one read of the cell: threads replace it whole
        if cached[0] != raw:
            lines = raw.decode("latin-1").splitlines()
            cached = parsed[0] = (raw, [line.split("\t") for line in lines])
        script = cached[1]
        # A query string must match too, unless only the bare path is scripted.
        for replies in ([f for f in script if f[0] == t] for t in (target, target.split("?")[0])):
            if replies:
                used[replies[0][1], method] = n = used.get((replies[0][1], method), -1) + 1
                f = replies[min(n, len(replies) - 1)]
                return dict(status=int(f[2]), body=bytes.fromhex(f[3]), length=f[4] == "1",
                            cl=f[5][1:] if f[5] else None, head_cl=f[6][1:] if f[6] else None,
                            fault=f[7], after=int(f[8]), delay=int(f[9]) / 1000,
                            ranges=f[10] == "1", headers=list(zip(f[11::2], f[12::2])))
        return dict(REPLY, status=404)

    def done():  # a test that died writes no stop file: 15 minutes bound every server
        if not held and os.path.exists("jam"):
            # A listener whose queue is full: the kernel drops further SYNs.
            held.append(socket.create_server(("127.0.0.1", 0), backlog=0))
            for _ in range(1000):
                held.append(socket.socket())
                held[-1].settimeout(0.2)
                if held[-1].connect_ex(held[0].getsockname()) != 0:
                    break
            write("jammed", str(held[0].getsockname()[1]))
        return os.path.exists("stop") or time.monotonic() > start + 900

    server = Server(0, pick)
    write("scripts", "")
    write("port", str(server.port))
    server.serve(done)
    server.stop()
    write("ended", "")


if __name__ == "__main__":
    main()
