#!/usr/bin/env python3
"""HTTP server for the download tests: serves the files below a directory and
misbehaves on request, in the ways a broken or hostile mirror does.

It listens on 127.0.0.1 on a free port and prints "PORT <n>" as its first line.

Faults are chosen per request, either in the query string or as leading path
segments of the form key=value (so that a mirror address can carry them:
http://127.0.0.1:<n>/status=404/1234/data/file.bin serves 1234/data/file.bin
with status 404):

  status=404|500|302|401  answer with that status; 302 points at the file
                          itself without the fault, 401 asks for Basic auth
  reset=N                 announce the whole file, send N bytes, reset the
                          connection (TCP RST)
  stall=N                 announce the whole file, send N bytes, then send
                          nothing until the client goes away
  corrupt=1               the file with every byte inverted, same length
  endless=1               no Content-Length, an endless body
  extra=N                 announce the file's length, send N bytes more
  nolength=1              the file without Content-Length, ended by closing

Bookkeeping, not counted as requests:
  /__stats   JSON: requests (count), paths (list), open (connections open
             now), maxActive (most requests in progress at once)
  /__reset   zero the counters
"""

import argparse
import http.server
import json
import os
import select
import socket
import struct
import sys
import threading
import urllib.parse


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.clear()
        self.open = 0

    def clear(self):
        self.requests = 0
        self.paths = []
        self.active = getattr(self, "active", 0)
        self.max_active = self.active


STATS = Stats()
ROOT = "."


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body leave in separate writes; with Nagle's algorithm the
    # body would wait for the client's delayed acknowledgement, 40 ms a file.
    disable_nagle_algorithm = True
    server_version = "faultserver"

    def setup(self):
        super().setup()
        with STATS.lock:
            STATS.open += 1

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass
        finally:
            with STATS.lock:
                STATS.open -= 1

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        parsed = urllib.parse.urlsplit(self.path)
        if parsed.path == "/__stats":
            with STATS.lock:
                body = json.dumps({
                    "requests": STATS.requests,
                    "paths": STATS.paths,
                    "open": STATS.open - 1,  # not this connection
                    "maxActive": STATS.max_active,
                }).encode()
            self.send_simple(200, body, "application/json")
            return
        if parsed.path == "/__reset":
            with STATS.lock:
                STATS.clear()
            self.send_simple(200, b"ok\n")
            return

        with STATS.lock:
            STATS.requests += 1
            STATS.paths.append(parsed.path)
            STATS.active += 1
            STATS.max_active = max(STATS.max_active, STATS.active)
        try:
            self.serve(parsed)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
        finally:
            with STATS.lock:
                STATS.active -= 1

    def send_simple(self, status, body, content_type="text/plain", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def serve(self, parsed):
        options = dict(urllib.parse.parse_qsl(parsed.query))
        segments = [s for s in urllib.parse.unquote(parsed.path).split("/") if s]
        while segments and "=" in segments[0]:
            key, value = segments.pop(0).split("=", 1)
            options.setdefault(key, value)
        if any(s == ".." for s in segments):
            self.send_simple(403, b"forbidden\n")
            return
        relative = "/".join(segments)

        status = int(options.get("status", "200"))
        if status == 302:
            self.send_simple(302, b"moved\n", headers=[("Location", "/" + relative)])
            return
        if status == 401:
            self.send_simple(401, b"locked\n", headers=[("WWW-Authenticate", 'Basic realm="mirror"')])
            return
        if status != 200:
            self.send_simple(status, b"failure\n")
            return

        path = os.path.join(ROOT, relative)
        if not os.path.isfile(path):
            self.send_simple(404, b"not found\n")
            return
        with open(path, "rb") as f:
            body = f.read()

        if "endless" in options:
            self.send_headers_only(None)
            chunk = (body or b"x") * max(1, 65536 // max(1, len(body)))
            while True:
                self.wfile.write(chunk)
        if "nolength" in options:
            self.send_headers_only(None)
            self.wfile.write(body)
            return
        if "reset" in options:
            self.send_headers_only(len(body))
            self.wfile.write(body[:int(options["reset"])])
            self.wfile.flush()
            # Linger 0: close() sends RST instead of an orderly FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
            return
        if "stall" in options:
            self.send_headers_only(len(body))
            self.wfile.write(body[:int(options["stall"])])
            self.wfile.flush()
            self.wait_for_client_to_leave()
            self.close_connection = True
            return
        if "corrupt" in options:
            body = bytes(b ^ 0xFF for b in body)
        self.send_headers_only(len(body))
        self.wfile.write(body)
        if "extra" in options:
            self.wfile.write(b"X" * int(options["extra"]))

    def send_headers_only(self, length):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if length is None:
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        self.wfile.flush()

    def wait_for_client_to_leave(self):
        while True:
            readable, _, _ = select.select([self.connection], [], [], 0.2)
            if readable:
                try:
                    if not self.connection.recv(4096):
                        return
                except OSError:
                    return


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # Clients that go away in the middle of a fault are the normal case.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


def main():
    global ROOT
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".")
    args = parser.parse_args()
    ROOT = os.path.abspath(args.root)
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
