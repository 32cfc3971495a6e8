"""The tests' HTTP/1.1 server on loopback: keep-alive, GET and HEAD, faults.

As a module, PatchServer publishes files to the launcher under Wine. As a
program (--control DIR, started by tests/support/loopback_http_server.cpp) it
answers as DIR's scripts say, logs the requests to DIR/log and ends when
DIR/stop appears. Every wait is bounded: a misbehaving client hangs nothing."""
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
        self.pick, self.stopping, self.lock = pick, threading.Event(), threading.Lock()
        self.gets, self.threads = 0, []
        self.listener = socket.create_server(("127.0.0.1", port), backlog=64)
        self.listener.settimeout(0.02)  # how often the loops look at the stop flag
        self.port = self.listener.getsockname()[1]

    def serve(self, done=lambda: False):
        while not self.stopping.is_set() and not done():
            try:
                conn = self.listener.accept()[0]
            except OSError:
                continue
            # Small writes (a trickled body) must leave at once, not wait for an ACK.
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            conn.settimeout(0.02)
            self.threads.append(threading.Thread(target=self.connection,
                                                 args=(conn, len(self.threads) + 1)))
            self.threads[-1].start()

    def stop(self):
        self.stopping.set()
        self.listener.close()
        for thread in self.threads:
            thread.join(10)

    def send(self, conn, data):  # False once stopping or the peer went away
        data = memoryview(data)
        while data and not self.stopping.is_set():
            try:
                data = data[conn.send(data):]
            except socket.timeout:
                continue
            except OSError:
                return False
        return not data

    def connection(self, conn, number):
        buffer, keep = b"", True
        with conn:
            while keep and not self.stopping.is_set():
                end = buffer.find(b"\r\n\r\n")
                if end >= 0:
                    lines, buffer = buffer[:end].decode("latin-1").split("\r\n"), buffer[end + 4:]
                    first, last = lines[0].find(" "), lines[0].rfind(" ")
                    headers = [(n, v.lstrip(" \t")) for n, c, v in
                               (line.partition(":") for line in lines[1:]) if c]
                    keep = self.respond(conn, lines[0][:first], lines[0][first + 1:last],
                                        headers, number)
                # A TLS handshake (record type 0x16) never becomes a request:
                # close at once, as an http-only server does.
                elif buffer.startswith(b"\x16"):
                    return
                else:
                    try:
                        chunk = conn.recv(65536)
                    except socket.timeout:
                        continue
                    except OSError:
                        return
                    keep, buffer = bool(chunk), buffer + chunk

    def respond(self, conn, method, target, headers, number):  # False: close the connection
        get, head = method == "GET", method == "HEAD"
        with self.lock:
            self.gets += get
            in_flight = self.gets if get else 0
        try:
            r = self.pick(method, target, headers, number, in_flight)
            if r["fault"] == "stall":
                self.stopping.wait(r["delay"])
                return False
            # A 204 carries no body and, by the protocol, no Content-Length.
            has_length = r["length"] and r["status"] != 204
            close = next((v for n, v in headers if n.lower() == "connection"), "").lower()
            keep = has_length and not r["fault"] and close != "close"
            # Clients read only the code, so one reason phrase does for every status.
            out = "HTTP/1.1 %d Scripted\r\n" % r["status"]
            if has_length:
                length = r["head_cl"] if head and r["head_cl"] is not None else r["cl"]
                out += "Content-Length: %s\r\n" % (len(r["body"]) if length is None else length)
            out += "".join("%s: %s\r\n" % h for h in r["headers"])
            out += "\r\n" if keep else "Connection: close\r\n\r\n"
            body = b"" if head or r["status"] == 204 else r["body"]
            body = body[:r["after"]] if r["fault"] in ("close", "reset") else body
            step = max(r["after"], 1) if r["fault"] == "trickle" else max(len(body), 1)
            sent = self.send(conn, out.encode("latin-1"))
            for at in range(0, len(body), step):
                sent = sent and (at == 0 or not self.stopping.wait(r["delay"])) and \
                    self.send(conn, body[at:at + step])
            if r["fault"] == "close":
                self.stopping.wait(r["delay"])
            # The pause lets the bytes reach the client before the reset overtakes them.
            if r["fault"] == "reset" and not self.stopping.wait(0.1):
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return sent and keep
        finally:
            with self.lock:
                self.gets -= get


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
    folder = sys.argv[sys.argv.index("--control") + 1]
    used, log, held, start = {}, open(os.path.join(folder, "log"), "ab", buffering=0), [], \
        time.monotonic()

    def path(name):
        return os.path.join(folder, name)

    def write(name, text):  # whole: the reader never sees a part
        with open(path(name + ".new"), "w") as f:
            f.write(text)
        os.replace(path(name + ".new"), path(name))

    def pick(method, target, headers, connection, in_flight):
        fields = [str(connection), str(in_flight), method, target] + [x for h in headers for x in h]
        log.write(("\t".join(fields) + "\n").encode("latin-1"))
        # A query string must match too, unless only the bare path is scripted.
        for name in ("s-" + t.encode("latin-1").hex() for t in (target, target.split("?")[0])):
            try:
                with open(path(name), "rb") as f:
                    script = f.read().decode("latin-1").splitlines()
            except OSError:
                continue
            used[script[0], method] = n = used.get((script[0], method), -1) + 1
            f = script[min(n + 1, len(script) - 1)].split("\t")
            with open(path(f[1]), "rb") as body:
                return dict(status=int(f[0]), body=body.read(), length=f[2] == "1",
                            cl=f[3][1:] if f[3] else None, head_cl=f[4][1:] if f[4] else None,
                            fault=f[5], after=int(f[6]), delay=int(f[7]) / 1000,
                            headers=list(zip(f[8::2], f[9::2])))
        return dict(REPLY, status=404)

    def done():  # a test that died writes no stop file: 15 minutes bound every server
        if not held and os.path.exists(path("jam")):
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
        return os.path.exists(path("stop")) or time.monotonic() > start + 900

    server = Server(0, pick)
    write("port", str(server.port))
    server.serve(done)
    server.stop()
    write("ended", "")


if __name__ == "__main__":
    main()
