#!/usr/bin/env python3
"""Reads a WARC (.warc.gz) or WACZ (.wacz) file and checks it, independently of
the program that wrote it.

usage: warccheck.py FILE [--extract DIR]

WARC: every record is its own gzip member; each has WARC/1.1, a record ID
that no other record has, a date, a Content-Length that is the block's exact
length, a block followed by CR LF CR LF, and a WARC-Block-Digest that is the
SHA-1 (base32) of the block. A response's WARC-Payload-Digest is the SHA-1 of
the body after its HTTP head; its head has no Transfer-Encoding and a
Content-Length (when it has one) equal to the body's length. A revisit
refers to an earlier response of the same URI with the same payload digest,
and its block is an HTTP head alone. The first record is the warcinfo.

WACZ: a ZIP whose entries are all stored (not compressed), holding the WARC
(checked as above), a CDXJ index whose lines are sorted, whose keys are the
SURT form of their URLs, and whose every offset and length point at exactly
one gzip member holding the record of that URL, date and digest (every
response and revisit is indexed once), pages.jsonl (every page's URL in the
index), and datapackage.json, whose every resource has the SHA-256 and size
of its file, with datapackage-digest.json holding the SHA-256 of
datapackage.json.

Prints one JSON object per line for each record and page read (for the
tests to compare), the problems found on standard error, and exits 1 when
there was one, 0 otherwise. --extract DIR also writes a WACZ's files there.
"""
import base64
import hashlib
import io
import json
import re
import sys
import zipfile
import zlib

problems = []


def problem(text):
    problems.append(text)


def sha1_b32(data):
    return "sha1:" + base64.b32encode(hashlib.sha1(data).digest()).decode()


def members(data):
    """Yields (offset, length, bytes) of each gzip member."""
    offset = 0
    while offset < len(data):
        d = zlib.decompressobj(16 + zlib.MAX_WBITS)
        try:
            out = d.decompress(data[offset:])
            out += d.flush()
        except zlib.error as e:
            problem("gzip member at %d: %s" % (offset, e))
            return
        if not d.eof:
            problem("gzip member at %d: cut short" % offset)
            return
        length = len(data) - offset - len(d.unused_data)
        yield offset, length, out
        offset += length


def parse_record(raw, where):
    """The fields (name -> value, names lower case) and block of one record."""
    end = raw.find(b"\r\n\r\n")
    if not raw.startswith(b"WARC/1.1\r\n") or end < 0:
        problem(where + ": no WARC/1.1 header")
        return None, None
    fields = {}
    for line in raw[10:end].split(b"\r\n"):
        name, sep, value = line.partition(b":")
        if not sep:
            problem(where + ": a header line without a colon: %r" % line)
            continue
        text = value.strip().decode("utf-8")
        fields.setdefault(name.strip().decode("ascii").lower(), text)
    try:
        length = int(fields.get("content-length", ""))
    except ValueError:
        problem(where + ": no Content-Length")
        return fields, b""
    block = raw[end + 4:end + 4 + length]
    if len(block) != length:
        problem(where + ": the block is shorter than its Content-Length")
    if raw[end + 4 + length:] != b"\r\n\r\n":
        problem(where + ": the block is not followed by exactly CR LF CR LF")
    return fields, block


def http_head(block, where):
    end = block.find(b"\r\n\r\n")
    if end < 0:
        problem(where + ": no end of the HTTP head")
        return None, {}, b""
    lines = block[:end].split(b"\r\n")
    status = lines[0].decode("latin-1")
    m = re.match(r"HTTP/1\.[01] (\d{3})( |$)", status)
    if not m:
        problem(where + ": a status line replay tools do not read: %r" % status)
    headers = {}
    for line in lines[1:]:
        name, sep, value = line.partition(b":")
        if not sep or not re.match(rb"^[!#$%&'*+.^_`|~0-9A-Za-z-]+$", name):
            problem(where + ": an HTTP head line that is no field: %r" % line)
            continue
        headers.setdefault(name.decode().lower(), value.strip().decode("latin-1"))
    return (m.group(1) if m else None), headers, block[end + 4:]


def check_warc(data, out):
    """Checks the records; returns (records by (offset, length), count)."""
    seen_ids = {}
    responses = {}  # record id -> (uri, payload digest)
    by_place = {}
    first = True
    for offset, length, raw in members(data):
        where = "record at %d" % offset
        fields, block = parse_record(raw, where)
        if fields is None:
            continue
        rtype = fields.get("warc-type", "")
        rid = fields.get("warc-record-id", "")
        if not re.match(r"^<urn:uuid:[0-9a-f-]{36}>$", rid):
            problem(where + ": a record ID that is no urn:uuid: %r" % rid)
        if rid in seen_ids:
            problem(where + ": the record ID of another record")
        seen_ids[rid] = offset
        date = fields.get("warc-date", "")
        if not re.match(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$", date):
            problem(where + ": a WARC-Date that is no date: %r" % date)
        if fields.get("warc-block-digest") != sha1_b32(block):
            problem(where + ": WARC-Block-Digest does not fit the block")
        if first and rtype != "warcinfo":
            problem(where + ": the first record is no warcinfo")
        first = False
        record = {"kind": "record", "type": rtype, "date": date}
        if rtype in ("response", "revisit"):
            uri = fields.get("warc-target-uri", "")
            where += " (" + uri + ")"
            if not uri or any(ord(c) <= 32 or ord(c) >= 127 for c in uri):
                problem(where + ": a target URI that is not percent-encoded ASCII")
            if fields.get("content-type") != "application/http; msgtype=response":
                problem(where + ": not an HTTP response block")
            status, headers, payload = http_head(block, where)
            digest = fields.get("warc-payload-digest", "")
            if rtype == "response":
                if digest != sha1_b32(payload):
                    problem(where + ": WARC-Payload-Digest does not fit the payload")
                responses[rid] = (uri, digest, date)
            else:
                if payload:
                    problem(where + ": a revisit with a body")
                refers = fields.get("warc-refers-to", "")
                if refers not in responses:
                    problem(where + ": refers to no earlier response")
                elif responses[refers] != (uri, digest, fields.get("warc-refers-to-date")):
                    problem(where + ": its URI, payload digest or date differ from the record "
                            "it refers to")
                if fields.get("warc-refers-to-target-uri") != uri:
                    problem(where + ": WARC-Refers-To-Target-URI is another URI")
                if not fields.get("warc-profile", "").endswith("/identical-payload-digest"):
                    problem(where + ": no identical-payload-digest profile")
            if "transfer-encoding" in headers:
                problem(where + ": a Transfer-Encoding on a body that is not chunked")
            if rtype == "response" and "content-length" in headers and \
                    headers["content-length"] != str(len(payload)):
                problem(where + ": the HTTP Content-Length is not the body's length")
            record.update({
                "uri": uri, "status": status or "",
                "content_type": headers.get("content-type", ""),
                "content_encoding": headers.get("content-encoding", ""),
                "content_length": headers.get("content-length", ""),
                "location": headers.get("location", ""),
                "payload_length": str(len(payload)),
                "payload_sha1": hashlib.sha1(payload).hexdigest(),
                "refers_to_uri": fields.get("warc-refers-to-target-uri", ""),
                "refers_to_date": fields.get("warc-refers-to-date", ""),
            })
            by_place[(offset, length)] = (uri, date, digest, rtype)
        elif rtype == "warcinfo":
            if fields.get("content-type") != "application/warc-fields":
                problem(where + ": a warcinfo that is no warc-fields")
            record["fields"] = block.decode("utf-8")
        else:
            problem(where + ": a record of type %r" % rtype)
        out.append(record)
    return by_place


def surt(url):
    """The SURT key: the host reversed, www. dropped, the query sorted."""
    url = url.lower()
    m = re.match(r"^(https?)://([^/?#]*)([^#]*)", url)
    if not m:
        return url
    scheme, authority, rest = m.groups()
    host = authority.rsplit("@", 1)[-1]
    port = ""
    if ":" in host:
        host, port = host.rsplit(":", 1)
        if (scheme, port) in (("http", "80"), ("https", "443")):
            port = ""
    host = re.sub(r"^www\d*\.", "", host)
    key = ",".join(reversed(host.split(".")))
    if port:
        key += ":" + port
    path, sep, query = rest.partition("?")
    key += ")" + (path or "/")
    if query:
        params = [p for p in query.split("&") if p]
        params.sort(key=lambda p: p.split("=", 1)[0])
        key += "?" + "&".join(params)
    return key


def check_wacz(path, out, extract=None):
    with zipfile.ZipFile(path) as z:
        names = z.namelist()
        for info in z.infolist():
            if info.compress_type != zipfile.ZIP_STORED:
                problem(info.filename + ": compressed in the ZIP (WACZ stores its files)")
        for need in ("archive/data.warc.gz", "indexes/index.cdx", "pages/pages.jsonl",
                     "datapackage.json", "datapackage-digest.json"):
            if need not in names:
                problem("no " + need)
                return
        files = {n: z.read(n) for n in names}
        if extract:
            z.extractall(extract)
    package = json.loads(files["datapackage.json"])
    if package.get("profile") != "data-package":
        problem("datapackage.json: the profile is not data-package")
    if package.get("wacz_version") != "1.1.1":
        problem("datapackage.json: wacz_version is not 1.1.1")
    listed = set()
    for resource in package.get("resources", []):
        p = resource.get("path")
        listed.add(p)
        if p not in files:
            problem("datapackage.json: names %r, which is not there" % p)
            continue
        if resource.get("hash") != "sha256:" + hashlib.sha256(files[p]).hexdigest():
            problem("datapackage.json: the hash of %s does not fit" % p)
        if resource.get("bytes") != len(files[p]):
            problem("datapackage.json: the size of %s does not fit" % p)
    for n in names:
        if n not in listed and n not in ("datapackage.json", "datapackage-digest.json"):
            problem("datapackage.json: does not list " + n)
    digest = json.loads(files["datapackage-digest.json"])
    if digest.get("path") != "datapackage.json" or digest.get("hash") != \
            "sha256:" + hashlib.sha256(files["datapackage.json"]).hexdigest():
        problem("datapackage-digest.json: does not fit datapackage.json")

    warc = files["archive/data.warc.gz"]
    by_place = check_warc(warc, out)
    lines = files["indexes/index.cdx"].decode("utf-8").splitlines()
    keys = [line.split(" ", 2)[:2] for line in lines]
    if keys != sorted(keys):
        problem("index.cdx: the lines are not sorted by key and time")
    indexed = set()
    urls = set()
    for line in lines:
        key, ts, text = line.split(" ", 2)
        cdx = json.loads(text)
        where = "index.cdx: " + cdx.get("url", "?")
        if key != surt(cdx["url"]):
            problem(where + ": the key %r is not the URL's SURT %r" % (key, surt(cdx["url"])))
        place = (int(cdx["offset"]), int(cdx["length"]))
        if cdx.get("filename") != "data.warc.gz":
            problem(where + ": another WARC file")
        if place not in by_place:
            problem(where + ": offset and length name no record")
            continue
        uri, date, digest, rtype = by_place[place]
        if uri != cdx["url"] or re.sub(r"\D", "", date) != ts or digest != cdx.get("digest"):
            problem(where + ": URL, time or digest differ from the record's")
        if (rtype == "revisit") != (cdx.get("mime") == "warc/revisit"):
            problem(where + ": a revisit not named so, or the other way round")
        if place in indexed:
            problem(where + ": indexed twice")
        indexed.add(place)
        urls.add(uri)
    if len(indexed) != len(by_place):
        problem("index.cdx: %d records are not indexed" % (len(by_place) - len(indexed)))
    page_lines = files["pages/pages.jsonl"].decode("utf-8").splitlines()
    if not page_lines or json.loads(page_lines[0]).get("format") != "json-pages-1.0":
        problem("pages.jsonl: no json-pages-1.0 header")
    for line in page_lines[1:]:
        page = json.loads(line)
        if page.get("url") not in urls:
            problem("pages.jsonl: %r is not in the index" % page.get("url"))
        out.append({"kind": "page", "url": page.get("url", ""), "ts": page.get("ts", ""),
                    "title": page.get("title", "")})


def main():
    args = sys.argv[1:]
    extract = None
    if len(args) == 3 and args[1] == "--extract":
        extract = args[2]
        args = args[:1]
    if len(args) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    path = args[0]
    out = []
    try:
        if path.endswith(".wacz"):
            check_wacz(path, out, extract)
        else:
            with open(path, "rb") as f:
                check_warc(f.read(), out)
    except (OSError, ValueError, KeyError, zipfile.BadZipFile, UnicodeDecodeError) as e:
        problem("%s: %s" % (type(e).__name__, e))
    for item in out:
        print(json.dumps(item, ensure_ascii=False))
    for text in problems:
        print(text, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
