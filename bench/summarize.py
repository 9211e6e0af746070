#!/usr/bin/env python3
"""Turns the JSON output of the benchmark binaries into one Markdown table.

    python3 bench/summarize.py build-bench/results/*.json

For every benchmark it takes the median over the repetitions (or the single
run when there was only one) and gives the CPU time per item beside the
baseline of the same shape from the same run, as a ratio. The baseline of
"Shape/Variant/args" is "Shape/Baseline/args". Then it checks the targets,
ratios to the baseline and, where Qt's and Coin's rows were built, times
against theirs.
Exits with 1 when a benchmark reported an error (one of its checks failed).
"""

import json
import sys

# Counters shown beside the times when a benchmark reports them.
EXTRA_COUNTERS = ("touches", "allocs_per_call", "heap_bytes_per_node", "sizeof_node", "vs_unsubscribed")

# (benchmark, what is compared, limit): ratios to the baseline unless noted.
TARGETS = (
    ("Chain/Library/1000", "ratio", 3.0),
    ("Chain/Library/100000", "ratio", 4.0),
    ("FanOut/Library/1000", "ratio", 4.0),
    ("FanOut/Library/100000", "ratio", 5.0),
    ("WatcherPoll/List/1000", "ratio", 2.5),
    ("WatcherPoll/List/10000", "ratio", 2.5),
    ("WatcherPoll/List/100000", "ratio", 2.5),
    ("WatcherPoll/Loop/1000", "ratio", 2.5),
    ("WatcherPoll/Loop/10000", "ratio", 2.5),
    ("WatcherPoll/Loop/100000", "ratio", 2.5),
    ("CreateDestroy/Library", "ratio", 4.0),
    ("HeapPerNode/Library/100000/iterations:1", "heap_bytes_per_node", 176.0),
    ("HeapPerNode/LibraryWithId/100000/iterations:1", "heap_bytes_per_node", 176.0),
    ("HeapPerEntry/Library/100000/iterations:1", "heap_bytes_per_entry", 48.0),
    ("AllocsPerTouch/Library/0", "allocs_per_call", 0.0),
    ("AllocsPerTouch/Library/1", "allocs_per_call", 0.0),
    ("AllocsPerTouch/Library/2", "allocs_per_call", 0.0),
    ("AllocsPerTouch/Subscribed", "allocs_per_call", 0.0),
    ("AllocsPerSet/Subscribed", "allocs_per_call", 1.0),  # the payload's, as AllocsPerSet/Property
    ("AllocsPerSet/UpdateUnchanged", "allocs_per_call", 0.0),
    ("BuildFanOut/Reserved/10000", "ratio", 3.0),
    ("BuildFanOut/Reserved/100000", "ratio", 3.0),
    ("BuildFanOut/Reserved/1000000", "ratio", 3.0),
    ("Lattice/OncePerObject/4/64", "ratio", 2.0),
    ("Lattice/OncePerObject/12/64", "ratio", 2.0),
    ("CycleCheck/Library/0", "ratio", 3.0),
    ("CycleCheck/Library/1", "ratio", 3.0),
    # Against Qt 6 in the same binary ("vs X": this row's time / X's, below 1 is ahead).
    ("FanOut/Library/1000", "vs FanOut/QtNotifier/1000", 1.0),
    ("FanOut/Library/100000", "vs FanOut/QtNotifier/100000", 1.0),
    ("FanOut/Library/100000", "vs FanOut/QtSignal/100000", 1.0),
    ("CreateDestroy/Library", "vs CreateDestroy/QtObject", 1.0),
    ("CreateDestroy/Library/100000", "vs CreateDestroy/QtObject/100000", 1.0),
    ("WatcherPoll/List/100000", "vs WatcherPoll/QtPointer/100000", 1.0),
    ("WatcherPoll/Loop/100000", "vs WatcherPoll/QtPointer/100000", 1.0),
    # Against Coin3D, the same way.
    ("FanOut/Library/1000", "vs FanOut/CoinParents/1000", 1.0),
    ("FanOut/Library/100000", "vs FanOut/CoinParents/100000", 1.0),
    ("CreateDestroy/Library", "vs CreateDestroy/CoinNode", 1.0),
    ("WatcherPoll/Loop/100000", "vs WatcherPoll/CoinNodeId/100000", 1.0),
    ("WatcherPoll/Loop/1000", "vs WatcherPoll/CoinNodeId/1000", 1.0),
    ("Save/Library/100000", "ratio", 3.0),
    ("Load/Library/100000", "ratio", 3.0),
)


def load(paths):
    """Rows by run name, in file order: the median aggregate, or the plain run."""
    rows = {}
    contexts = []
    for path in paths:
        with open(path, encoding="utf-8") as stream:
            text = stream.read()
        if not text.strip():
            continue  # the filter matched nothing in that binary
        data = json.loads(text)
        contexts.append(data.get("context", {}))
        medians = {}
        plain = {}
        for entry in data.get("benchmarks", []):
            name = entry.get("run_name", entry["name"])
            if entry.get("error_occurred"):
                plain[name] = dict(entry, error=entry.get("error_message", "error"))
            elif entry.get("run_type") == "aggregate":
                if entry.get("aggregate_name") == "median":
                    medians[name] = entry
                elif entry.get("aggregate_name") == "cv":
                    medians.setdefault(name + "#cv", entry)
            else:
                plain.setdefault(name, entry)
        for name, entry in plain.items():
            if "error" in entry or name not in medians:
                rows[name] = entry
        for name, entry in medians.items():
            if not name.endswith("#cv"):
                cv = medians.get(name + "#cv")
                rows[name] = dict(entry, cv=cv.get("cpu_time") if cv else None)
    return rows, contexts


def per_item_ns(entry):
    rate = entry.get("items_per_second")
    return 1e9 / rate if rate else None


def baseline_of(name):
    parts = name.split("/")
    if len(parts) < 2 or parts[1] == "Baseline":
        return None
    return "/".join([parts[0], "Baseline"] + parts[2:])


def fmt(value, digits=2):
    if value is None:
        return "-"
    if value >= 100:
        return f"{value:.0f}"
    return f"{value:.{digits}f}"


def main(paths):
    rows, contexts = load(paths)
    loads = sorted({tuple(round(x, 2) for x in c.get("load_avg", [])) for c in contexts})
    print(f"Load average while running (1, 5, 15 min), per binary: {', '.join(str(list(l)) for l in loads)}")
    print()
    print("| Benchmark | ns per item (median) | cv | baseline ns per item | ratio | counters |")
    print("| --- | ---: | ---: | ---: | ---: | --- |")
    ratios = {}
    errors = 0
    for name, entry in rows.items():
        if "error" in entry:
            print(f"| {name} | ERROR: {entry['error']} | | | | |")
            errors += 1
            continue
        mine = per_item_ns(entry)
        base_name = baseline_of(name)
        base = rows.get(base_name) if base_name else None
        base_ns = per_item_ns(base) if base and "error" not in base else None
        ratio = mine / base_ns if mine and base_ns else None
        ratios[name] = ratio
        cv = entry.get("cv")
        counters = ", ".join(f"{key}={fmt(entry[key])}" for key in EXTRA_COUNTERS if key in entry)
        cv_text = f"{cv * 100:.1f}%" if cv is not None else "-"
        print(f"| {name} | {fmt(mine)} | {cv_text} | {fmt(base_ns)} | {fmt(ratio)} | {counters} |")
    print()
    print("| Target | Measured | Limit | Met |")
    print("| --- | ---: | ---: | --- |")
    for name, what, limit in TARGETS:
        entry = rows.get(name)
        if entry is None or "error" in entry:
            print(f"| {name} {what} | missing | {fmt(limit)} | - |")
            continue
        if what.startswith("vs "):
            other = rows.get(what[3:])
            if other is None or "error" in other:
                print(f"| {name} {what} | missing | {fmt(limit)} | - |")
                continue
            mine, theirs = per_item_ns(entry), per_item_ns(other)
            value = mine / theirs if mine and theirs else None
        else:
            value = ratios.get(name) if what == "ratio" else entry.get(what)
        met = "yes" if value is not None and value <= limit else "NO"
        print(f"| {name} {what} | {fmt(value)} | {fmt(limit)} | {met} |")
    # A benchmark whose own check failed measured something else: say so by the exit status.
    return 1 if errors else 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1:]))
