#!/usr/bin/env python3
"""Serves site-firefox/ for make-firefox-cache.sh and writes what it sent.

usage: site-firefox-server.py SITE PORT MANIFEST
gz.html goes out gzip-encoded, br.html brotli-encoded (the stored cache
bodies are those encoded bytes); /old-page redirects to /index.html; a query
string is ignored when the file is looked up.
"""
import gzip
import http.server
import os
import subprocess
import sys
import urllib.parse

SITE, PORT, MANIFEST = sys.argv[1], int(sys.argv[2]), sys.argv[3]
TYPES = {
    ".html": "text/html",
    ".css": "text/css",
    ".png": "image/png",
    ".gif": "image/gif",
    ".js": "application/javascript",
}
CHARSET = {"index.html": "utf-8", "other.html": "utf-8", "search.html": "utf-8",
           "gz.html": "utf-8", "br.html": "utf-8"}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def note(self, status, ctype, encoding, name):
        host = self.headers.get("Host", "127.0.0.1:%d" % PORT)
        with open(MANIFEST, "a") as f:
            f.write("http://%s%s\t%d\t%s\t%s\t%s\n" % (host, self.path, status, ctype, encoding, name))

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/old-page":
            self.send_response(301)
            self.send_header("Location", "/index.html")
            self.send_header("Content-Length", "0")
            self.send_header("Cache-Control", "max-age=3600")
            self.end_headers()
            self.note(301, "", "", "")
            return
        name = path.lstrip("/") or "index.html"
        file = os.path.join(SITE, name)
        if ".." in name.split("/") or not os.path.isfile(file):
            body = b"not found\n"
            self.send_response(404)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            self.note(404, "text/plain", "", "")
            return
        with open(file, "rb") as f:
            body = f.read()
        ctype = TYPES.get(os.path.splitext(name)[1], "application/octet-stream")
        base = os.path.basename(name)
        if base in CHARSET:
            ctype += "; charset=" + CHARSET[base]
        encoding = ""
        if base == "gz.html":
            encoding = "gzip"
            body = gzip.compress(body, mtime=0)
        elif base == "br.html":
            encoding = "br"
            body = subprocess.run(["brotli", "-c"], input=body, capture_output=True,
                                  check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        if encoding:
            self.send_header("Content-Encoding", encoding)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "max-age=86400")
        self.send_header("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT")
        self.end_headers()
        self.wfile.write(body)
        self.note(200, ctype, encoding, name)


http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
