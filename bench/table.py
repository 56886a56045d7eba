#!/usr/bin/env python3
"""Prints the figures that bench/run collected in one folder side by side."""
import json
import os
import platform
import re
import sys

out = sys.argv[1]


def read(name):
    path = os.path.join(out, name)
    return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""


def benchmarks(name):
    text = read(name)
    if not text:
        return {}
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
    found = {}
    for b in json.loads(text).get("benchmarks", []):
        if b.get("error_occurred") or b.get("run_type") == "aggregate":
            continue
        found[b["name"]] = (b["real_time"] * scale[b["time_unit"]],
                            b["cpu_time"] * scale[b["time_unit"]])
    return found


def us(value):
    return "-" if value is None else (f"{value:,.1f} us" if value < 10000 else f"{value / 1000:,.1f} ms")


def line(text, pattern):
    match = re.search(pattern, text, re.M)
    return match.group(1).strip() if match else "-"


def cpu_model():
    for row in open("/proc/cpuinfo"):
        if row.startswith("model name"):
            return row.split(":", 1)[1].strip()
    return platform.processor()


desk = benchmarks("desktop.json")
store = benchmarks("store.json")
usage = read("usage.txt")
soak = read("soak.txt")
wine = read("wine-usage.txt")
per_hour = line(usage, r": ([0-9.]+) CPU seconds per hour")


def per_tick(seconds_per_hour):
    """CPU per 10 s tick from CPU seconds per hour."""
    try:
        return f"{float(seconds_per_hour) / 360 * 1000:.2f} ms"
    except ValueError:
        return "-"


def real(table, name):
    return table.get(name, (None, None))[0]


def ratio(a, b):
    return f"{a / b:.3g}x" if a and b else "-"


def table(title, header, rows):
    print(f"\n{title}")
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    for r in [header] + rows:
        print("  " + r[0].ljust(widths[0]) + "".join(
            "  " + str(v).rjust(w) for v, w in zip(r[1:], widths[1:])))


print(f"\nvorlix-monitor, release build, {os.cpu_count()} cores ({cpu_model()})")
records = [r for r in read("records.txt").splitlines() if r.startswith(("summary", "report", " ", "load"))]
if records:
    print("\nvorlix-records over a team's month (" +
          line(read("records.txt"), r"^(\d+ files of \d+ rows)") + " each)")
    for r in records:
        print("  " + r)
if not desk and not read("usage.txt"):
    sys.exit(0)
table("One sample, by the number of top-level windows", ["", "10", "100", "500"], [
    ["new foreground window: enumeration + title + pid + process"] +
    [us(real(desk, f"BM_TickNewForeground/{n}")) for n in (10, 100, 500)],
    ["unchanged foreground window: enumeration only"] +
    [us(real(desk, f"BM_TickUnchangedForeground/{n}")) for n in (10, 100, 500)],
])
write = store.get("BM_WriteActiveInfo", (None, None))
plain = store.get("BM_Sqlite3Insert", (None, None))
layer = real(desk, "BM_ActiveTitleAndPid_Layer")
xdo = real(desk, "BM_ActiveTitleAndPid_Xdotool")
table("Against a plain way of doing the same", ["", "ours", "plain", "ours/plain"], [
    ["record write, real time (WriteActiveInfo / sqlite3 insert)", us(write[0]), us(plain[0]),
     ratio(write[0], plain[0])],
    ["record write, CPU time", us(write[1]), us(plain[1]), ratio(write[1], plain[1])],
    ["active window title + pid (our layer / xdotool)", us(layer), us(xdo), ratio(layer, xdo)],
    ["EncryptText per value: 10 B (a time) / 447 B (a long name)",
     us(real(store, "BM_EncryptText/10")), us(real(store, "BM_EncryptText/447")), ""],
])
table("The program and the soak", ["", "", "", ""], [
    ["program at the default 10 s interval: peak RSS, CPU per hour, per tick",
     line(usage, r"peak RSS (\d+ KiB)"), per_hour + " s/h", per_tick(per_hour)],
    ["32-bit Windows program under Wine: peak working set, CPU per hour, per tick",
     line(wine, r"peak working set (\d+ KiB)"),
     line(wine, r"CPU seconds per hour ([0-9.]+)") + " s/h",
     line(wine, r"CPU per tick ([0-9.]+ ms)")],
    ["    wineserver's CPU per tick (the whole prefix: program, notepad, explorer)", "", "",
     line(wine, r"wineserver ([0-9.]+ ms) per tick")],
    ["program start-up CPU, to the first sample", line(usage, r"first sample ([0-9.]+ s)"), "", ""],
    ["soak RSS: start / after 10,000 / end", line(soak, r"rss start\s+(\d+ KiB)"),
     line(soak, r"rss after 10,000\s+(\d+ KiB)"), line(soak, r"rss end\s+(\d+ KiB)")],
    ["soak descriptors open: start / after 10,000 / end",
     line(soak, r"rss start.*?(\d+) descriptors"),
     line(soak, r"rss after 10,000.*?(\d+) descriptors"),
     line(soak, r"rss end.*?(\d+) descriptors")],
    ["soak sample with write, unchanged window: p50 / p99 / p99.9",
     line(soak, r"\(unchanged foreground\).*?p50\s+(\S+ us)"),
     line(soak, r"\(unchanged foreground\).*?p99\s+(\S+ us)"),
     line(soak, r"\(unchanged foreground\).*?p99\.9\s+(\S+ us)")],
    ["soak sample with write, after a change: p50 / p99 / max",
     line(soak, r"\(after a change\).*?p50\s+(\S+ us)"),
     line(soak, r"\(after a change\).*?p99\s+(\S+ us)"),
     line(soak, r"\(after a change\).*?max\s+(\S+ us)")],
    ["soak run", line(soak, r"(\d+ samples in [0-9.]+ s)"), line(soak, r"(rows stored \d+)"),
     line(soak, r"record file on (\S+)")],
])

footprint = read("footprint.txt")
if footprint:
    labels = [l for l in ("before", "after") if f"{l}: program" in footprint]
    wine_runs = {l: read(f"wine-footprint-{l}.txt") for l in labels}

    def of(pattern):
        return [line(footprint, pattern.replace("LABEL", l)) for l in labels]

    def wine_of(pattern):
        return [line(wine_runs[l], pattern) for l in labels]

    table("Footprint: 60 samples at a 1 s interval, one window in front", [""] + labels, [
        ["program peak RSS"] + of(r"^LABEL: program peak RSS (\d+ KiB)"),
        ["shared objects mapped, of them media libraries"] +
        [f"{a}, {b}" for a, b in zip(of(r"^LABEL: program shared objects mapped (\d+)"),
                                     of(r"^LABEL: program shared objects.*media libraries (\d+)"))],
        ["CPU to the first sample (start-up)"] + of(r"^LABEL: program CPU to the first sample ([0-9.]+ s)"),
        ["CPU per tick"] + of(r"^LABEL: program CPU .*per tick ([0-9.]+ ms)"),
        ["vorlix-records --help: shared objects, peak RSS"] +
        [f"{a}, {b}" for a, b in zip(of(r"^LABEL: vorlix-records --help shared objects (\d+)"),
                                     of(r"^LABEL: vorlix-records .*peak RSS (\d+ KiB)"))],
        ["32-bit Windows program under Wine: peak working set"] +
        wine_of(r"peak working set (\d+ KiB)"),
        ["    CPU to the first row (start-up), per tick"] +
        [f"{a}, {b}" for a, b in zip(wine_of(r"CPU to the first row ([0-9.]+ s)"),
                                     wine_of(r"CPU per tick ([0-9.]+ ms)"))],
    ])

faults = [("killed-mid-write-test", r"^(killed=.*)$"),
          ("windows-churning-test", r"^(churn_seconds=.*)$"),
          ("store-locks", r'^(lock="BEGIN IMMEDIATE".*)$'),
          ("store-locks", r'^(lock="BEGIN EXCLUSIVE".*)$'),
          ("memcheck-test", r"^(memcheck_s=.*)$")] + [
          ("memcheck-test", rf"^({kind}: .*)$") for kind in
          ("definitely lost", "indirectly lost", "possibly lost", "still reachable")]
fault_tests = ["killed-mid-write-test", "windows-churning-test", "store-faults-test",
               "memcheck-test"]
if read("killed-mid-write-test.txt"):
    print("\nFaults, full size")
    for name, pattern in faults:
        print("  " + line(read(name + ".txt"), pattern))
    for name in fault_tests:
        text = read(name + ".txt")
        passed = "[  PASSED  ]" in text and "FAILED" not in text
        skipped = re.search(r"\[  SKIPPED \] (\S+)", text)
        print(f"  {name}: {'passed' if passed else 'FAILED'}" +
              (f" (skipped: {skipped.group(1)})" if skipped else ""))
