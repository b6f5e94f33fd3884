#!/usr/bin/env python3
"""Opens a WACZ file in ReplayWeb.page, served from 127.0.0.1, in headless
Chromium, and checks that it replays.

usage: replaycheck.py REPLAY-DIR FILE.wacz PAGE-URL

REPLAY-DIR holds ReplayWeb.page's index.html, ui.js and sw.js. The page list
of the archive must show the title of every page its pages.jsonl names, and
PAGE-URL must render from the archive: its document loaded, every image of
the archived site decoded (width above 0), every stylesheet loaded with its
rules. Prints what it saw; exit code 0 when all of it held, 1 when not, 77
when no Chromium is installed, 2 on other trouble.
"""
import http.server
import json
import os
import pathlib
import shutil
import sys
import tempfile
import threading
import time
import urllib.parse
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "browser"))
from browsercheck import Browser  # noqa: E402


class Handler(http.server.SimpleHTTPRequestHandler):
    """Static files with byte ranges, as ReplayWeb.page reads a WACZ."""

    def log_message(self, *args):
        pass

    def send_head(self):
        path = self.translate_path(self.path)
        if os.path.isdir(path):
            path = os.path.join(path, "index.html")
        rng = self.headers.get("Range")
        if not rng or not os.path.isfile(path):
            return super().send_head()
        size = os.path.getsize(path)
        first, _, last = rng.replace("bytes=", "").partition("-")
        if first == "":
            start, end = max(0, size - int(last)), size - 1
        else:
            start, end = int(first), min(size - 1, int(last) if last else size - 1)
        f = open(path, "rb")
        f.seek(start)
        self.send_response(206)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        return _Slice(f, end - start + 1)

    def end_headers(self):
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Cache-Control", "no-store")
        super().end_headers()


class _Slice:
    def __init__(self, f, n):
        self.f, self.n = f, n

    def read(self, size=-1):
        if self.n <= 0:
            return b""
        data = self.f.read(self.n if size < 0 else min(size, self.n))
        self.n -= len(data)
        return data

    def close(self):
        self.f.close()


# Text of the whole document, shadow roots included (the app's page list is
# inside web components).
DEEP_TEXT = """(() => {
  const parts = [];
  const walk = (node) => {
    if (node.shadowRoot) walk(node.shadowRoot);
    for (const child of node.childNodes) {
      if (child.nodeType === 3) parts.push(child.textContent);
      else walk(child);
    }
  };
  walk(document);
  return parts.join(' ');
})()"""

# What the replayed page shows of its images and stylesheets.
PAGE_STATE = """(() => JSON.stringify({
  ready: document.readyState,
  title: document.title,
  images: [...document.images].map(i => ({src: i.currentSrc || i.src,
                                         ok: i.complete && i.naturalWidth > 0})),
  sheets: [...document.querySelectorAll('link[rel=stylesheet]')].map(l => {
    let rules = -1;
    try { rules = l.sheet ? l.sheet.cssRules.length : -1; } catch (e) {}
    return {href: l.href, rules: rules};
  }),
}))()"""


def evaluate(browser, session, expression, context=None):
    params = {"expression": expression, "returnByValue": True}
    if context is not None:
        params["contextId"] = context
    result = browser.call("Runtime.evaluate", params, session=session)
    return result.get("result", {}).get("value")


def frames(tree):
    yield tree["frame"]
    for child in tree.get("childFrames", []):
        yield from frames(child)


def wait_for(what, check, timeout=90):
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        ok, last = check()
        if ok:
            return True, last
        time.sleep(0.5)
    print("timed out waiting for " + what + "; last seen: " + str(last)[:2000])
    return False, last


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    binary = shutil.which("chromium") or shutil.which("chromium-browser")
    if binary is None:
        print("no chromium installed", file=sys.stderr)
        return 77
    replay_dir, wacz, page_url = pathlib.Path(argv[1]), pathlib.Path(argv[2]), argv[3]
    with zipfile.ZipFile(wacz) as z:
        pages = [json.loads(line) for line in
                 z.read("pages/pages.jsonl").decode("utf-8").splitlines()[1:]]
    titles = [p["title"] for p in pages if p.get("title")]
    with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as profile:
        for name in ("index.html", "ui.js", "sw.js"):
            shutil.copy(replay_dir / name, pathlib.Path(root) / name)
        shutil.copy(wacz, pathlib.Path(root) / "archive.wacz")
        server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), lambda *a: Handler(*a, directory=root))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        base = "http://127.0.0.1:%d" % server.server_address[1]
        source = urllib.parse.quote(base + "/archive.wacz", safe="")
        browser = Browser(binary, profile)
        good = True
        try:
            target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
            session = browser.call("Target.attachToTarget",
                                   {"targetId": target, "flatten": True})["sessionId"]
            browser.call("Page.enable", session=session)
            browser.call("Runtime.enable", session=session)

            # The page list, with the titles.
            browser.call("Page.navigate", {"url": base + "/?source=" + source + "#view=pages"},
                         session=session)

            def listed():
                text = evaluate(browser, session, DEEP_TEXT) or ""
                return all(t in text for t in titles), [t for t in titles if t not in text]
            ok, missing = wait_for("the page list's titles", listed)
            print("page list: %d titles, %s" % (len(titles), "all shown" if ok else
                                                  "missing %r" % missing))
            good = good and ok

            # The page itself, replayed from the archive in the app's frame.
            browser.call("Page.navigate", {"url": base + "/?source=" + source +
                                           "#view=replay&url=" +
                                           urllib.parse.quote(page_url, safe="")},
                         session=session)
            host = urllib.parse.urlsplit(page_url).netloc

            def replayed():
                tree = browser.call("Page.getFrameTree", session=session)["frameTree"]
                for frame in frames(tree):
                    if not frame["url"].endswith(page_url) or "mp_/" not in frame["url"]:
                        continue
                    world = browser.call("Page.createIsolatedWorld",
                                         {"frameId": frame["id"]}, session=session)
                    state = json.loads(evaluate(browser, session, PAGE_STATE,
                                                world["executionContextId"]) or "{}")
                    own = [i for i in state.get("images", []) if host in i["src"]]
                    done = (state.get("ready") == "complete" and own and
                            all(i["ok"] for i in own) and state.get("sheets") and
                            all(s["rules"] > 0 for s in state["sheets"]))
                    return done, state
                return False, "no replay frame of " + page_url
            ok, state = wait_for("the replayed page", replayed)
            print("replayed %s: %s" % (page_url, json.dumps(state, ensure_ascii=False)[:2000]))
            good = good and ok
        except RuntimeError as e:
            print("trouble: %s" % e)
            return 2
        finally:
            browser.close()
            server.shutdown()
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
