#!/usr/bin/env python3
"""Points a Prometheus server (Debian's prometheus package) at kovrad's HTTP
endpoint with the README's scrape job and checks that it scrapes it: the
target is up and a UPS value can be queried back. Exits 77 when Prometheus
is not installed, so the test reports as skipped.

The endpoint is served by a program that prints "port N" once it listens
and serves until its standard input closes (http_page_server).
"""

import argparse
import json
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

CONFIG = """global:
  scrape_interval: 1s
scrape_configs:
  - job_name: kovrad
    scrape_interval: 1s
    static_configs:
      - targets: ["127.0.0.1:%d"]
"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def query(base, path):
    with urllib.request.urlopen(base + path, timeout=5) as answer:
        return json.load(answer)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    args = parser.parse_args()
    prometheus = shutil.which("prometheus")
    if prometheus is None:
        print("prometheus is not installed: skipped")
        return 77

    server = subprocess.Popen([args.server], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    scraper = None
    try:
        line = server.stdout.readline().split()
        if len(line) != 2 or line[0] != "port":
            print("the server did not start")
            return 1
        with tempfile.TemporaryDirectory() as folder:
            config = folder + "/prometheus.yml"
            with open(config, "w") as out:
                out.write(CONFIG % int(line[1]))
            web = free_port()
            scraper = subprocess.Popen(
                [prometheus, "--config.file=" + config,
                 "--storage.tsdb.path=" + folder + "/data",
                 "--web.listen-address=127.0.0.1:%d" % web],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            base = "http://127.0.0.1:%d" % web
            deadline = time.monotonic() + 60
            health, value = None, None
            while time.monotonic() < deadline:
                time.sleep(1)
                try:
                    targets = query(base, "/api/v1/targets")
                    active = targets["data"]["activeTargets"]
                    health = active[0]["health"] if active else None
                    result = query(base, "/api/v1/query?query=" +
                                   urllib.parse.quote(
                                       "kovra_ups_input_voltage_volts"))
                    samples = result["data"]["result"]
                    if health == "up" and samples:
                        value = float(samples[0]["value"][1])
                        break
                except (OSError, ValueError, KeyError, IndexError):
                    continue
            if health != "up" or value != 230.4:
                print("target health %r, input voltage %r" % (health, value))
                return 1
            print("Prometheus scraped the endpoint: input voltage %s V" %
                  value)
            return 0
    finally:
        if scraper is not None:
            scraper.terminate()
            scraper.wait(timeout=30)
        server.stdin.close()
        server.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(main())
