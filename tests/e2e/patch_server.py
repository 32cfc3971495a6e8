"""A patch server on loopback for the launcher under Wine: its configuration
document, a publication's CRC list and bare-LZ payloads, throttled if asked."""
import http.server
import struct
import threading
import time
import urllib.parse
import zlib

BASE = "/patch/1.0.0.1/"  # where the configuration points the launcher


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
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_HEAD(self):
                self.do_GET(head=True)

            def do_GET(self, head=False):
                path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
                server.requests.append((self.command, path))
                body = server.routes.get(path)
                self.send_response(404 if body is None else 200)
                body = body or b""
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                throttled = path.endswith(".lz") and server.throttle
                step = max(1, server.throttle // 20) if throttled else max(1, len(body))
                try:
                    for i in range(0, 0 if head else len(body), step):
                        self.wfile.write(body[i:i + step])
                        time.sleep(0.05 if throttled else 0)
                except (BrokenPipeError, ConnectionResetError):
                    pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.httpd.daemon_threads = True
        # Clients that hang up (the https attempt, a closed launcher) are expected.
        self.httpd.handle_error = lambda request, client_address: None

    def count(self, command, path_suffix):
        return sum(1 for c, p in list(self.requests) if c == command and p.endswith(path_suffix))

    def __enter__(self):
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()
