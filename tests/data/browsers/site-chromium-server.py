#!/usr/bin/env python3
"""Serves site-chromium/ on 127.0.0.1 and writes one line per answer.

usage: site-chromium-server.py SITE PORT LOG [MAX_AGE]
PORT 0 takes a free port. MAX_AGE (seconds, default 86400) is the pages'
Cache-Control max-age.
The log starts with the column names (url, status, content_type,
content_encoding, site_file) and gets a line for every request answered, so it
is both what the cache should hold and a record of what a browser asked for.
zipped.html goes out gzip-encoded, brotli.html brotli-encoded (from
brotli.html.br); old.html redirects to /index.html; a query string is ignored
when the file is looked up. The server prints "ready PORT" once it listens.
"""
import gzip
import http.server
import os
import sys

SITE, LOG = sys.argv[1], sys.argv[3]
MAX_AGE = int(sys.argv[4]) if len(sys.argv) > 4 else 86400
server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[2])), None)
PORT = server.server_address[1]
TYPES = {".html": "text/html", ".css": "text/css", ".png": "image/png"}

with open(LOG, "w") as f:
    f.write("url\tstatus\tcontent_type\tcontent_encoding\tsite_file\n")


def note(url, status, ctype, encoding, name):
    with open(LOG, "a") as f:
        f.write("%s\t%d\t%s\t%s\t%s\n" % (url, status, ctype, encoding, name))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        url = "http://127.0.0.1:%d%s" % (PORT, self.path)
        path = self.path.split("?", 1)[0].lstrip("/") or "index.html"
        if path == "old.html":
            body = b'<a href="/index.html">moved</a>'
            self.send_response(301)
            self.send_header("Location", "/index.html")
            self.send_header("Content-Type", "text/html")
            self.send_header("Cache-Control", "max-age=3600")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            note(url, 301, "text/html", "", "")
            return
        file = os.path.join(SITE, path)
        if ".." in path or not os.path.isfile(file):
            self.send_error(404)
            note(url, 404, "text/html;charset=utf-8", "", "")
            return
        data = open(file, "rb").read()
        ctype = TYPES.get(os.path.splitext(path)[1], "application/octet-stream")
        if path == "index.html":
            ctype += "; charset=utf-8"
        encoding = ""
        if path == "zipped.html":
            data, encoding = gzip.compress(data, mtime=0), "gzip"
        elif path == "brotli.html":
            data, encoding = open(file + ".br", "rb").read(), "br"
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        self.send_header("Cache-Control", "public, max-age=%d" % MAX_AGE)
        self.send_header("Last-Modified", "Mon, 07 Dec 2026 00:00:00 GMT")
        if encoding:
            self.send_header("Content-Encoding", encoding)
            self.send_header("Vary", "Accept-Encoding")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        note(url, 200, ctype, encoding, path)


server.RequestHandlerClass = Handler
print("ready %d" % PORT, flush=True)
server.serve_forever()
