#!/usr/bin/env python3
"""Checks a run against its plan: check-run-log.py PLAN SIMLOG

PLAN is a controller's plan file as the program reads it (code page 936,
rows "n^^relay^^HH:MM:SS^^接通|断开^^..."); SIMLOG the simulator's log
("YYYY-MM-DDTHH:MM:SS.ffffff COMMAND", UTC, the time of each command's first
byte). Every planned action must arrive once, as O(00,RR,S)E, within its
second. Prints the latency from the start of the second to the first byte
(median and worst) and exits non-zero when an action is missed or doubled.
"""
import re
import statistics
import sys

ON = "接通"


def main():
    plan_file, log_file = sys.argv[1], sys.argv[2]
    with open(plan_file, encoding="gb18030") as f:
        planned = []
        for line in f.read().splitlines():
            parts = line.split("^^")
            if len(parts) >= 4 and re.fullmatch(r"\d\d:\d\d:\d\d", parts[2].strip()):
                relay = int(parts[1])
                planned.append((parts[2].strip(), "O(00,%02d,%d)E" % (relay, 1 if parts[3] == ON else 0)))
    seen = {}
    with open(log_file, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = re.match(r"\d{4}-\d\d-\d\dT(\d\d:\d\d:\d\d)\.(\d{6}) (\S+)", line)
            if m and m.group(3).startswith("O("):
                seen.setdefault((m.group(1), m.group(3)), []).append(int(m.group(2)) / 1000.0)
    missed, doubled, latencies = [], [], []
    for when, command in planned:
        arrivals = seen.get((when, command), [])
        if not arrivals:
            missed.append("%s %s" % (when, command))
        elif len(arrivals) > 1:
            doubled.append("%s %s" % (when, command))
        latencies.extend(arrivals[:1])
    print("planned %d, on time %d, missed %d, doubled %d" % (
        len(planned), len(latencies), len(missed), len(doubled)))
    if latencies:
        print("latency from the second's start to the first byte: median %.1f ms, worst %.1f ms" % (
            statistics.median(latencies), max(latencies)))
    for m in missed:
        print("missed:", m)
    for d in doubled:
        print("doubled:", d)
    return 1 if missed or doubled or not planned else 0


if __name__ == "__main__":
    sys.exit(main())
