#!/usr/bin/env python3
"""Checks pages of quorin-trace-view as headless Chromium drew them (its --dump-dom output).

    check_trace_page.py tree FILE DOM        every span of FILE drawn under its parent, named
    check_trace_page.py hostile PAGE DOM     the hostile texts of hostile_lines() shown as text
    check_trace_page.py large DOM SPANS      all SPANS read, few rows in the page
    check_trace_page.py write-hostile FILE   writes hostile_lines() to FILE
    check_trace_page.py write-large FILE N   writes one trace of N spans to FILE, in lines of 512
"""
import html.parser
import json
import re
import sys

HOSTILE = [
    "</script><script>document.body.dataset.pwned='script'</script>",
    "<img src=x onerror=\"document.body.dataset.pwned='img'\">",
    "\"double\" 'single' & &amp; \\ back",
    "line\u2028separator\u2029end",
    "<!-- <script>",
    "cleaned \ufffd by the agent",
]
INVALID_UTF8 = b"raw \xff byte"  # a corrupt file: the page shows U+FFFD
TRACE = "0af7651916cd43dd8448eb211c80319c"


def hostile_lines():
    spans = []
    for i, text in enumerate(HOSTILE):
        spans.append({
            "traceId": TRACE, "spanId": f"{i + 1:016x}", "name": text, "kind": 2,
            "startTimeUnixNano": str(1700000000000000000 + i), "endTimeUnixNano": str(1700000000000001000),
            "attributes": [{"key": t, "value": {"stringValue": t}} for t in HOSTILE] if i == 0 else [],
            "events": [{"timeUnixNano": "1700000000000000500", "name": text}],
        })
        if i:
            spans[-1]["parentSpanId"] = "0000000000000001"
    request = {"resourceSpans": [{"resource": {"attributes": [
        {"key": "service.name", "value": {"stringValue": HOSTILE[0]}}]},
        "scopeSpans": [{"scope": {"name": "hostile"}, "spans": spans}]}]}
    invalid = json.dumps({"resourceSpans": [{"scopeSpans": [{"spans": [{
        "traceId": TRACE, "spanId": "00000000000000ff", "parentSpanId": "0000000000000001",
        "name": "@", "startTimeUnixNano": "1700000000000000000",
        "endTimeUnixNano": "1700000000000000001"}]}]}]}).encode().replace(b'"@"', b'"' + INVALID_UTF8 + b'"')
    return json.dumps(request).encode() + b"\n" + invalid + b"\nnot json at all </script>\n"


class Rows(html.parser.HTMLParser):
    """The span rows of the waterfall, the elements and the body's data."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows, self.tags, self.body, self.cells = [], {}, {}, []
        self.naming = self.cell = self.row = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags[tag] = self.tags.get(tag, 0) + 1
        classes = (attrs.get("class") or "").split()
        if tag == "body":
            self.body = attrs
        if tag == "div" and "row" in classes:
            self.row = None
            if "span" in classes:
                self.row = {"span": attrs.get("data-span"), "parent": attrs.get("data-parent"),
                            "depth": int(attrs.get("data-depth", -1)), "name": ""}
                self.rows.append(self.row)
        if tag == "span" and "name" in classes:
            self.naming = self.row
        if tag in ("td", "p", "h2"):
            self.cell = []

    def handle_endtag(self, tag):
        if tag == "span":
            self.naming = None
        if tag in ("td", "p", "h2") and self.cell is not None:
            self.cells.append("".join(self.cell))
            self.cell = None

    def handle_data(self, text):
        if self.naming is not None:
            self.naming["name"] += text
        if self.cell is not None:
            self.cell.append(text)


def parse_dom(path):
    parser = Rows()
    with open(path, encoding="utf-8") as f:
        parser.feed(f.read())
    if "data-spans" not in parser.body:
        raise SystemExit("the page's script did not finish (no data-spans on the body)")
    return parser


def file_spans(path):
    spans = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            for rs in json.loads(line).get("resourceSpans", []):
                for ss in rs.get("scopeSpans", []):
                    for s in ss.get("spans", []):
                        spans[s["spanId"]] = s
    return spans


def check_tree(file, dom):
    spans, page = file_spans(file), parse_dom(dom)
    index = {row["span"]: i for i, row in enumerate(page.rows)}
    for span_id, span in spans.items():
        if span_id not in index:
            raise SystemExit(f"span {span_id} ({span['name']}) is not drawn")
        row = page.rows[index[span_id]]
        if row["name"] != span["name"]:
            raise SystemExit(f"span {span_id} is named {row['name']!r}, not {span['name']!r}")
        parent = span.get("parentSpanId")
        if parent in spans:
            p = index[parent]
            if not (p < index[span_id] and row["depth"] == page.rows[p]["depth"] + 1
                    and row["parent"] == parent
                    and all(r["depth"] > page.rows[p]["depth"] for r in page.rows[p + 1:index[span_id]])):
                raise SystemExit(f"span {span_id} ({span['name']}) is not drawn under its parent")
        elif row["depth"] != 0:
            raise SystemExit(f"root span {span_id} is not at the top of its trace")
    print(f"{len(spans)} spans drawn under their parents with their names")


def check_hostile(page_file, dom):
    with open(page_file, "rb") as f:
        source = f.read()
    if not source.isascii():
        raise SystemExit("the page is not ASCII")
    text = source.decode()
    opened, closed = len(re.findall(r"<script", text, re.I)), len(re.findall(r"</script", text, re.I))
    if (opened, closed) != (2, 2) or "<!--" in text or "\u2028" in text:
        raise SystemExit(f"the file's texts changed the page's markup: {opened} <script, {closed} </script")
    page = parse_dom(dom)
    if "data-pwned" in page.body:
        raise SystemExit(f"a hostile text ran as script: {page.body['data-pwned']}")
    unexpected = {t for t in page.tags if t in ("img", "iframe", "object", "embed", "a", "link")}
    if unexpected or page.tags.get("script") != 2:
        raise SystemExit(f"elements the page does not make: {unexpected}, {page.tags.get('script')} scripts")
    names = {row["name"] for row in page.rows}
    wanted = set(HOSTILE) | {INVALID_UTF8.decode("utf-8", "replace")}
    if names != wanted:
        raise SystemExit(f"names shown {sorted(names)!r}, wanted {sorted(wanted)!r}")
    for text in HOSTILE:  # the selected span's attribute and event, and the resource
        if page.cells.count(text) < 2:
            raise SystemExit(f"{text!r} is not shown as the selected span's attribute")
    print(f"{len(HOSTILE) + 1} hostile names and values shown as text; the page's markup is its own")


def check_large(dom, count):
    page = parse_dom(dom)
    if page.body["data-spans"] != str(count):
        raise SystemExit(f"{page.body['data-spans']} spans read, not {count}")
    if not 0 < len(page.rows) < 300:
        raise SystemExit(f"{len(page.rows)} span rows in the page: not drawn lazily")
    print(f"{count} spans read, {len(page.rows)} rows in the page")


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "tree":
        check_tree(sys.argv[2], sys.argv[3])
    elif mode == "hostile":
        check_hostile(sys.argv[2], sys.argv[3])
    elif mode == "large":
        check_large(sys.argv[2], int(sys.argv[3]))
    elif mode == "write-large":
        with open(sys.argv[2], "w") as f:
            count = int(sys.argv[3])
            for first in range(0, count, 512):
                spans = [{"traceId": TRACE, "spanId": f"{i + 1:016x}", "name": f"span {i}",
                          "kind": 1 + i % 5, "startTimeUnixNano": str(1700000000000000000 + i * 1000),
                          "endTimeUnixNano": str(1700000000000000000 + i * 1000 + 50000),
                          **({"parentSpanId": f"{(i - 1) // 4 + 1:016x}"} if i else {})}
                         for i in range(first, min(first + 512, count))]
                f.write(json.dumps({"resourceSpans": [{"scopeSpans": [{"spans": spans}]}]}) + "\n")
    elif mode == "write-hostile":
        with open(sys.argv[2], "wb") as f:
            f.write(hostile_lines())
    else:
        raise SystemExit(__doc__)
