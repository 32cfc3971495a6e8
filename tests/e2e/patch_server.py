"""A patch server on loopback for the end-to-end tests: the configuration
document, the CRC list (and its signature, if any) and bare-LZ payloads of
a small publication, with a throttle for payloads and a switch that makes
the configuration fail."""
import http.server
import struct
import threading
import time
import urllib.parse
import zlib

VERSION = "1.0.0.1"


def lzo_literal_stream(data):
    """A valid LZO1X stream holding |data| as literal runs only."""
    n = len(data)
    out = bytearray()
    if n == 0:
        pass
    elif n <= 238:
        out.append(17 + n)  # a first byte above 17: that many literals minus 17
    elif n >= 19:
        rest = n - 18  # opcode 0: 18 + extension literals
        zeros, last = divmod(rest, 255)
        if last == 0:
            zeros, last = zeros - 1, 255
        out.append(0)
        out += bytes(zeros)
        out.append(last)
    out += data
    out += b"\x11\x00\x00"  # end of stream
    return bytes(out)


def bare_payload(data):
    return struct.pack("<I", len(data)) + lzo_literal_stream(data)


class Publication:
    def __init__(self, files, run_path=None):
        self.files = dict(files)  # relative path (with "/") -> bytes
        self.run_path = run_path
        self.payloads = {p: bare_payload(d) for p, d in self.files.items()}
        self.signature = None  # crclist.sig, served beside the crclist when set

    def config(self, port):
        run = ' run_path="%s"' % self.run_path if self.run_path else ""
        return ('<?xml version="1.0" encoding="utf-8"?>\n<torrent_config%s>\n'
                '  <foreground_patch crcpatch_url="http://127.0.0.1:%d/patch/" crcversion="%s"/>\n'
                '</torrent_config>\n' % (run, port, VERSION)).encode()

    def crclist(self):
        lines = ["# end-to-end publication"]
        for path, data in self.files.items():
            lines.append("%08x %d %d 0 %s" % (zlib.crc32(data) & 0xFFFFFFFF, len(data),
                                              len(self.payloads[path]), path))
        return ("\n".join(lines) + "\n").encode()


class PatchServer:
    def __init__(self, port, publication, throttle=None):
        self.port = port
        self.publication = publication
        self.throttle = throttle  # payload bytes per second, or None
        self.fail_config = False
        self.requests = []
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_HEAD(self):
                self.respond(head=True)

            def do_GET(self):
                self.respond(head=False)

            def respond(self, head):
                path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
                with server.lock:
                    server.requests.append((self.command, path, time.monotonic()))
                body, slow = server.lookup(path)
                if body is None:
                    self.send_response(404)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Content-Type", "application/octet-stream")
                self.end_headers()
                if head:
                    return
                try:
                    if slow and server.throttle:
                        chunk = max(1, server.throttle // 20)
                        for i in range(0, len(body), chunk):
                            self.wfile.write(body[i:i + chunk])
                            time.sleep(0.05)
                    else:
                        self.wfile.write(body)
                except (BrokenPipeError, ConnectionResetError):
                    pass

        class Server(http.server.ThreadingHTTPServer):
            def handle_error(self, request, client_address):
                pass  # clients that hang up (the https attempt, a cancelled run) are expected

        self.httpd = Server(("127.0.0.1", port), Handler)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def lookup(self, path):
        base = "/patch/%s/" % VERSION
        if path == "/new/emb.launcher.config.xml":
            return (None if self.fail_config else self.publication.config(self.port)), False
        if path == base + "crclist":
            return self.publication.crclist(), False
        if path == base + "crclist.sig":
            return self.publication.signature, False
        if path.startswith(base) and path.endswith(".lz"):
            rel = path[len(base):-3]
            payload = self.publication.payloads.get(rel)
            return payload, True
        return None, False

    def count(self, command, path_suffix):
        with self.lock:
            return sum(1 for c, p, _ in self.requests if c == command and p.endswith(path_suffix))

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()
        return False
