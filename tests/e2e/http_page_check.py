#!/usr/bin/env python3
"""Loads kovrad's status page in headless Chromium and checks its DOM after
the page's scripts ran: the unit's state, the values, the charts drawn from
the recorded status records and the latest events. Also takes a screenshot.

The page is served by a program that prints "port N" once it listens and
serves until its standard input closes (http_page_server, or kovrad itself
with --http-listen given as --url). Exits 77 when Chromium is not installed,
so the test reports as skipped.
"""

import argparse
import html.parser
import os
import shutil
import subprocess
import sys
import tempfile

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
    "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--hide-scrollbars",
    "--virtual-time-budget=8000",
]


class PageDom(html.parser.HTMLParser):
    """The parts of the DOM the checks look at, by element id."""

    def __init__(self):
        super().__init__()
        self.attrs = {}      # id -> attributes
        self.text = {}       # id -> text inside it
        self.polylines = {}  # chart id -> number of polylines
        self.body = {}
        self._open = []      # ids of the elements we are inside

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "body":
            self.body = attrs
        if tag == "polyline":
            for chart in self._open:
                if chart.startswith("chart-"):
                    self.polylines[chart] = self.polylines.get(chart, 0) + 1
        element_id = attrs.get("id")
        if element_id:
            self.attrs[element_id] = attrs
            self.text.setdefault(element_id, "")
        self._open.append(element_id or "")
        if tag in ("polyline", "line", "br", "meta", "input", "option", "i"):
            # Elements that are empty (or that we do not nest into).
            if tag != "option":
                self._open.pop()

    def handle_endtag(self, tag):
        if tag in ("polyline", "line", "br", "meta", "input", "i"):
            return
        if self._open:
            self._open.pop()

    def handle_data(self, data):
        for element_id in self._open:
            if element_id:
                self.text[element_id] = self.text.get(element_id, "") + data


def chromium_binary():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def run_chromium(binary, profile, extra, url):
    command = [binary] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile] + extra
    command.append(url)
    result = subprocess.run(command, capture_output=True, timeout=90,
                            check=False)
    return result


def check(dom, expect_state, known_values, min_points):
    failures = []
    state = dom.attrs.get("state", {})
    if dom.body.get("data-ready") != "1":
        failures.append("the page's scripts did not finish loading")
    if state.get("data-state") != expect_state:
        failures.append("state is %r, not %s" %
                        (state.get("data-state"), expect_state))
    texts = {"online": "On line", "battery": "On battery", "low": "On battery",
             "lost": "No contact"}
    if texts.get(expect_state, "") not in dom.text.get("state", ""):
        failures.append("state text: %r" % dom.text.get("state"))
    # The stand-alone server's values; a live unit's vary.
    expected = {"capacity": "97", "load": "35", "input": "230.4",
                "output": "229.1", "runtime": "41 min"} if known_values else {}
    for element_id, value in expected.items():
        if value not in dom.text.get(element_id, ""):
            failures.append("%s shows %r, wants %r" %
                            (element_id, dom.text.get(element_id), value))
    if known_values and "Model 1500" not in dom.text.get("unit", ""):
        failures.append("model not shown: %r" % dom.text.get("unit"))
    for chart in ("chart-voltage", "chart-load", "chart-capacity"):
        points = int(dom.attrs.get(chart, {}).get("data-points", "0") or 0)
        if points < min_points or dom.polylines.get(chart, 0) < 1:
            failures.append("%s drew %d points in %d lines" %
                            (chart, points, dom.polylines.get(chart, 0)))
    if "UPS power failure." not in dom.text.get("events", ""):
        failures.append("events: %r" % dom.text.get("events", "")[:200])
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", help="program that serves the page")
    parser.add_argument("--url", help="page address, when already served")
    parser.add_argument("--screenshot", help="where to write a PNG")
    parser.add_argument("--expect-state", default="online",
                        choices=["online", "battery", "low", "lost"],
                        help="the state the page must show")
    parser.add_argument("--min-points", type=int, default=100,
                        help="the points each chart must draw at least")
    args = parser.parse_args()

    binary = chromium_binary()
    if binary is None:
        print("chromium is not installed: skipped")
        return 77

    server = None
    url = args.url
    if not url and not args.server:
        parser.error("give --server or --url")
    if args.server:
        server = subprocess.Popen([args.server], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True)
        line = server.stdout.readline().split()
        if len(line) != 2 or line[0] != "port":
            print("the server did not start")
            return 1
        url = "http://127.0.0.1:%s/" % line[1]
    try:
        with tempfile.TemporaryDirectory() as profile:
            result = run_chromium(binary, profile, ["--dump-dom"], url)
            if result.returncode != 0:
                print(result.stderr.decode(errors="replace")[-2000:])
                print("chromium failed with %d" % result.returncode)
                return 1
            dom = PageDom()
            dom.feed(result.stdout.decode("utf-8", errors="replace"))
            failures = check(dom, args.expect_state, args.server is not None,
                             args.min_points)
        if args.screenshot:
            with tempfile.TemporaryDirectory() as profile:
                target = os.path.abspath(args.screenshot)
                run_chromium(binary, profile,
                             ["--screenshot=" + target,
                              "--window-size=1100,820"], url)
                if not os.path.exists(target):
                    failures.append("no screenshot was written")
        for failure in failures:
            print("FAIL: " + failure)
        if failures:
            return 1
        print("status page OK: charts of %s points" % ", ".join(
            dom.attrs[c].get("data-points", "0")
            for c in ("chart-voltage", "chart-load", "chart-capacity")))
        return 0
    finally:
        if server is not None:
            server.stdin.close()
            server.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(main())
