#!/usr/bin/env bash
# Makes tests/data/browsers/chromium-sql/: a real Chromium disk cache written
# by the SQL backend (the shards sqldb0..N, SQLite databases) from the small
# site in site-chromium/, served on 127.0.0.1 by site-chromium-server.py, and
# chromium-sql/manifest.tsv: what the server answered for each URL. Run once by
# hand (needs Debian's chromium and python3); the tests read the kept result.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
site=$here/site-chromium
out=$here/chromium-sql
port=${PORT:-8766}
work=$(mktemp -d)
server=
trap '[ -z "$server" ] || kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT

python3 "$here/site-chromium-server.py" "$site" "$port" "$work/log.tsv" >"$work/ready" &
server=$!
for _ in $(seq 50); do grep -q ready "$work/ready" 2>/dev/null && break; sleep 0.1; done

for page in index.html sjis.html zipped.html brotli.html 'search.html?q=tarnhold' old.html; do
  chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
    --enable-features=DiskCacheBackendExperiment:backend/sql \
    --user-data-dir="$work/profile" --disk-cache-dir="$work/cache" \
    --virtual-time-budget=2000 --dump-dom "http://127.0.0.1:$port/$page" >/dev/null 2>&1 || true
done
kill "$server"
wait "$server" 2>/dev/null || true
server=

data=$work/cache/Default/Cache/Cache_Data
[ -f "$data/sqldb0" ] || { echo "chromium wrote no SQL cache in $data" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out/Cache_Data"
cp -a "$data/." "$out/Cache_Data/"
# One line per URL, the last answer (a page loaded twice answers twice).
{ head -1 "$work/log.tsv"; tail -n +2 "$work/log.tsv" | tac | awk -F'\t' '!seen[$1]++' | sort; } \
  >"$out/manifest.tsv"
echo "wrote $out ($(ls "$out/Cache_Data" | wc -l) files)"
