#!/usr/bin/python3
"""Writes docs/PERFORMANCE.md and its chart from the benchmarks' ratio rows.

Usage: bench_report.py RESULTS_DIR PERFORMANCE.md CHART.png REPETITIONS

RESULTS_DIR holds, per benchmark binary NAME, NAME.jsonl (one JSON object a
ratio row, written by bench/MedianReporter.h when VLIB_BENCH_JSON names a
file) and NAME.load (the 1-, 5- and 15-minute load averages before and after
the run).  A row has:
  area       the table it belongs to (e.g. "Text measuring")
  case       what is measured, ours against which peer
  unit       the unit of "ours" and "peer" (e.g. "ns/call", "MB/s")
  ours, peer the medians of the rounds, in that unit
  ratio      the median of the rounds' ratios, > 1 where ours is better
  ratio_min, ratio_max   the range of the rounds' ratios
  goal       optional: ">= 1.5" or "<= 1.2" on the ratio
  note       optional: a short remark
The chart is a bar a row (the median ratio, the range as a whisker, the goal
as a mark), on a logarithmic axis, with 1 (even with the peer) drawn.
"""
import datetime
import glob
import json
import os
import platform
import re
import sys


def load_rows(results):
    rows, loads = [], {}
    for path in sorted(glob.glob(os.path.join(results, "*.jsonl"))):
        name = os.path.basename(path)[: -len(".jsonl")]
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if line:
                    row = json.loads(line)
                    row.setdefault("bench", name)
                    rows.append(row)
        load_path = os.path.join(results, name + ".load")
        if os.path.exists(load_path):
            with open(load_path, encoding="utf-8") as f:
                loads[name] = [line.split() for line in f if line.strip()]
    return rows, loads


def goal_met(row):
    goal = (row.get("goal") or "").replace("≥", ">=").replace("≤", "<=").strip()
    match = re.fullmatch(r"(>=|<=)\s*([0-9.]+)\s*×?", goal)
    if not match:
        return None
    bound = float(match.group(2))
    ratio = row["ratio"]
    return ratio >= bound if match.group(1) == ">=" else ratio <= bound


def figure(value):
    if value is None:
        return ""
    if value >= 100:
        return f"{value:,.0f}"
    if value >= 10:
        return f"{value:.1f}"
    return f"{value:.3g}"


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = ""
    try:
        with open("/proc/meminfo", encoding="utf-8") as f:
            kib = int(f.readline().split()[1])
            memory = f", {kib / 1024 / 1024:.0f} GiB memory"
    except (OSError, ValueError, IndexError):
        pass
    return f"{model}, {os.cpu_count()} logical cores{memory}; Linux {platform.release()}"


def write_markdown(path, rows, loads, chart_name, repetitions):
    areas = []
    for row in rows:
        if row["area"] not in areas:
            areas.append(row["area"])
    met = sum(1 for r in rows if goal_met(r) is True)
    with_goal = sum(1 for r in rows if goal_met(r) is not None)
    out = ["# Performance", "",
           "Written by `scripts/bench.sh` (do not edit by hand): every benchmark runs the best peer in the same "
           "binary, written as a careful programmer would (its own caches, the same parallelism, the same work and "
           "durability), with results checked equal before timing.",
           "",
           f"- Machine: {machine()}.",
           f"- Run: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC, {repetitions} repetitions "
           "a case; a ratio is the median of the rounds' ratios, its range the lowest and highest round.",
           "- Ratios are above 1 where ours is better (less time or CPU per operation, more throughput); a goal "
           "of the form `<= x` bounds a cost ratio instead.",
           f"- Goals met: {met} of {with_goal}.",
           "",
           f"![Ratios against the peers]({chart_name})",
           ""]
    for area in areas:
        out += [f"## {area}", "",
                "| case | unit | ours | peer | ratio (median) | range | goal | met |",
                "|---|---|---:|---:|---:|---|---|---|"]
        for row in rows:
            if row["area"] != area:
                continue
            state = goal_met(row)
            mark = {True: "yes", False: "**no**", None: ""}[state]
            case = row["case"] + (f" ({row['note']})" if row.get("note") else "")
            out.append(f"| {case} | {row.get('unit', '')} | {figure(row.get('ours'))} | {figure(row.get('peer'))} | "
                       f"{row['ratio']:.2f}× | {row['ratio_min']:.2f}–{row['ratio_max']:.2f} | "
                       f"{row.get('goal') or ''} | {mark} |")
        out.append("")
    if loads:
        out += ["## Load during the runs", "",
                "The load averages (1, 5, 15 minutes) when each benchmark started and ended.", "",
                "| benchmark | start | end |", "|---|---|---|"]
        for name, (start, *rest) in sorted(loads.items()):
            end = rest[0] if rest else []
            out.append(f"| {name} | {' '.join(start)} | {' '.join(end)} |")
        out.append("")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out))


def write_chart(path, rows):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    labels = [f"{r['area']}: {r['case']}" for r in rows]
    ratios = [r["ratio"] for r in rows]
    low = [max(r["ratio"] - r["ratio_min"], 0) for r in rows]
    high = [max(r["ratio_max"] - r["ratio"], 0) for r in rows]
    colours = []
    for r in rows:
        state = goal_met(r)
        colours.append("#2e7d32" if state else "#c62828" if state is False else "#607d8b")
    height = max(3.0, 0.32 * len(rows) + 1.2)
    fig, ax = plt.subplots(figsize=(11, height))
    y = list(range(len(rows)))[::-1]
    ax.barh(y, ratios, color=colours, xerr=[low, high], capsize=2, error_kw={"elinewidth": 0.8})
    for yi, r in zip(y, rows):
        match = re.search(r"([0-9.]+)", r.get("goal") or "")
        if match:
            ax.plot([float(match.group(1))], [yi], marker="|", color="black", markersize=12)
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_xscale("log")
    ax.set_yticks(y)
    ax.set_yticklabels(labels, fontsize=7)
    ax.set_xlabel("ratio against the peer (median of the rounds; whiskers: range; |: goal; log scale)")
    ax.set_title("Ours against the peers: green meets its goal, red does not, grey has none")
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    results, markdown, chart, repetitions = sys.argv[1:]
    rows, loads = load_rows(results)
    if not rows:
        print(f"bench_report: no ratio rows in {results}", file=sys.stderr)
        return 1
    for row in rows:
        for key in ("area", "case", "ratio", "ratio_min", "ratio_max"):
            if key not in row:
                print(f"bench_report: a row of {row.get('bench')} lacks '{key}': {row}", file=sys.stderr)
                return 1
    write_chart(chart, rows)
    write_markdown(markdown, rows, loads, os.path.basename(chart), repetitions)
    return 0


if __name__ == "__main__":
    sys.exit(main())
