#!/usr/bin/env python3
"""A local HTTP server for the tests: serves a folder and a few misbehaving paths.

  /bytes/N          N bytes of a repeating pattern, with Content-Length
  /echo             the request's header lines as the body
  /status/N         status N with a short body
  /truncate/N       announces N bytes, sends half, closes
  /unsized/N        N bytes without a Content-Length, ended by closing the connection
  /chunked/N        N bytes in chunks of 1000 (Transfer-Encoding: chunked)
  /trickle/N        announces N bytes and sends one every 0.1 s
  /stall            headers and 10 bytes, then stalls until the client goes
  /never            accepts, reads the request, never answers
  /redirect?to=P    302 to P
  CONNECT host:port a forward proxy's tunnel to host:port
  GET http://H/P    as a forward proxy is asked: answered as GET /P, whatever the host H (so a test can serve pages
                    of another site)
  anything else     a file of the served folder (GET only; one byte range when asked for); a file F.cut stands for F cut in the middle:
                    twice its length is announced, its bytes are sent, and the connection closes; a file F.stall
                    makes F stall like /stall; a file F.redirect
                    holding an address answers F with a redirect there; a file F.unsized is F sent without its
                    length
Prints "port N" once listening on 127.0.0.1.
"""
import http.server
import os
import select
import socket
import socketserver
import sys
import time
import urllib.parse

ROOT = sys.argv[1] if len(sys.argv) > 1 else "."


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=ROOT, **kwargs)

    def log_message(self, *args):
        pass

    def send_body(self, status, body, length=None):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.send_header("Last-Modified", "Tue, 08 Dec 2026 10:00:00 GMT")
        self.end_headers()
        self.wfile.write(body)

    def send_unsized(self, body, n):
        self.send_response(200)
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body[:n])
        self.wfile.flush()
        self.close_connection = True

    def do_stall(self):
        self.send_response(200)
        self.send_header("Content-Length", "1000000")
        self.end_headers()
        self.wfile.write(b"0123456789")
        self.wfile.flush()
        time.sleep(120)

    def do_GET(self):
        if self.path.startswith("http://"):
            self.path = urllib.parse.urlparse(self.path)._replace(scheme="", netloc="").geturl() or "/"
        url = urllib.parse.urlparse(self.path)
        parts = url.path.strip("/").split("/")
        if parts[0] == "bytes":
            n = int(parts[1])
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            block = bytes(range(256)) * 256
            while n > 0:
                chunk = block[: min(n, len(block))]
                self.wfile.write(chunk)
                n -= len(chunk)
        elif parts[0] == "echo":
            self.send_body(200, str(self.headers).encode())
        elif parts[0] == "status":
            self.send_body(int(parts[1]), b"<html>error page</html>")
        elif parts[0] == "truncate":
            n = int(parts[1])
            self.send_body(200, b"t" * (n // 2), length=n)
            self.wfile.flush()
            self.close_connection = True
        elif parts[0] == "unsized":
            self.send_unsized(bytes(range(256)) * (int(parts[1]) // 256 + 1), int(parts[1]))
        elif parts[0] == "chunked":
            n = int(parts[1])
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            while n > 0:
                k = min(n, 1000)
                self.wfile.write(b"%x\r\n" % k + b"c" * k + b"\r\n")
                n -= k
            self.wfile.write(b"0\r\n\r\n")
        elif parts[0] == "trickle":
            n = int(parts[1])
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            for _ in range(n):
                self.wfile.write(b"t")
                self.wfile.flush()
                time.sleep(0.1)
        elif parts[0] == "stall":
            self.do_stall()
        elif parts[0] == "never":
            time.sleep(120)
        elif parts[0] == "redirect":
            target = urllib.parse.parse_qs(url.query)["to"][0]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
        else:
            stall = os.path.join(ROOT, url.path.lstrip("/")) + ".stall"
            if os.path.isfile(stall):
                self.do_stall()
                return
            moved = os.path.join(ROOT, url.path.lstrip("/")) + ".redirect"
            if os.path.isfile(moved):
                with open(moved) as f:
                    target = f.read().strip()
                self.send_response(302)
                self.send_header("Location", target)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            unsized = os.path.join(ROOT, url.path.lstrip("/")) + ".unsized"
            if os.path.isfile(unsized):
                with open(unsized, "rb") as f:
                    body = f.read()
                self.send_unsized(body, len(body))
                return
            cut = os.path.join(ROOT, url.path.lstrip("/")) + ".cut"
            if os.path.isfile(cut):
                with open(cut, "rb") as f:
                    body = f.read()
                self.send_body(200, body, length=2 * len(body))
                self.close_connection = True
                return
            ranged = self.headers.get("Range", "")
            path = self.translate_path(url.path)
            if ranged.startswith("bytes=") and os.path.isfile(path):
                self.send_range(path, ranged[len("bytes="):])
                return
            super().do_GET()

    def send_range(self, path, spec):
        """One byte range "A-B" or "A-" of a file, as media players ask for to seek."""
        size = os.path.getsize(path)
        first, _, last = spec.partition("-")
        try:
            start = int(first)
            end = min(int(last), size - 1) if last else size - 1
        except ValueError:
            start, end = size, 0
        if start >= size or start > end:
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(206)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        with open(path, "rb") as f:
            f.seek(start)
            left = end - start + 1
            while left > 0:
                block = f.read(min(left, 65536))
                if not block:
                    break
                self.wfile.write(block)
                left -= len(block)


    def do_CONNECT(self):
        """A forward proxy's tunnel: answers 200 and relays bytes both ways until one side closes."""
        host, _, port = self.path.rpartition(":")
        try:
            upstream = socket.create_connection((host, int(port)), timeout=10)
        except OSError:
            self.send_body(502, b"bad gateway")
            return
        self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
        self.wfile.flush()
        sockets = [self.connection, upstream]
        while True:
            ready, _, _ = select.select(sockets, [], [], 10)
            if not ready:
                break
            for s in ready:
                data = s.recv(65536)
                if not data:
                    upstream.close()
                    self.close_connection = True
                    return
                (upstream if s is self.connection else self.connection).sendall(data)
        upstream.close()
        self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    server = Server(("127.0.0.1", int(os.environ.get("PORT", "0"))), Handler)
    print("port %d" % server.server_address[1], flush=True)
    server.serve_forever()
