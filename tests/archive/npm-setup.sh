#!/usr/bin/env bash
# Installs the independent readers the archive tests run into DIR, a folder
# of the build: warcio's command line (with its dependencies) and the static
# files of ReplayWeb.page (ui.js, sw.js, index.html), at fixed versions.
# Quick when they are there already; nothing is installed globally.
#   npm-setup.sh DIR
set -euo pipefail
dir=$1
warcio=2.4.11
replay=2.5.3
if ! command -v npm >/dev/null; then
    echo "npm-setup: npm is not installed (Node.js's npm installs the archive readers)" >&2
    exit 1
fi
mkdir -p "$dir"
if ! grep -qs "\"version\": \"$warcio\"" "$dir/node_modules/warcio/package.json"; then
    npm install --prefix "$dir" --no-package-lock --no-save --ignore-scripts --no-audit \
        --no-fund --loglevel=error "warcio@$warcio" >&2
fi
if [ "$(cat "$dir/replaywebpage/VERSION" 2>/dev/null)" != "$replay" ]; then
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    (cd "$tmp" && npm pack --silent "replaywebpage@$replay" >/dev/null)
    tar xzf "$tmp/replaywebpage-$replay.tgz" -C "$tmp" package/ui.js package/sw.js package/index.html
    rm -rf "$dir/replaywebpage"
    mkdir -p "$dir/replaywebpage"
    cp "$tmp/package/ui.js" "$tmp/package/sw.js" "$tmp/package/index.html" "$dir/replaywebpage/"
    echo "$replay" > "$dir/replaywebpage/VERSION"
fi
