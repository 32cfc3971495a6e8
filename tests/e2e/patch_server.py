"""The tests' HTTP/1.1 server on loopback: keep-alive, GET and HEAD, faults.
PatchServer publishes files to the launcher under Wine; as a program (--control
DIR, started by tests/support/loopback_http_server.cpp) it answers as DIR's
scripts say, logs the requests to DIR/log and ends when DIR/stop appears."""
import contextlib
import os
import socket
import struct
import sys
import threading
import time
import urllib.parse
import zlib

BASE = "/patch/1.0.0.1/"  # where the configuration points the launcher
# A fault: "stall" (wait |delay|, close unanswered), "close" (|after| body
# bytes, wait |delay|, FIN), "reset" (|after| bytes, RST), "trickle" (|after|
# bytes at a time, |delay| apart). |cl|, and |head_cl| for HEAD, are announced
# instead of the body's size; without |length| the close ends the body.
REPLY = dict(status=200, body=b"", headers=(), length=True, cl=None, head_cl=None, fault="",
             after=0, delay=0.0)


class Server:
    """Serves 127.0.0.1:|port| (0: a free one) until stop(); |pick(method,
    target, headers, connection number, GETs in flight)| gives the reply."""

    def __init__(self, port, pick):
        self.pick, self.stopping, self.lock, self.gets, self.open = \
            pick, threading.Event(), threading.Lock(), 0, []
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
            self.open.append((conn, threading.Thread(target=self.connection,
                                                     args=(conn, len(self.open) + 1))))
            self.open[-1][1].start()

    def stop(self):  # a shut down socket ends the blocking calls on it
        self.stopping.set()
        self.listener.close()
        for conn, thread in self.open:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            thread.join(10)

    def connection(self, conn, number):
        buffer, keep = b"", True
        with conn, contextlib.suppress(OSError):
            while keep and not self.stopping.is_set():
                end = buffer.find(b"\r\n\r\n")
                # A TLS handshake (record type 0x16) never becomes a request:
                # close at once, as an http-only server does.
                if end < 0 and buffer.startswith(b"\x16"):
                    return
                if end < 0:
                    chunk = conn.recv(65536)
                    keep, buffer = bool(chunk), buffer + chunk
                    continue
                lines, buffer = buffer[:end].decode("latin-1").split("\r\n"), buffer[end + 4:]
                first, last = lines[0].find(" "), lines[0].rfind(" ")
                headers = [(n, v.lstrip(" \t")) for n, c, v in
                           (line.partition(":") for line in lines[1:]) if c]
                method = lines[0][:first]
                with self.lock:
                    self.gets += method == "GET"
                    in_flight = self.gets if method == "GET" else 0
                try:
                    keep = self.respond(conn, method, self.pick(
                        method, lines[0][first + 1:last], headers, number, in_flight), headers)
                finally:
                    with self.lock:
                        self.gets -= method == "GET"

    def respond(self, conn, method, r, headers):  # False: close the connection
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
        if body is None:
            return dict(REPLY, status=404)
        throttled = path.endswith(".lz") and self.throttle
        return dict(REPLY, body=body, fault="trickle" if throttled else "",
                    after=max(1, (self.throttle or 0) // 20), delay=0.05)

    def count(self, command, path_suffix):
        return sum(1 for c, p in list(self.requests) if c == command and p.endswith(path_suffix))

    def __enter__(self):
        threading.Thread(target=self.server.serve, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.server.stop()


def main():
    """A script is DIR/s-<hex of the request target>: its number, then one
    reply a line: the fields of REPLY in order, tab-separated, the body by file
    name, lengths after a "=", then header names and values. The n-th request
    of a method gets the n-th reply, the last one repeats."""
    os.chdir(sys.argv[sys.argv.index("--control") + 1])
    used, log, held, start = {}, open("log", "ab", buffering=0), [], time.monotonic()

    def write(name, text):  # whole: the reader never sees a part
        with open(name + ".new", "w") as f:
            f.write(text)
        os.replace(name + ".new", name)

    def pick(method, target, headers, connection, in_flight):
        fields = [str(connection), str(in_flight), method, target] + [x for h in headers for x in h]
        log.write(("\t".join(fields) + "\t\n").encode("latin-1"))  # each field ends
        # A query string must match too, unless only the bare path is scripted.
        for name in ("s-" + t.encode("latin-1").hex() for t in (target, target.split("?")[0])):
            try:
                with open(name, "rb") as f:
                    script = f.read().decode("latin-1").splitlines()
            except OSError:
                continue
            used[script[0], method] = n = used.get((script[0], method), -1) + 1
            f = script[min(n + 1, len(script) - 1)].split("\t")
            with open(f[1], "rb") as body:
                return dict(status=int(f[0]), body=body.read(), length=f[2] == "1",
                            cl=f[3][1:] if f[3] else None, head_cl=f[4][1:] if f[4] else None,
                            fault=f[5], after=int(f[6]), delay=int(f[7]) / 1000,
                            headers=list(zip(f[8::2], f[9::2])))
        return dict(REPLY, status=404)

    def done():  # a test that died writes no stop file: 15 minutes bound every server
        if not held and os.path.exists("jam"):
            # A listener whose queue is full: the kernel drops further SYNs.
            held.append(socket.create_server(("127.0.0.1", 0), backlog=0))
            for _ in range(1000):
                held.append(socket.socket())
                held[-1].settimeout(0.2)
                try:
                    held[-1].connect(held[0].getsockname())
                except OSError:
                    break
            write("jammed", str(held[0].getsockname()[1]))
        return os.path.exists("stop") or time.monotonic() > start + 900

    server = Server(0, pick)
    write("port", str(server.port))
    server.serve(done)
    server.stop()
    write("ended", "")


if __name__ == "__main__":
    main()
