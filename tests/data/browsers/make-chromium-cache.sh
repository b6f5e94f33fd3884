#!/usr/bin/env bash
# Makes a real Chromium disk cache of the small site in site-chromium/, served
# on 127.0.0.1 by site-chromium-server.py (pages in UTF-8 and Shift-JIS, an
# image, a style sheet, a gzip- and a br-encoded page, a redirect, a page with
# a query string), and a manifest: what the server answered for each URL. Run
# once by hand (needs Debian's chromium, python3 and brotli); the tests read
# the kept result.
#
#   make-chromium-cache.sh [simple]   chromium/ and chromium-manifest.tsv: the
#                                     Simple cache (Linux's default)
#   make-chromium-cache.sh blockfile  chromium-blockfile/ and
#                                     chromium-blockfile-manifest.tsv: the
#                                     blockfile cache (Windows' default), with
#                                     bodies in each block size and an external
#                                     file, keys spread over several blocks
#                                     and one kept apart; pages fresh for ten
#                                     years, so that a browser opening the
#                                     cache later takes them from it
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
site=$here/site-chromium
backend=${1:-simple}
port=${PORT:-8765}
pages=(index.html sjis.html zipped.html brotli.html 'search.html?q=tarnhold' old.html)
case $backend in
simple)
  out=$here/chromium
  manifest=$here/chromium-manifest.tsv
  features=()
  max_age=86400
  ;;
blockfile)
  out=$here/chromium-blockfile
  manifest=$here/chromium-blockfile-manifest.tsv
  features=(--enable-features=DiskCacheBackendExperiment:backend/blockfile)
  max_age=315360000
  long=$(printf 'tarnhold%.0s' $(seq 1 25))   # a key of two blocks
  longer=$(printf 'blockfile%.0s' $(seq 1 110)) # a key in blocks of its own
  pages+=(notes.html long.html big.html "search.html?q=$long" "search.html?q=$longer")
  ;;
*)
  echo "usage: $0 [simple|blockfile]" >&2
  exit 2
  ;;
esac
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT

[ -f "$site/brotli.html.br" ] || brotli -k -q 9 "$site/brotli.html" -o "$site/brotli.html.br"

python3 "$here/site-chromium-server.py" "$site" "$port" "$work/manifest.tsv" "$max_age" >"$work/ready" &
server=$!
for _ in $(seq 50); do grep -q ready "$work/ready" 2>/dev/null && break; sleep 0.1; done

for page in "${pages[@]}"; do
  chromium --headless=new --no-sandbox --disable-gpu --no-first-run "${features[@]}" \
    --user-data-dir="$work/profile" --disk-cache-dir="$work/cache" \
    --virtual-time-budget=2000 --dump-dom "http://127.0.0.1:$port/$page" >/dev/null 2>&1 || true
done
kill "$server"
wait "$server" 2>/dev/null || true

# One line per URL, the last answer (a page loaded twice answers twice). The
# Simple cache's manifest leaves out the answers "not found" (the favicon the
# browser asks for).
keep404=$([ "$backend" = simple ] && echo 0 || echo 1)
{ head -1 "$work/manifest.tsv"; tail -n +2 "$work/manifest.tsv" | awk -F'\t' -v keep="$keep404" 'keep || $2 != 404' | tac | awk -F'\t' '!seen[$1]++' | sort; } >"$manifest"
rm -rf "$out"
mkdir -p "$out"
cp -a "$work/cache/Default/Cache/Cache_Data/." "$out/"
echo "wrote $out ($(ls "$out" | wc -l) files) and $manifest"
