#!/usr/bin/env bash
# Makes tests/data/browsers/chromium/: a real Chromium disk cache of the small
# site in site-chromium/, served on 127.0.0.1 by the server below (pages in UTF-8 and
# Shift-JIS, an image, a style sheet, a gzip- and a br-encoded page, a
# redirect, a page with a query string), and chromium-manifest.tsv: what the
# server answered for each URL. Run once by hand (needs Debian's chromium,
# python3 and brotli); the tests read the kept result.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
site=$here/site-chromium
out=$here/chromium
manifest=$here/chromium-manifest.tsv
port=${PORT:-8765}
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT

[ -f "$site/brotli.html.br" ] || brotli -k -q 9 "$site/brotli.html" -o "$site/brotli.html.br"

cat >"$work/server.py" <<'EOF'
import gzip, http.server, os, sys
site, manifest, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
types = {'.html': 'text/html', '.css': 'text/css', '.png': 'image/png'}
log = open(manifest, 'w')
log.write('url\tstatus\tcontent_type\tcontent_encoding\tsite_file\n')

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
            log.write('%s\t301\ttext/html\t\t\n' % url); log.flush()
            return
        file = os.path.join(site, path)
        if '..' in path or not os.path.isfile(file):
            self.send_error(404)
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
        self.send_header('Cache-Control', 'public, max-age=86400')
        self.send_header('Last-Modified', 'Mon, 07 Dec 2026 00:00:00 GMT')
        if encoding:
            self.send_header('Content-Encoding', encoding)
            self.send_header('Vary', 'Accept-Encoding')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        log.write('%s\t200\t%s\t%s\t%s\n' % (url, ctype, encoding, path)); log.flush()
    def log_message(self, *args):
        pass

http.server.ThreadingHTTPServer(('127.0.0.1', port), Handler).serve_forever()
EOF
python3 "$work/server.py" "$site" "$work/manifest.tsv" "$port" &
server=$!
sleep 1

for page in index.html sjis.html zipped.html brotli.html 'search.html?q=tarnhold' old.html; do
  chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/profile" --disk-cache-dir="$work/cache" \
    --virtual-time-budget=2000 --dump-dom "http://127.0.0.1:$port/$page" >/dev/null 2>&1 || true
done
kill "$server"
wait "$server" 2>/dev/null || true

# One line per URL, the last answer (a page loaded twice answers twice).
{ head -1 "$work/manifest.tsv"; tail -n +2 "$work/manifest.tsv" | tac | awk -F'\t' '!seen[$1]++' | sort; } >"$manifest"
rm -rf "$out"
mkdir -p "$out"
cp -a "$work/cache/Default/Cache/Cache_Data/." "$out/"
echo "wrote $out ($(ls "$out" | wc -l) files) and $manifest"
