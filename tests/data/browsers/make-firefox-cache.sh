#!/bin/sh
# Makes tests/data/browsers/firefox/: the disk cache (cache2) that Debian's
# firefox-esr writes while it loads a small site served on 127.0.0.1 from
# site-firefox/. Run once by hand; the result is kept in the repository.
#   needs: firefox-esr, python3, gzip, brotli (apt-get install firefox-esr brotli)
# The manifest (firefox/manifest.tsv) lists what the server sent:
#   URL <TAB> status <TAB> Content-Type <TAB> Content-Encoding <TAB> site file
set -eu
here=$(cd "$(dirname "$0")" && pwd)
site=$here/site-firefox
out=$here/firefox
port=${PORT:-8765}
work=$(mktemp -d)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT

python3 "$here/site-firefox-server.py" "$site" "$port" "$work/manifest.tsv" &
server=$!
sleep 1

profile=$work/profile
mkdir -p "$profile" "$work/disk"
cat > "$profile/user.js" <<PREFS
user_pref("browser.cache.disk.enable", true);
user_pref("browser.cache.disk.parent_directory", "$work/disk");
user_pref("browser.cache.disk.smart_size.enabled", false);
user_pref("browser.cache.disk.capacity", 262144);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
user_pref("network.prefetch-next", false);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.http.speculative-parallel-limit", 0);
PREFS

# One page load per run: the 127.0.0.1 pages frame the rest, and the
# localhost page loads some of the same files under another partition.
for url in \
    "http://127.0.0.1:$port/index.html" \
    "http://127.0.0.1:$port/sjis.html" \
    "http://127.0.0.1:$port/search.html?q=%E3%83%86%E3%82%B9%E3%83%88" \
    "http://127.0.0.1:$port/old-page" \
    "http://localhost:$port/other.html"; do
    timeout 120 firefox-esr --headless --no-remote --profile "$profile" \
        --window-size 800,600 --screenshot "$work/shot.png" "$url" \
        >"$work/firefox.log" 2>&1 || true
done

rm -rf "$out"
mkdir -p "$out"
cp -r "$work/disk/cache2" "$out/cache2"
rm -rf "$out/cache2/doomed" "$out/cache2"/ce_* 2>/dev/null || true
sort -u "$work/manifest.tsv" > "$out/manifest.tsv"
echo "made $out: $(ls "$out/cache2/entries" | wc -l) entry files"
