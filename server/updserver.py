#!/usr/bin/env python3
"""Local update server for the tests, the demo and the benchmark.

Serves the files under --root over HTTP (GET and HEAD) on 127.0.0.1 only.
Each answer has a Content-Length, a Last-Modified taken from the file's mtime
and an ETag; "Range: bytes=N-" is answered with 206 (416 past the end),
unless an If-Range names another version. One line per request goes to --log:

    METHOD PATH STATUS BODY_BYTES_SENT ARRIVAL [tls]

ARRIVAL numbers the requests in the order they came in; lines are written
when an answer is done, so they can stand out of that order. With --tls-cert
and --tls-key the same port also speaks TLS: a connection that opens with a
TLS handshake is served over TLS (its log line ends in "tls"), any other as
plain HTTP, so one port serves both http:// and https:// addresses.

Faults are set per path in ROOT/.faults.json, re-read on every request:

    {"/dir/file.bin": {
        "no_last_modified": true,          # omit Last-Modified
        "no_content_length": true,         # omit Content-Length (body ends at close)
        "status": 404, "body": "text",     # answer with this status and body
        "cut_after": 1000,                 # full Content-Length, then close after N bytes (of each answer)
        "cuts": 1,                         # only the first N answers are cut
        "replace_after_cut": "/dir/new",   # after a cut, the file becomes a copy of this one (a new version)
        "no_range": true,                  # Range ignored: always 200, no Accept-Ranges
        "range_off": 1,                    # a 206 for the part this many bytes away from the one asked
        "rate": 40960,                     # body paced at N bytes a second
        "slow": {"chunk": 8192, "delay": 0.05},   # body in chunks with pauses
        "last_modified": "Tue, 01 Jan 1974 00:00:00 GMT",  # or seconds since 1970
        "date_form": "rfc850",             # the file's date in HTTP's RFC 850 or asctime form
        "content_length": "-5",            # this Content-Length text instead of the size
        "chunked": 4096,                   # chunked body in chunks of N (cut_after cuts mid-chunk)
        "stall_after": 100,                # N body bytes, then nothing while the client waits
        "no_answer": true,                 # read the request and never answer
        "hold": 20,                        # how long stall_after and no_answer wait (seconds)
        "extra_mib": 64,                   # this many MiB of zeros after the file (beyond any Content-Length)
        "redirect": "/dir/other.bin",      # 302 to this path (relative)...
        "scheme": "http"                   # ...or as http:// or https:// on the same port
    }}

The server stops by itself after --max-seconds and when its parent exits.
"""

import argparse
import email.utils
import json
import os
import shutil
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOOPBACK = "127.0.0.1"
BLOCK = 1 << 20


class Handler(BaseHTTPRequestHandler):
    server_version = "updserver/1"
    protocol_version = "HTTP/1.0"

    def log_message(self, format, *args):  # quiet: our own log has one line per request
        pass

    def do_GET(self):
        self.arrive()
        self.serve(True)

    def do_HEAD(self):
        self.arrive()
        self.serve(False)

    def arrive(self):
        # Lines are written when a response is done, which can be after the
        # client's next request arrived; the arrival number keeps the order.
        with self.server.log_lock:
            self.server.arrivals += 1
            self.arrival = self.server.arrivals

    # -------------------------------------------------------------- helpers

    def faults_for(self, path):
        try:
            with open(os.path.join(self.server.root, ".faults.json"), "rb") as f:
                table = json.load(f)
        except (OSError, ValueError):
            return {}
        rule = table.get(path, {})
        return rule if isinstance(rule, dict) else {}

    def record(self, status, sent):
        log = self.server.log_path
        if not log:
            return
        line = "%s %s %d %d %d%s\n" % (self.command, self.path, status, sent, self.arrival,
                                       " tls" if isinstance(self.connection, ssl.SSLSocket) else "")
        with self.server.log_lock, open(log, "a") as f:
            f.write(line)

    def local_path(self, path):
        rel = urllib.parse.unquote(path).lstrip("/")
        full = os.path.realpath(os.path.join(self.server.root, rel))
        root = self.server.root
        if full != root and not full.startswith(root + os.sep):
            return None
        return full

    def send_error_body(self, status, body, with_body):
        data = body.encode("latin-1", "replace")
        self.send_response_only(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        sent = 0
        if with_body:
            self.wfile.write(data)
            sent = len(data)
        self.record(status, sent)

    # -------------------------------------------------------------- a request

    def hold(self, rule):
        """Sends nothing until the client goes away or the hold time is over."""
        sock = self.connection
        end = time.monotonic() + float(rule.get("hold", 20))
        sock.settimeout(0.2)
        while time.monotonic() < end:
            try:
                if not sock.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    def serve(self, with_body):
        path = urllib.parse.urlsplit(self.path).path
        rule = self.faults_for(path)
        if rule.get("no_answer"):
            self.hold(rule)
            self.record(0, 0)
            self.close_connection = True
            return
        if "redirect" in rule:
            self.send_response_only(302)
            scheme = rule.get("scheme")
            self.send_header("Location", "%s://127.0.0.1:%d%s" % (scheme, self.server.server_address[1], rule["redirect"])
                             if scheme else rule["redirect"])
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.record(302, 0)
            return
        if "status" in rule:
            body = str(rule.get("body", "<html><body>error %d</body></html>" % rule["status"]))
            self.send_error_body(int(rule["status"]), body, with_body)
            return
        full = self.local_path(path)
        if full is None or not os.path.isfile(full) or os.path.basename(full) == ".faults.json":
            self.send_error_body(404, "<html><body>not found</body></html>", with_body)
            return
        try:
            f = open(full, "rb")
        except OSError:
            self.send_error_body(403, "<html><body>forbidden</body></html>", with_body)
            return
        with f:
            st = os.fstat(f.fileno())
            size = st.st_size
            start = self.range_start(rule, st)
            if start is not None and start >= size:
                self.send_response_only(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.send_header("Connection", "close")
                self.end_headers()
                self.record(416, 0)
                return
            status = 206 if start is not None else 200
            self.send_response_only(status)
            self.send_header("Content-Type", "application/octet-stream")
            if start is not None:
                start = min(size - 1, max(0, start + int(rule.get("range_off", 0))))
                self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
            else:
                start = 0
            chunked = int(rule.get("chunked", 0))
            if chunked:
                self.send_header("Transfer-Encoding", "chunked")
            elif "content_length" in rule:
                self.send_header("Content-Length", str(rule["content_length"]))
            elif not rule.get("no_content_length"):
                self.send_header("Content-Length", str(size - start))
            if not rule.get("no_last_modified"):
                self.send_header("Last-Modified", self.last_modified(rule, st))
            if not rule.get("no_range"):
                self.send_header("Accept-Ranges", "bytes")
                self.send_header("ETag", self.etag(st))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.flush()
            self.body_sent = 0
            cut = False
            if with_body:
                f.seek(start)
                limit = size - start
                if "cut_after" in rule and self.count_cut(path, rule):
                    cut = int(rule["cut_after"]) < limit
                    limit = max(0, min(limit, int(rule["cut_after"])))
                if cut and "replace_after_cut" in rule:  # f still reads the version being cut
                    shutil.copy2(self.local_path(rule["replace_after_cut"]), full + ".new")
                    os.replace(full + ".new", full)
                try:
                    if chunked:
                        self.send_chunked(f, limit, chunked, cut)
                    elif "stall_after" in rule:
                        self.send_body(f, min(limit, int(rule["stall_after"])), None)
                        self.hold(rule)
                    else:
                        self.send_body(f, limit, rule.get("slow"), rule.get("rate"))
                    for _ in range(int(rule.get("extra_mib", 0))):
                        self.connection.sendall(bytes(BLOCK))
                        self.body_sent += BLOCK
                except OSError:
                    pass  # the client went away; the log tells how far it got
            self.record(status, self.body_sent)
        self.close_connection = True

    def etag(self, st):
        return '"%x-%x"' % (st.st_mtime_ns, st.st_size)

    def last_modified(self, rule, st):
        lm = rule.get("last_modified", st.st_mtime)
        if isinstance(lm, (int, float)):
            t = time.gmtime(lm)
            lm = {"rfc850": time.strftime("%A, %d-%b-%y %H:%M:%S GMT", t), "asctime": time.asctime(t)}.get(
                rule.get("date_form"), email.utils.formatdate(lm, usegmt=True))
        return str(lm)

    def range_start(self, rule, st):
        """N of "Range: bytes=N-" when it is to be honoured, else None."""
        asked = self.headers.get("Range", "")
        if rule.get("no_range") or not asked.startswith("bytes=") or not asked.endswith("-"):
            return None
        if not asked[6:-1].isdigit():
            return None
        validator = self.headers.get("If-Range")
        if validator is not None and validator not in (self.etag(st), self.last_modified(rule, st)):
            return None  # another version: the whole file
        return int(asked[6:-1])

    def count_cut(self, path, rule):
        """Whether this answer is one of the first "cuts" ones (all when not given) under this rule."""
        key = path + json.dumps(rule, sort_keys=True)
        with self.server.log_lock:
            done = self.server.cuts.get(key, 0)
            self.server.cuts[key] = done + 1
        return "cuts" not in rule or done < int(rule["cuts"])

    def send_chunked(self, f, limit, chunk, cut):
        """Chunks of the file; a cut body ends inside a chunk, without the last one."""
        sock = self.connection
        while self.body_sent < limit:
            data = f.read(chunk)
            if not data:
                break
            sock.sendall(b"%x\r\n" % len(data))
            part = data[:limit - self.body_sent]
            sock.sendall(part)
            self.body_sent += len(part)
            if len(part) < len(data):
                return
            sock.sendall(b"\r\n")
        if not cut:
            sock.sendall(b"0\r\n\r\n")

    def send_body(self, f, limit, slow, rate=None):
        sock = self.connection
        if rate:  # about 20 pieces a second, each sent when the pace allows it
            start, piece = time.monotonic(), max(1, int(rate) // 20)
            while self.body_sent < limit:
                data = f.read(min(piece, limit - self.body_sent))
                if not data:
                    break
                sock.sendall(data)
                self.body_sent += len(data)
                time.sleep(max(0.0, start + self.body_sent / float(rate) - time.monotonic()))
            return
        if slow:
            chunk = max(1, int(slow.get("chunk", 8192)))
            delay = float(slow.get("delay", 0.05))
            while self.body_sent < limit:
                data = f.read(min(chunk, limit - self.body_sent))
                if not data:
                    break
                sock.sendall(data)
                self.body_sent += len(data)
                time.sleep(delay)
            return
        if isinstance(sock, ssl.SSLSocket):  # no sendfile through TLS
            while self.body_sent < limit:
                data = f.read(min(BLOCK, limit - self.body_sent))
                if not data:
                    break
                sock.sendall(data)
                self.body_sent += len(data)
            return
        # sendfile keeps the server out of the way of both clients in the benchmark.
        base = f.tell()
        while self.body_sent < limit:
            n = os.sendfile(sock.fileno(), f.fileno(), base + self.body_sent, min(BLOCK * 8, limit - self.body_sent))
            if n == 0:
                break
            self.body_sent += n


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64
    allow_reuse_address = True
    tls = None  # an ssl.SSLContext when TLS is on

    def finish_request(self, request, client_address):
        wrapped = None
        if self.tls is not None:
            try:
                request.settimeout(30)
                first = request.recv(1, socket.MSG_PEEK)
                if first == b"\x16":  # a TLS handshake record
                    request = wrapped = self.tls.wrap_socket(request, server_side=True)
                request.settimeout(None)
            except (OSError, ssl.SSLError):
                return  # a client that refused the certificate, or went away
        try:
            super().finish_request(request, client_address)
        finally:
            if wrapped is not None:
                wrapped.close()


def watch(max_seconds, parent):
    start = time.monotonic()
    while True:
        time.sleep(0.5)
        if max_seconds and time.monotonic() - start > max_seconds:
            break
        if os.getppid() != parent:
            break
    os._exit(0)


def main():
    ap = argparse.ArgumentParser(description="Local update server (loopback only)")
    ap.add_argument("--root", required=True)
    ap.add_argument("--host", default=LOOPBACK)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file")
    ap.add_argument("--log")
    ap.add_argument("--max-seconds", type=float, default=3600)
    ap.add_argument("--tls-cert", help="certificate (PEM) for TLS connections on the same port")
    ap.add_argument("--tls-key", help="its private key (PEM)")
    args = ap.parse_args()
    if args.host not in (LOOPBACK, "localhost"):
        sys.exit("updserver: only 127.0.0.1 is served")
    httpd = Server((LOOPBACK, args.port), Handler)
    httpd.root = os.path.realpath(args.root)
    httpd.log_path = os.path.abspath(args.log) if args.log else None
    httpd.log_lock = threading.Lock()
    httpd.arrivals = 0
    httpd.cuts = {}  # path: answers cut so far
    if args.tls_cert:
        httpd.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        httpd.tls.load_cert_chain(args.tls_cert, args.tls_key)
    port = httpd.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)  # readers never see a half-written file
    threading.Thread(target=watch, args=(args.max_seconds, os.getppid()), daemon=True).start()
    try:
        httpd.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
