"""Scripts of option calls, and replaying one against a module: what the
option tests compare between the native module and its reference."""

import random
import sys
import warnings


class Text(str):
    pass


def op(name, *args, **kwargs):
    return name, args, kwargs


SET, GET = "kora_set_option", "kora_get_option"
FIXED = [
    op(SET), op(SET, "keep"), op(SET, 5, 1), op(SET, Text("keep"), 1), op(SET, keep=1, Keep=2),
    op("_set_one", None, 1), op(GET, 5), op(GET, [[]]), op(GET, ("kora.remote",)),
    op(GET, option="num.threads"), op(SET, "kora.call", "Remote"), op(GET),
    op(SET, "weftgen.call", "kora.remote"), op(GET, ["kora.call", "weftgen.call"]),
    op(SET, "working.directory", b"\xc3\xa7"), op(SET, "malloc.lib", 987654), op(GET),
]  # fmt: skip
KEYS = [
    "keep", "debug", "kora.mode", "malloc.lib", "working.directory", "kora.call", "weftgen.call",
    "Braidwell.features", "num.threads", "Keep", "num_threads", "kora.remote",
]  # fmt: skip
VALUES = {
    "kora.mode": ["compact", "classic", "experimental", "fast", None],
    "malloc.lib": [None, "default", "tc", "/no/lib.so", "bar", "./x.so", sys.executable],
    "working.directory": [None, "/tmp", "/tmp/ü", ""],
    "kora.call": ["remote", "KORA.remote", " remote", "kora", None],
}


def random_script(seed, length=40):
    rnd = random.Random(seed)

    def pair():
        key = rnd.choice(KEYS)
        return key, rnd.choice(VALUES.get(key, [True, False, 0, "no", None]))

    makers = [
        lambda: op(SET, *pair()),
        lambda: op(SET, **dict(pair() for _ in range(rnd.randint(1, 3)))),
        lambda: op(GET, rnd.choice(KEYS)),
        lambda: op(GET, rnd.sample(KEYS, rnd.randint(0, 3))),
        lambda: op(GET),
        lambda: op("kora_enabled_Braidwell_features"),
    ]
    return [rnd.choice(makers)() for _ in range(length)]


def replay(mod, script):
    """Outcome, warnings and store contents after each operation of ``script``."""
    log = []
    for name, args, kwargs in script:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                outcome = ("returned", getattr(mod, name)(*args, **kwargs))
            except Exception as exc:  # the exception is the observation
                outcome = ("raised", type(exc), str(exc))
        heard = [(w.category, str(w.message)) for w in caught]
        log.append((name, args, kwargs, outcome, heard, list(mod._KORA_OPTIONS.items())))
    return log
