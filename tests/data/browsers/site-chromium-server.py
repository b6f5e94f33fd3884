#!/usr/bin/env python3
"""Serves site-chromium/ for make-chromium-cache.sh and for the tests that let
Chromium open a cache again, and writes one line per answer.

usage: site-chromium-server.py SITE LOG PORT [MAX_AGE]
LOG gets "url<TAB>status<TAB>content_type<TAB>content_encoding<TAB>site_file"
for every answer, after a line of column names. zipped.html goes out
gzip-encoded, brotli.html brotli-encoded (brotli.html.br); /old.html redirects
to /index.html; a query string is ignored when the file is looked up.
MAX_AGE (seconds, default 86400) is the Cache-Control max-age of the pages.
"""
import gzip
import http.server
import os
import sys

site, manifest, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
max_age = int(sys.argv[4]) if len(sys.argv) > 4 else 86400
types = {'.html': 'text/html', '.css': 'text/css', '.png': 'image/png'}
log = open(manifest, 'w')
log.write('url\tstatus\tcontent_type\tcontent_encoding\tsite_file\n')
log.flush()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def do_GET(self):
        url = 'http://127.0.0.1:%d%s' % (port, self.path)
        path = self.path.split('?', 1)[0].lstrip('/') or 'index.html'
        if path == 'old.html':
            body = b'<a href="/index.html">moved</a>'
            self.send_response(301)
            self.send_header('Location', '/index.html')
            self.send_header('Content-Type', 'text/html')
            self.send_header('Cache-Control', 'max-age=3600')
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            log.write('%s\t301\ttext/html\t\t\n' % url)
            log.flush()
            return
        file = os.path.join(site, path)
        if '..' in path or not os.path.isfile(file):
            self.send_error(404)
            log.write('%s\t404\t\t\t\n' % url)
            log.flush()
            return
        data = open(file, 'rb').read()
        ctype = types.get(os.path.splitext(path)[1], 'application/octet-stream')
        if path == 'index.html':
            ctype += '; charset=utf-8'
        encoding = ''
        if path == 'zipped.html':
            data, encoding = gzip.compress(data, mtime=0), 'gzip'
        elif path == 'brotli.html':
            data, encoding = open(file + '.br', 'rb').read(), 'br'
        self.send_response(200)
        self.send_header('Content-Type', ctype)
        self.send_header('Cache-Control', 'public, max-age=%d' % max_age)
        self.send_header('Last-Modified', 'Mon, 07 Dec 2026 00:00:00 GMT')
        if encoding:
            self.send_header('Content-Encoding', encoding)
            self.send_header('Vary', 'Accept-Encoding')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        log.write('%s\t200\t%s\t%s\t%s\n' % (url, ctype, encoding, path))
        log.flush()

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(('127.0.0.1', port), Handler).serve_forever()
