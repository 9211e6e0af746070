"""Chart models of Qel.Chart.Core, from Python.

Define node classes with Property, Ref and RefList class attributes; each
instance is a node of the library, seen by its accessors, dumps, watchers,
propagation and saving like any node::

    class Axis(qelchart.Node):
        max = qelchart.Property(float, 1.0)
        title = qelchart.Property(str)

    class Chart(qelchart.Node):
        x_axis = qelchart.Ref(Axis, dependent=True)
        series = qelchart.RefList(Series)

A Python object owns its node as a C++ Ptr does. Nodes that C++ made (by
load) come back as objects of their Python classes, made without calling
__init__.
"""

from . import _qelchart
from ._qelchart import (  # noqa: F401  (the public names)
    Change,
    ChangeBatch,
    CheckFailed,
    CycleError,
    Identifier,
    Kind,
    LoadError,
    Model,
    NullPtrError,
    Relationship,
    SaveError,
    Subscription,
    TouchEvent,
    Transaction,
    UndoStack,
    Watcher,
    load_model,
    save,
)

__all__ = [
    "Node", "Property", "Ref", "RefList", "Watcher", "WatcherList", "Subscription", "TouchEvent",
    "Identifier", "Change", "Kind", "Relationship", "Model", "ChangeBatch", "UndoStack", "Transaction", "register", "save", "load",
    "load_model",
    "CycleError", "LoadError", "SaveError", "CheckFailed", "NullPtrError",
]

_PROPERTY, _REF, _REF_LIST = 0, 1, 2


class _Slot:
    """A declared property or reference: a descriptor onto the node's own."""

    _kind = None

    def __set_name__(self, owner, name):
        self.name = name

    def __get__(self, node, owner=None):
        if node is None:
            return self
        return node._get(self.name)

    def __set__(self, node, value):
        node._set(self.name, value)

    def _declaration(self):
        raise NotImplementedError


class Property(_Slot):
    """A property of type bool, int, float or str; None means undefined.

    A value of another type raises TypeError and changes nothing (an int is
    taken for a float, a bool is not taken for an int).
    """

    _kind = _PROPERTY

    def __init__(self, type, default=None):
        self.type = type
        self.default = default

    def _declaration(self):
        return (_PROPERTY, self.name, self.type, self.default, None, False)


class Ref(_Slot):
    """A reference to one node of class `target` (a Node class, or its name).

    With dependent=True the owner is a dependent of what it references, and
    hears of its changes. None clears it.
    """

    _kind = _REF

    def __init__(self, target=None, dependent=False):
        self.target = target
        self.dependent = dependent

    def _declaration(self):
        return (self._kind, self.name, None, None, _resolve(self.target), self.dependent)


class RefList(Ref):
    """An ordered list of nodes of class `target`, each listed once.

    Reading gives a live view with append, remove and clear; assigning an
    iterable replaces the list (every element is checked first).
    """

    _kind = _REF_LIST


def _resolve(target):
    if isinstance(target, str):
        for cls in _declared:
            if cls.__name__ == target or cls.__qualname__ == target:
                return cls
        raise TypeError(f"no qelchart.Node class named {target!r} is declared (yet)")
    return target


_declared = []


class Node(_qelchart.NodeBase):
    """The base of node classes; see the module's documentation."""

    def __init__(self, name=None):
        _qelchart.NodeBase.__init__(self, type(self))
        self._bind()
        if name is not None:
            self.name = name

    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        declarations = {}
        for klass in reversed(cls.__mro__):
            for attribute, value in vars(klass).items():
                if isinstance(value, _Slot):
                    # A redeclaration keeps the place of the first.
                    declarations[attribute] = value._declaration()
        _qelchart._declare(cls, list(declarations.values()))
        _declared.append(cls)

    def __repr__(self):
        name = self.name
        return f"<{type(self).__qualname__} {name!r} #{self.unique_id}>" if name else \
            f"<{type(self).__qualname__} #{self.unique_id}>"


# Any node: the target class that takes them all, and the class of nodes
# that C++ classes made.
_qelchart._declare(Node, [])


def load(text):
    """The roots of a saved document, as objects of their registered classes.

    Raises LoadError (a ValueError) naming the place and the cause; then no
    node made by the load survives.
    """
    return _qelchart.load(text)


def register(cls, name=None):
    """Saves and loads nodes of `cls` under `name` (default: the class's name).

    Returns the class, so that it serves as a decorator too. A name taken
    already raises ValueError.
    """
    if not (isinstance(cls, type) and issubclass(cls, Node)):
        raise TypeError(f"register takes a class derived from qelchart.Node, not {cls!r}")
    _qelchart._register(cls, name or cls.__name__)
    return cls


class WatcherList:
    """Watchers in order: `modified` is true when one of them is."""

    def __init__(self, watchers=()):
        self._watchers = list(watchers)

    def append(self, watcher):
        if not isinstance(watcher, Watcher):
            raise TypeError(f"a WatcherList holds qelchart.Watcher objects, not {watcher!r}")
        self._watchers.append(watcher)

    def __len__(self):
        return len(self._watchers)

    def __iter__(self):
        return iter(self._watchers)

    def __getitem__(self, index):
        return self._watchers[index]

    @property
    def modified(self):
        return any(watcher.modified for watcher in self._watchers)

    def modified_indices(self):
        return [index for index, watcher in enumerate(self._watchers) if watcher.modified]

    def reset(self):
        for watcher in self._watchers:
            watcher.reset()
