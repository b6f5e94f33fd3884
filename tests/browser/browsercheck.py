#!/usr/bin/env python3
"""Opens copied pages in headless Chromium and lists the file:// loads that fail.

usage: browsercheck.py ROOT [PAGE...]

Every page (default: every .html file below ROOT) is loaded from file:// in
one headless Chromium, driven over the DevTools protocol on a pipe
(--remote-debugging-pipe: commands on fd 3, answers on fd 4, each message a
JSON text ended by a NUL byte). A request that fails (Network.loadingFailed)
or is answered with an error status is printed as "PAGE<TAB>URL<TAB>ERROR".
Exit code 0 when nothing failed, 1 when something did, 77 when no Chromium
is installed, 2 on other trouble.
"""
import json
import os
import pathlib
import select
import shutil
import subprocess
import sys
import tempfile
import time


class Browser:
    def __init__(self, binary, profile):
        to_child_r, self.to_child = os.pipe()
        self.from_child, from_child_w = os.pipe()

        def setup():
            # Out of the way first: either end may itself be 3 or 4.
            read_end, write_end = os.dup(to_child_r), os.dup(from_child_w)
            os.dup2(read_end, 3)
            os.dup2(write_end, 4)

        self.proc = subprocess.Popen(
            [binary, "--headless=new", "--no-sandbox", "--disable-gpu",
             "--no-first-run", "--no-default-browser-check", "--disable-extensions",
             "--allow-file-access-from-files", "--user-data-dir=" + profile,
             "--remote-debugging-pipe", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=setup, pass_fds=(3, 4))
        os.close(to_child_r)
        os.close(from_child_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_child, json.dumps(message).encode() + b"\0")
        return self.next_id

    def read(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.from_child], [], [], left)
            if not ready:
                return None
            chunk = os.read(self.from_child, 1 << 20)
            if not chunk:
                raise RuntimeError("chromium closed the pipe")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, params=None, session=None, timeout=30):
        wanted = self.send(method, params, session)
        deadline = time.monotonic() + timeout
        while True:
            message = self.read(deadline)
            if message is None:
                raise RuntimeError("no answer to " + method)
            if message.get("id") == wanted:
                if "error" in message:
                    raise RuntimeError(method + ": " + json.dumps(message["error"]))
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def close(self):
        try:
            self.send("Browser.close")
        except OSError:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def check_page(browser, page, settle=1.5, timeout=30):
    """The failed loads of one page: (url, error) pairs."""
    target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = browser.call("Target.attachToTarget",
                           {"targetId": target, "flatten": True})["sessionId"]
    browser.events.clear()
    browser.call("Network.enable", session=session)
    browser.call("Page.enable", session=session)
    browser.call("Page.navigate", {"url": page.as_uri()}, session=session)
    # Wait for the load event, then a little longer for late loads (CSS
    # images, lazily loaded images).
    deadline = time.monotonic() + timeout
    loaded_at = None
    while True:
        now = time.monotonic()
        if loaded_at is not None and now > loaded_at + settle:
            break
        if now > deadline:
            break
        if not any(e.get("method") == "Page.loadEventFired" for e in browser.events):
            message = browser.read(min(deadline, now + 0.5))
        else:
            loaded_at = loaded_at or now
            message = browser.read(min(deadline, loaded_at + settle))
        if message is not None and "method" in message:
            browser.events.append(message)
    urls = {}
    failed = []
    for event in browser.events:
        if event.get("sessionId") != session:
            continue
        params = event.get("params", {})
        if event["method"] == "Network.requestWillBeSent":
            urls[params["requestId"]] = params["request"]["url"]
        elif event["method"] == "Network.loadingFailed":
            if params.get("canceled"):
                continue  # given up by the page (a media element), not missing
            failed.append((urls.get(params["requestId"], "?"), params.get("errorText", "")))
        elif event["method"] == "Network.responseReceived":
            status = params["response"].get("status", 200)
            if status >= 400:
                failed.append((params["response"]["url"], "status %d" % status))
    browser.call("Target.closeTarget", {"targetId": target})
    return failed, sorted(set(urls.values()))


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    binary = shutil.which("chromium") or shutil.which("chromium-browser")
    if binary is None:
        print("no chromium installed", file=sys.stderr)
        return 77
    root = pathlib.Path(argv[1]).resolve()
    pages = [root / p for p in argv[2:]] or sorted(root.rglob("*.html"))
    bad = 0
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(binary, profile)
        try:
            for page in pages:
                failed, requested = check_page(browser, page)
                for url, error in failed:
                    print("%s\t%s\t%s" % (page.relative_to(root), url, error))
                    bad += 1
                print("checked %s: %d requests, %d failed" % (page.relative_to(root),
                                                             len(requested), len(failed)),
                      file=sys.stderr)
        finally:
            browser.close()
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
