#!/usr/bin/python3
"""What the web page costs and how quickly it shows: the built ristova-run on
the simulated board (8 relays; the plan switches one of relays 5 to 8 every
second), Debian's Chromium, headless, under chromedriver.

  (a) from the start of a page load to the first relay drawn, logged in;
  (b) the page's memory, from Chromium's performance metrics;
  (c) the runner's CPU, with no page and with 10 pages open;
  (d) the timed commands, from the start of their second to the first byte
      at the board, with no page and with 10 pages open.

Ten pages are two browsers of five tabs each: a browser keeps at most six
connections to one host, and each page holds one for its event stream.
Usage: bench_web [seconds per phase, default 30]"""

import datetime
import os
import statistics
import sys
import time

sys.dont_write_bytecode = True  # nothing written beside the sources

sys.path.insert(0, "@RISTOVA_WEB_TESTS@")
import website  # noqa: E402

PHASE = int(sys.argv[1]) if len(sys.argv) > 1 else 30
PAGES = 10
PER_BROWSER = 5


def summary(values, unit="ms"):
    if not values:
        return "no samples"
    values = sorted(values)
    return "median %.1f %s, worst %.1f %s (%d samples)" % (
        statistics.median(values), unit, values[-1], unit, len(values))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def plan(start, seconds):
    """One action a second on relays 5 to 8, each relay on, then off."""
    return [(5 + i % 4, (start + i) % 86400, (i // 4) % 2 == 0) for i in range(seconds)]


def latencies(site, rows, day, since, until):
    """Each timed command due in [since, until): its first byte's delay."""
    commands = site.commands()
    found = []
    for relay, second, on in rows:
        due = datetime.datetime.combine(day, datetime.time()) + datetime.timedelta(seconds=second)
        due = due.astimezone(datetime.timezone.utc)
        if not since <= due.timestamp() < until:
            continue
        wanted = website.on_command(relay, on)
        late = [(at - due).total_seconds() * 1000 for at, c in commands if c == wanted and at >= due]
        if late:
            found.append(min(late))
    return found


def measure(site, rows, day, label):
    start_cpu = cpu_seconds(site.runner.pid)
    start = time.time()
    time.sleep(PHASE)
    end = time.time()
    cpu = cpu_seconds(site.runner.pid) - start_cpu
    # The last commands of the phase are at the board a moment later.
    time.sleep(1)
    print("%s: runner CPU %.2f%% of one core over %d s" % (label, 100 * cpu / (end - start), PHASE))
    print("%s: timed commands %s" % (label, summary(latencies(site, rows, day, start, end))))


def main():
    start = (website.day_second() + 8) % 86400
    rows = plan(start, 4 * PHASE + 120)
    day = datetime.date.today()
    site = website.Site(relays=8, rows=rows)
    browsers = []
    try:
        site.start_runner()
        time.sleep(max(0, (start - website.day_second()) % 86400))
        measure(site, rows, day, "no page")

        first = website.browser(1280, 800)
        browsers.append(first)
        website.log_in(first, site.url)
        website.wait_until(lambda: len(website.relay_rows(first)) == 8)
        drawn = []
        for _ in range(10):
            first.get(site.url)
            mark = website.wait_until(lambda: first.execute_script(
                "const m = performance.getEntriesByName('ristova-first-relay');"
                "return m.length ? m[0].startTime : null;"), 15)
            if mark:
                drawn.append(mark)
        print("page load to the first relay drawn: %s" % summary(drawn))

        tabs = [first]
        while len(tabs) < PAGES:
            if len(tabs) % PER_BROWSER == 0:
                driver = website.browser(1280, 800)
                browsers.append(driver)
                website.log_in(driver, site.url)
            else:
                driver = tabs[-1]
                driver.switch_to.new_window("tab")
                driver.get(site.url)
            website.wait_until(lambda: len(website.relay_rows(driver)) == 8
                               and "已连接" in driver.find_element("id", "link").text, 20)
            tabs.append(driver)
        open_pages = sum(len(b.window_handles) for b in browsers)
        measure(site, rows, day, "%d pages open" % open_pages)

        first.switch_to.window(first.window_handles[0])
        first.execute_cdp_cmd("Performance.enable", {})
        # What the page holds, not what the collector has yet to take.
        first.execute_cdp_cmd("HeapProfiler.collectGarbage", {})
        metrics = {m["name"]: m["value"] for m in
                   first.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
        print("one page after %d s: JS heap used %.1f MiB of %.1f MiB, %d DOM nodes, "
              "%d event listeners" % (2 * PHASE, metrics["JSHeapUsedSize"] / 2**20,
                                      metrics["JSHeapTotalSize"] / 2**20, metrics["Nodes"],
                                      metrics["JSEventListeners"]))
    finally:
        for b in browsers:
            website.close_browser(b)
        site.close()


if __name__ == "__main__":
    main()
