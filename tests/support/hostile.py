"""Objects whose methods raise, for the hostile-input tests."""

from contextlib import contextmanager


class Boom(Exception):
    pass


def raiser(*_args, **_kwargs):
    raise Boom("hostile")


def hostile(**methods):
    return type("Hostile", (), {name: raiser for name in methods})()


class RaisingKey:
    """A module-namespace key that collides with the name `text`: looking
    that name up compares the two, which raises while the key is armed."""

    armed = False

    def __init__(self, text):
        self.text = text

    def __hash__(self):
        return hash(self.text)

    def __eq__(self, other):
        if RaisingKey.armed:
            raise Boom(f"compared with {other!r}")
        return NotImplemented


@contextmanager
def raising_lookup(namespace, name):
    """Makes every lookup of `name` in `namespace` raise Boom: a colliding
    key goes in ahead of it. The namespace is restored as it was, in order."""
    saved = dict(namespace)
    value = namespace.pop(name, None)
    namespace[RaisingKey(name)] = None
    if name in saved:
        namespace[name] = value
    RaisingKey.armed = True
    try:
        yield
    finally:
        RaisingKey.armed = False
        namespace.clear()
        namespace.update(saved)


def slot_classes():
    """Classes whose instances take 0 to 39 slots: made before an object is
    freed, their instances made after it take back its address, whatever its
    size, as long as nothing else holds it."""
    return [type(f"S{n}", (), {"__slots__": [f"s{i}" for i in range(n)]}) for n in range(40)]
