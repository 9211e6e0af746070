"""Python against C++ on the same library: a timeit script (run by scripts/bench.sh).

    PYTHONPATH=<build>/python python3 bench/python_bench.py [results dir]

Prints, as a Markdown table:
- a property set from Python on a node with 1,000 dependents, beside the
  same set from C++ (PropertySetWide/Property/1000 of bench_propagation,
  read from the results directory when it holds bench_propagation.json);
- a callback from C++ into Python: a touch with one on_touched subscriber,
  less the same touch without one;
- the memory of a node made from Python, beside a C++ node
  (HeapPerNode/Library/100000 of bench_nodes): malloc's bytes in use per
  node, measured in a child run with PYTHONMALLOC=malloc so that Python's
  own objects are counted there too.
"""

import ctypes
import gc
import json
import os
import subprocess
import sys
import timeit

import qelchart as q


class Axis(q.Node):
    max = q.Property(float, 1.0)
    min = q.Property(float, 0.0)
    title = q.Property(str)
    visible = q.Property(bool, True)


def best_per_call(statement, number, repeat=5):
    """The best of `repeat` runs, in nanoseconds per call."""
    return min(timeit.repeat(statement, number=number, repeat=repeat)) / number * 1e9


def python_set_wide():
    axis = Axis()
    dependents = [q.Node() for _ in range(1000)]
    for dependent in dependents:
        dependent.depend_on(axis)
    values = iter(range(10**9))

    def set_once():
        axis.max = float(next(values))

    return best_per_call(set_once, 2000)


def python_callback():
    plain, heard = Axis(), Axis()
    calls = []
    subscription = heard.on_touched(lambda event: calls.append(None))
    with_callback = best_per_call(heard.touch, 20000)
    without = best_per_call(plain.touch, 20000)
    subscription.cancel()
    assert calls, "the callback was never called"
    return with_callback, without


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                 "uordblks", "fordblks", "keepcost")]


def heap_in_use():
    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = _MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def bytes_per_node(make, count=100_000):
    gc.collect()
    before = heap_in_use()
    nodes = [make() for _ in range(count)]
    gc.collect()
    after = heap_in_use()
    per_node = (after - before) / count
    del nodes
    return per_node


def memory_child():
    # The list that holds the nodes counts too: 8 bytes per node.
    print(json.dumps({"bare": bytes_per_node(q.Node), "axis": bytes_per_node(Axis)}))


def cxx_rows(results):
    rows = {}
    for binary in ("bench_propagation", "bench_nodes"):
        path = os.path.join(results, binary + ".json") if results else None
        if not path or not os.path.exists(path):
            continue
        with open(path) as file:
            for entry in json.load(file).get("benchmarks", []):
                if entry.get("aggregate_name", "median") == "median":
                    rows[entry["run_name"] if "run_name" in entry else entry["name"]] = entry
    return rows


def cxx_ns(row):
    if row is None:
        return None
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[row.get("time_unit", "ns")]
    return row["cpu_time"] * scale


def fmt(value, unit):
    return "n/a (not in the results)" if value is None else f"{value:,.0f} {unit}"


def main(results):
    if os.environ.get("QEL_PYTHON_BENCH_MEMORY") == "1":
        memory_child()
        return 0
    wide = python_set_wide()
    with_callback, without = python_callback()
    child = subprocess.run([sys.executable, __file__], env=dict(os.environ, PYTHONMALLOC="malloc",
                           QEL_PYTHON_BENCH_MEMORY="1"), capture_output=True, text=True, check=True)
    memory = json.loads(child.stdout)
    rows = cxx_rows(results)
    cxx_wide = cxx_ns(rows.get("PropertySetWide/Property/1000"))
    heap_rows = [row for name, row in rows.items() if name.startswith("HeapPerNode/Library/100000")]
    cxx_heap = heap_rows[0].get("heap_bytes_per_node") if heap_rows else None

    print("| Python | figure | C++ | figure | Python / C++ |")
    print("|---|---|---|---|---|")
    ratio = f"{wide / cxx_wide:.2f}" if cxx_wide else ""
    print(f"| `axis.max = v`, 1,000 dependents | {fmt(wide, 'ns')} | `Property<int>::Set`, 1,000 dependents "
          f"| {fmt(cxx_wide, 'ns')} | {ratio} |")
    print(f"| `node.touch()`, one Python `on_touched` | {fmt(with_callback, 'ns')} | the same touch without "
          f"| {fmt(without, 'ns')} | callback: {with_callback - without:,.0f} ns |")
    ratio = f"{memory['bare'] / cxx_heap:.2f}" if cxx_heap else ""
    print(f"| heap per `qelchart.Node()` | {fmt(memory['bare'], 'B')} | heap per C++ node "
          f"| {fmt(cxx_heap, 'B')} | {ratio} |")
    print(f"| heap per `Axis()` (4 properties) | {fmt(memory['axis'], 'B')} | | | |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else None))
