#!/usr/bin/python3
"""Writes docs/PERFORMANCE.md and its chart from the benchmarks' ratio rows.

Usage: bench_report.py RESULTS_DIR PERFORMANCE.md CHART.png

RESULTS_DIR holds, per benchmark binary NAME, NAME.jsonl (one JSON object a
ratio row, written by bench/MedianReporter.h when VLIB_BENCH_JSON names a
file) and NAME.load (the 1-, 5- and 15-minute load averages before and after
the run).  A row (bench/MedianReporter.h, vbench::Report) has:
  area, case         the table it belongs to and what is measured
  ours, peer         who is measured (names)
  unit               the unit of both figures (e.g. "ns/call", "messages/s")
  ours_median, ours_min, ours_max, peer_median, peer_min, peer_max
                     each side's figure over the rounds
  ratio              ours / peer of the medians, in the unit (so below 1 is
                     better for a cost such as ns/call, above 1 for a rate)
  ratio_min, ratio_max   the range of the rounds' ratios (round i of ours
                     against round i of the peer)
  rounds, goal (">= x" or "<= x" on the ratio, or null), met (or null)
The chart shows each row as how many times better ours is than the peer (the
ratio for a rate, its inverse for a cost: above 1, ours is better), the
range as a whisker and the goal as a mark, on a logarithmic axis.
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


def is_rate(row):
    return row.get("unit", "").endswith("/s")


def advantage(row, value):
    """How many times better ours is, from a ratio ours / peer in the row's unit."""
    if value is None or value <= 0:
        return None
    return value if is_rate(row) else 1.0 / value


def goal_met(row):
    if row.get("met") is not None:
        return bool(row["met"])
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


def write_markdown(path, rows, loads, chart_name):
    areas = []
    for row in rows:
        if row["area"] not in areas:
            areas.append(row["area"])
    rounds = [int(r.get("rounds") or 0) for r in rows]
    met = sum(1 for r in rows if goal_met(r) is True)
    with_goal = sum(1 for r in rows if goal_met(r) is not None)
    out = ["# Performance", "",
           "Written by `scripts/bench.sh` (do not edit by hand): every benchmark runs the best peer in the same "
           "binary, written as a careful programmer would (its own caches, the same parallelism, the same work and "
           "durability), with results checked equal before timing.",
           "",
           f"- Machine: {machine()}.",
           f"- Run: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC; each case runs "
           f"{min(rounds)}–{max(rounds)} rounds (repetitions, interleaved).  Each figure is the median of its rounds "
           "with the lowest and highest round beside it.",
           "- A ratio is ours / peer in the row's unit: below 1 is better for a cost (ns/call, CPU per message), "
           "above 1 for a rate (messages/s, MB/s); goals bound that ratio.  The chart turns every row into how "
           "many times better ours is (above 1: ours is better); an area of more than "
           f"{CHART_ROWS_PER_AREA} rows shows there only its rows with a goal.",
           f"- Goals met: {met} of {with_goal}.",
           "",
           f"![Ratios against the peers]({chart_name})",
           ""]
    for area in areas:
        out += [f"## {area}", "",
                "| case | ours | peer | unit | ours (median, range) | peer (median, range) | ratio ours/peer "
                "(median, rounds' range) | goal | met |",
                "|---|---|---|---|---:|---:|---:|---|---|"]
        for row in rows:
            if row["area"] != area:
                continue
            state = goal_met(row)
            mark = {True: "yes", False: "**no**", None: ""}[state]
            case = row["case"] + (f" ({row['note']})" if row.get("note") else "")
            out.append(f"| {case} | {row.get('ours', '')} | {row.get('peer', '')} | {row.get('unit', '')} | "
                       f"{figure(row.get('ours_median'))} ({figure(row.get('ours_min'))}–{figure(row.get('ours_max'))}) | "
                       f"{figure(row.get('peer_median'))} ({figure(row.get('peer_min'))}–{figure(row.get('peer_max'))}) | "
                       f"{row['ratio']:.3g}× ({row['ratio_min']:.3g}–{row['ratio_max']:.3g}) | "
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


# An area with more rows than this shows only its rows with a goal in the
# chart (its table keeps them all), so that the chart stays readable.
CHART_ROWS_PER_AREA = 16


def chart_rows(rows):
    sizes = {}
    for row in rows:
        sizes[row["area"]] = sizes.get(row["area"], 0) + 1
    return [r for r in rows if sizes[r["area"]] <= CHART_ROWS_PER_AREA or goal_met(r) is not None]


def write_chart(path, rows):
    rows = chart_rows(rows)
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    labels = [f"{r['area']}: {r['case']}" for r in rows]
    ratios = [advantage(r, r["ratio"]) or 0 for r in rows]
    ends = [sorted([advantage(r, r["ratio_min"]) or 0, advantage(r, r["ratio_max"]) or 0]) for r in rows]
    low = [max(ratio - lo, 0) for ratio, (lo, _) in zip(ratios, ends)]
    high = [max(hi - ratio, 0) for ratio, (_, hi) in zip(ratios, ends)]
    colours = []
    for r in rows:
        state = goal_met(r)
        colours.append("#2e7d32" if state else "#c62828" if state is False else "#607d8b")
    height = max(3.0, 0.32 * len(rows) + 1.2)
    fig, ax = plt.subplots(figsize=(11, height))
    y = list(range(len(rows)))[::-1]
    # Bars grow from 1 (even with the peer): right where ours is better, left
    # where the peer is.
    ax.barh(y, [ratio - 1 for ratio in ratios], left=1, color=colours)
    ax.errorbar(ratios, y, xerr=[low, high], fmt="none", ecolor="black", elinewidth=0.8, capsize=2)
    for yi, r in zip(y, rows):
        match = re.search(r"([0-9.]+)", r.get("goal") or "")
        if match and float(match.group(1)) > 0:
            ax.plot([advantage(r, float(match.group(1)))], [yi], marker="|", color="black", markersize=12)
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_xscale("log")
    ax.set_yticks(y)
    ax.set_yticklabels(labels, fontsize=7)
    ax.set_xlabel("times better than the peer (median of the rounds; whiskers: range of the rounds; |: goal; log)")
    ax.set_title("Ours against the peers: green meets its goal, red does not, grey has none")
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    results, markdown, chart = sys.argv[1:]
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
    write_markdown(markdown, rows, loads, os.path.basename(chart))
    return 0


if __name__ == "__main__":
    sys.exit(main())
