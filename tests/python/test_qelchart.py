"""The Python module: node classes, edits, callbacks, watchers, saving."""

import gc
import threading

import pytest

import qelchart as q


class Series(q.Node):
    values = q.Property(int, 0)
    label = q.Property(str)


class Axis(q.Node):
    max = q.Property(float, 1.0)
    title = q.Property(str)
    visible = q.Property(bool, True)


class Chart(q.Node):
    x_axis = q.Ref(Axis, dependent=True)
    y_axis = q.Ref("Axis")
    series = q.RefList(Series, dependent=True)


class LogAxis(Axis):
    base = q.Property(float, 10.0)


for cls in (Series, Axis, Chart, LogAxis):
    q.register(cls, "py." + cls.__name__)


@pytest.fixture(autouse=True)
def no_node_left():
    """Every test ends with as many nodes as it started with."""
    gc.collect()
    before = q._qelchart._live_nodes()
    yield
    gc.collect()
    assert q._qelchart._live_nodes() == before


def make_chart():
    """A chart, its two axes and two series (a plain function: pytest keeps
    fixture values until after the node count is checked)."""
    x, y = Axis("x"), LogAxis("y")
    s1, s2 = Series("s1"), Series("s2")
    c = Chart("chart")
    c.x_axis, c.y_axis, c.series = x, y, [s1, s2]
    return c, x, y, s1, s2


def test_declarations_are_the_node_tables_in_order():
    axis = LogAxis()
    dump = axis.dump(2)
    # Inherited declarations first, each in declaration order.
    assert [line.split()[0] for line in dump.splitlines() if " = " in line] == ["max", "title", "visible", "base"]
    assert (axis.max, axis.title, axis.visible, axis.base) == (1.0, None, True, 10.0)


@pytest.mark.parametrize("attribute, good, bad", [
    ("max", 2.5, "high"), ("max", 3, True), ("title", "t", 1.0), ("visible", False, 1),
])
def test_values_of_the_wrong_type_raise_and_change_nothing(attribute, good, bad):
    axis = Axis()
    setattr(axis, attribute, good)
    time = axis.time
    with pytest.raises(TypeError):
        setattr(axis, attribute, bad)
    assert getattr(axis, attribute) == good and axis.time == time
    setattr(axis, attribute, None)
    assert getattr(axis, attribute) is None


def test_int_out_of_64_bits_is_refused():
    series = Series()
    with pytest.raises(ValueError):
        series.values = 1 << 64
    assert series.values == 0


def test_node_attributes():
    a, b = Axis("a"), Axis()
    a.user_tag = 7
    assert (a.name, b.name, a.user_tag, b.user_tag) == ("a", "", 7, 4294967295)
    assert b.unique_id > a.unique_id and a.id == a.id and a.id != b.id
    assert a.depend_on(b) and not a.depend_on(b) and b.deps == (a,)
    with pytest.raises(q.CycleError, match="Cyclic Dependency"):
        b.depend_on(a)
    assert a.stop_depending_on(b) and b.deps == ()


def test_references_check_classes_and_links():
    c, x, y, s1, s2 = make_chart()
    assert (c.x_axis, c.y_axis, list(c.series)) == (x, y, [s1, s2])
    assert x.deps == (c,) and y.deps == () and s1.deps == (c,)
    with pytest.raises(q.NullPtrError, match="failed to cast"):
        c.x_axis = s1
    with pytest.raises(q.NullPtrError):
        c.series = [s1, x]  # checked before anything changes
    assert c.x_axis is x and list(c.series) == [s1, s2]
    c.series.remove(s1)
    assert s1.deps == () and s1 not in c.series and len(c.series) == 1
    c.x_axis = None
    assert x.deps == ()


def test_propagation_callbacks_and_subscriptions():
    c, x, y, s1, _ = make_chart()
    events, values = [], []
    with c.on_touched(events.append) as sub, x.on_changed("max", values.append):
        x.max = 4.0
        s1.label = "one"
    assert [(e.change, e.relationship, e.name, e.value) for e in events] == [
        (q.Change.Edit, q.Relationship.Explicit, "max", 4.0),
        (q.Change.Edit, q.Relationship.Explicit, "label", "one")]
    assert events[0].originator is x and values == [4.0] and not sub.active
    x.max = 5.0
    assert len(events) == 2 and values == [4.0]


def test_a_raising_callback_reaches_the_editor():
    c, x, *_ = make_chart()

    def boom(event):
        raise KeyError("boom")

    sub = c.on_touched(boom)
    with pytest.raises(KeyError, match="boom"):
        x.max = 2.0
    assert x.max == 2.0
    sub.cancel()
    x.max = 3.0


def test_a_garbage_collected_subscription_releases_what_it_holds():
    axis = Axis()
    other = Axis()
    sub = axis.on_touched(lambda e, keep=other: None)  # holds a node
    del other, sub
    gc.collect()  # the fixture sees that the captured node went


def test_watchers_decide_redraws():
    c, x, y, *_ = make_chart()
    watchers = q.WatcherList([q.Watcher(x), q.Watcher(c)])
    watchers.append(q.Watcher(y))
    assert not watchers.modified
    x.max = 9.0
    assert watchers.modified_indices() == [0, 1]
    watchers.reset()
    assert not watchers.modified
    with pytest.raises(TypeError):
        watchers.append(x)


def test_save_and_load_make_the_python_classes_again():
    c, *_ = make_chart()
    c.x_axis.max, c.series[0].values = 2.5, 7
    text = q.save([c])
    assert '"class":"py.Chart"' in text and '"class":"py.LogAxis"' in text
    (loaded,) = q.load(text)
    assert type(loaded) is Chart and type(loaded.y_axis) is LogAxis
    assert (loaded.x_axis.max, loaded.series[0].values, loaded.series[1].name) == (2.5, 7, "s2")
    assert loaded.x_axis.deps == (loaded,)
    assert q.save(q.load(text)) == text
    # Owned by the loaded model alone, a node comes back as the same object
    # while that lives, and as a new one of its class after.
    axis = loaded.x_axis
    axis.note = "an attribute of this object"
    assert loaded.x_axis is axis
    del axis
    again = loaded.x_axis
    assert type(again) is Axis and not hasattr(again, "note") and again.max == 2.5


def test_save_and_load_refusals():
    class Unsaved(q.Node):
        pass

    with pytest.raises(q.SaveError, match="no name"):
        q.save([Unsaved()])
    with pytest.raises(ValueError, match="taken"):
        q.register(Unsaved, "py.Axis")
    bad = '{"format":1,"nodes":[{"class":"py.Axis","properties":{"max":{"type":"string","value":"x"}}}],"roots":[0]}'
    with pytest.raises(q.LoadError, match="/nodes/0/properties/max"):
        q.load(bad)
    assert issubclass(q.LoadError, ValueError)


def test_threads_editing_models_of_their_own():
    def edit():
        c = Chart()
        x = Axis()
        c.x_axis = x
        sub = c.on_touched(lambda e: None)
        for i in range(2000):
            x.max = float(i)
        sub.cancel()

    threads = [threading.Thread(target=edit) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def test_model_holds_finds_and_round_trips():
    model = q.Model()
    c, x, y, s1, s2 = make_chart()
    for node in (c, x, y, s1, s2, x):
        model.add(node)
    assert len(model) == 5 and list(model)[0] is c and s2 in model
    assert model.find("y") is y and model.find("y", Series) is None and model.find("none") is None
    text = q.save(model)
    loaded = q.load_model(text)
    assert [type(n) for n in loaded] == [Chart, Axis, LogAxis, Series, Series] and q.save(loaded) == text
    assert model.remove(s2) and not model.remove(s2) and len(model) == 4


def test_a_batch_defers_the_walk_and_callbacks_to_its_commit():
    c, x, *_ = make_chart()
    events, values = [], []
    with c.on_touched(lambda e: events.append(e.name)), x.on_changed("max", values.append):
        with q.ChangeBatch() as batch:
            x.max, x.max, x.title = 2.0, 3.0, "t"
            assert batch.active and events == [] and values == [] and x.max == 3.0
        assert not batch.active and events == ["max"] and values == [3.0]
        batch = q.ChangeBatch()
        x.max = 4.0
        batch.commit()
        assert values == [3.0, 4.0]


@pytest.mark.parametrize("use", [
    lambda n: n.max, lambda n: setattr(n, "max", 2.0), lambda n: n.touch(), lambda n: n.deps,
    lambda n: q.Watcher(n), lambda n: Chart().__setattr__("x_axis", n), lambda n: q.save([n]),
])
def test_an_object_made_without_init_raises_instead_of_reaching_a_node(use):
    with pytest.raises(TypeError, match="without __init__"):
        use(Axis.__new__(Axis))


def test_a_dependent_hears_of_an_end_without_its_originator():
    source, dependent = Axis(), Axis()
    dependent.depend_on(source)
    heard = []
    with dependent.on_touched(lambda e: heard.append((e.change, e.originator, dependent.deps))):
        del source
        gc.collect()
    assert heard == [(q.Change.Deallocate, None, ())]


def test_undo_and_redo_of_transactions():
    c, x, y, s1, _ = make_chart()
    stack = q.UndoStack()
    redraw = q.Watcher(c)
    with stack.transaction("scale"):
        x.max, x.title, c.x_axis = 8.0, "t", y
        c.series.remove(s1)
    assert (stack.can_undo, stack.undo_text, stack.can_redo) == (True, "scale", False)
    redraw.reset()
    assert stack.undo() and not stack.undo()
    assert (x.max, x.title, c.x_axis, list(c.series)[0]) == (1.0, None, x, s1) and redraw.modified
    assert x.deps == (c,) and y.deps == ()
    assert stack.redo() and (x.max, c.x_axis, len(c.series)) == (8.0, y, 1)
    with pytest.raises(KeyError):
        with stack.transaction("refused"):
            x.max = 99.0
            raise KeyError("rolled back")
    assert x.max == 8.0 and stack.undo_text == "scale"
    transaction = stack.transaction("by hand")
    x.max = 3.0
    transaction.commit()
    assert stack.undo_text == "by hand" and not transaction.open
    with pytest.raises(ValueError):
        transaction.commit()
