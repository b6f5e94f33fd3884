#!/bin/sh
# Makes the bookmark files the import tests read, written by the browsers
# themselves: chromium/Bookmarks by Debian's chromium (headless, through the
# bookmark API of the small extension in bookmark-extension/) and
# firefox/places.sqlite by Debian's firefox-esr (headless, importing
# bookmarks.html at its first start). Both hold the same bookmarks. Run once
# by hand; the results are kept in the repository.
#   needs: chromium, firefox-esr, sqlite3
# Firefox leaves its latest changes in places.sqlite-wal and the file padded
# to its growth step: the copy kept here has the log taken in and is vacuumed
# with sqlite3 into 4 KiB pages (rows and schema as Firefox wrote them), to
# stay small.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Chromium writes Bookmarks a few seconds after a change; the extension makes
# its bookmarks when it is installed.
timeout -s TERM 30 chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/chromium" \
    --load-extension="$here/bookmark-extension" \
    --disable-extensions-except="$here/bookmark-extension" about:blank \
    >"$work/chromium.log" 2>&1 || true
mkdir -p "$here/chromium"
cp "$work/chromium/Default/Bookmarks" "$here/chromium/Bookmarks"

mkdir -p "$work/firefox"
cat > "$work/firefox/user.js" <<PREFS
user_pref("browser.places.importBookmarksHTML", true);
user_pref("browser.bookmarks.file", "$here/bookmarks.html");
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
PREFS
timeout -s TERM 35 firefox-esr --headless --no-remote --profile "$work/firefox" about:blank \
    >"$work/firefox.log" 2>&1 || true
mkdir -p "$here/firefox"
rm -f "$here/firefox/places.sqlite"
sqlite3 "$work/firefox/places.sqlite" "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode=DELETE;" >/dev/null
sqlite3 "$work/firefox/places.sqlite" "PRAGMA page_size=4096; VACUUM;"
cp "$work/firefox/places.sqlite" "$here/firefox/places.sqlite"
echo "made $here/chromium/Bookmarks and $here/firefox/places.sqlite"
