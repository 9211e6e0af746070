"""chart_model.py: the chart of chart_model.cpp, made and edited from Python.

    bash scripts/example.sh --python

A Chart shows two Series drawn against a time axis and a price axis, and a
Legend that lists the series; a Model holds them for saving. Each is a Python class whose properties and
references are nodes' own: the library propagates their changes, watchers
see them, the dump shows them and saving writes them. The program goes
through the steps one at a time and prints what happens; it exits non-zero
if something it shows did not hold, above all if a node is left behind.
"""

import gc
import sys

import qelchart as q


class Axis(q.Node):
    title = q.Property(str)
    min = q.Property(float, 0.0)
    max = q.Property(float, 1.0)
    logarithmic = q.Property(bool, False)


class Series(q.Node):
    label = q.Property(str)
    points = q.Property(int, 0)
    x_axis = q.Ref(Axis, dependent=True)
    y_axis = q.Ref(Axis, dependent=True)


class Legend(q.Node):
    visible = q.Property(bool, True)
    entries = q.RefList(Series, dependent=True)


class Chart(q.Node):
    title = q.Property(str)
    series = q.RefList(Series, dependent=True)
    legend = q.Ref(Legend, dependent=True)


for cls in (Axis, Series, Legend, Chart):
    q.register(cls)

failures = 0


def step(number, title):
    print(f"\n== Step {number}. {title}")


def expect(what, holds):
    global failures
    if not holds:
        failures += 1
        print(f"UNEXPECTED: {what}")


def build():
    step(1, "Nodes, properties and references")
    time = Axis("Time")
    time.title, time.max = "Date", 30.0
    price = Axis("Price")
    price.title, price.min, price.max = "USD", 90.0, 120.0
    series = []
    for label, points in (("Open price", 30), ("Close price", 30)):
        s = Series(label)
        s.label, s.points, s.x_axis, s.y_axis = label, points, time, price
        series.append(s)
    legend = Legend("Legend")
    legend.entries = series
    chart = Chart("Chart")
    chart.title, chart.series, chart.legend = "Prices", series, legend
    print(chart.dump(1), end="")
    expect("the price axis has both series as dependents", price.deps == tuple(series))
    return chart, time, price, series, legend


def propagation(chart, price, series):
    step(2, "One edit, every node that depends on it hears of it")
    heard = []
    subscriptions = [node.on_touched(lambda e, n=node: heard.append((n.name, e.relationship.name)))
                     for node in (chart, series[0])]
    with price.on_changed("max", lambda value: print(f"  price.max is now {value}")):
        price.max = 150.0
    for name, relationship in heard:
        print(f"  {name} heard of it ({relationship})")
    # The walk goes every path: price -> each series -> chart, and through
    # the legend too.
    expect("the series first, then the chart once per path",
           heard[0] == ("Open price", "Explicit") and [n for n, _ in heard[1:]] == ["Chart"] * 4)
    for subscription in subscriptions:
        subscription.cancel()


def watchers(chart, time, price, legend):
    step(3, "Watchers decide what to redraw")
    parts = q.WatcherList([q.Watcher(time), q.Watcher(price), q.Watcher(legend)])
    redraw = q.Watcher(chart)
    legend.visible = False
    indices = parts.modified_indices()
    print(f"  modified parts: {indices}; chart needs a redraw: {redraw.modified}")
    expect("only the legend changed", indices == [2] and redraw.modified)
    parts.reset()
    redraw.reset()
    expect("nothing to redraw after the reset", not parts.modified and not redraw.modified)


def batch_and_undo(chart, price, legend):
    step(4, "A batch of edits, and an undo")
    heard = []
    stack = q.UndoStack()
    with chart.on_touched(lambda e: heard.append(e.name)):
        with stack.transaction("Rescale the price axis"), q.ChangeBatch():
            price.min, price.max, price.title = 80.0, 200.0, "USD (rescaled)"
            legend.visible = True
            expect("nothing heard before the batch ends", heard == [])
        print(f"  the chart heard of the batch {len(heard)} time(s), first of '{heard[0]}'")
        expect("the chart heard of the batch once", len(heard) == 1)
        print(f"  undo '{stack.undo_text}': {stack.undo()}; price axis back to {price.min}..{price.max}")
    expect("the undo restored the values", (price.min, price.max, legend.visible) == (90.0, 150.0, False))
    expect("the undo can be redone", stack.can_redo and stack.redo_text == "Rescale the price axis")


def refusals(chart, price, series):
    step(5, "What the library refuses")
    try:
        price.depend_on(chart)
    except q.CycleError as error:
        print(f"  CycleError: {error}")
    try:
        price.max = "high"
    except TypeError as error:
        print(f"  TypeError: {error}; price.max stays {price.max}")
    try:
        series[0].x_axis = chart
    except q.NullPtrError as error:
        print(f"  NullPtrError: {error}")
    expect("nothing changed", price.max == 150.0 and series[0].x_axis.name == "Time")


def save_and_load(chart):
    model = q.Model()
    for node in (chart, *chart.series, chart.legend):
        model.add(node)
    step(6, "Saved, made again, and a damaged document refused")
    text = q.save(model)
    print(f"  {len(model)} nodes of the model, and the axes they reference: {len(text)} bytes of JSON")
    # The model loaded holds every node; references only point.
    loaded_model = q.load_model(text)
    loaded = loaded_model.find("Chart", Chart)
    print(f"  loaded: {loaded!r} with {[s.name for s in loaded.series]}")
    expect("the loaded chart is a Chart again", type(loaded) is Chart and type(loaded.legend) is Legend)
    expect("saving it again gives the same document", q.save(q.load_model(text)) == text)
    try:
        q.load(text.replace('"type":"double","value":150.0', '"type":"double","value":"lots"'))
        expect("the damaged document was refused", False)
    except q.LoadError as error:
        print(f"  LoadError: {error}")


def main():
    before = q._qelchart._live_nodes()
    chart, time, price, series, legend = build()
    propagation(chart, price, series)
    watchers(chart, time, price, legend)
    batch_and_undo(chart, price, legend)
    refusals(chart, price, series)
    save_and_load(chart)
    del chart, time, price, series, legend
    gc.collect()
    left = q._qelchart._live_nodes() - before
    step(7, "Nothing is left behind")
    print(f"  live nodes left = {left}")
    expect("every node ended", left == 0)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
