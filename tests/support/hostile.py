"""Objects whose methods raise, for the hostile-input tests."""


class Boom(Exception):
    pass


def raiser(*_args, **_kwargs):
    raise Boom("hostile")


def hostile(**methods):
    return type("Hostile", (), {name: raiser for name in methods})()
