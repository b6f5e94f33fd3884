#!/usr/bin/env python3
"""Lets headless Chromium open a blockfile disk cache again and load pages.

usage: chromiumreopen.py SITE DISK_CACHE_DIR PAGE...

DISK_CACHE_DIR holds the cache in Default/Cache/Cache_Data, as Chromium's
--disk-cache-dir lays it out. The small site is served on 127.0.0.1:8765
(the port its cached URLs name) by data/browsers/site-chromium-server.py;
each PAGE ("index.html") is loaded in its own headless Chromium started on
the blockfile backend. Prints every URL the server was asked for, one a
line: what the browser could not take from its cache. Exit code 0 when the
pages were loaded, 77 when no Chromium is installed or the port is taken
(the reason on stderr), 2 on other trouble.
"""
import os
import pathlib
import shutil
import socket
import subprocess
import sys
import tempfile
import time

PORT = 8765


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    site, cache_dir, pages = sys.argv[1], sys.argv[2], sys.argv[3:]
    binary = shutil.which("chromium") or shutil.which("chromium-browser")
    if binary is None:
        print("no chromium installed", file=sys.stderr)
        return 77
    # Another test may hold the port for a while.
    for attempt in range(60):
        with socket.socket() as probe:
            try:
                probe.bind(("127.0.0.1", PORT))
                break
            except OSError as e:
                if attempt == 59:
                    print("port %d is taken: %s" % (PORT, e), file=sys.stderr)
                    return 77
        time.sleep(1)
    server_script = pathlib.Path(__file__).resolve().parent.parent / "data/browsers/site-chromium-server.py"
    with tempfile.TemporaryDirectory() as work:
        log = os.path.join(work, "requests.tsv")
        server = subprocess.Popen([sys.executable, str(server_script), site, str(PORT), log,
                                   "315360000"], stdout=subprocess.PIPE, text=True)
        try:
            if not server.stdout.readline().startswith("ready"):
                print("the site's server did not start", file=sys.stderr)
                return 2
            for page in pages:
                subprocess.run(
                    [binary, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                     "--enable-features=DiskCacheBackendExperiment:backend/blockfile",
                     "--user-data-dir=" + os.path.join(work, "profile"),
                     "--disk-cache-dir=" + cache_dir, "--virtual-time-budget=2000",
                     "--dump-dom", "http://127.0.0.1:%d/%s" % (PORT, page)],
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL, timeout=120, check=False)
        finally:
            server.terminate()
            server.wait()
        with open(log) as f:
            next(f, None)
            for line in f:
                print(line.split("\t", 1)[0])
    return 0


if __name__ == "__main__":
    sys.exit(main())
