# ruff: noqa: UP006, UP007, UP035, UP045, B028 - annotations and warnings kept as the module has them
"""Global options of the Python port of kora.

Public functions:

- kora_get_option_default()
- kora_get_option(option=None)
- kora_set_option(**kwargs), also as kora_set_option("key", value)
- kora_enabled_Braidwell_features()
"""

# Plain-Python twin of the native module ``pykora.options``: the oracle of the
# differential tests and the baseline of the benchmark. It keeps its own store.
# isort: off

import os
import warnings
from typing import Any, Dict, Optional, Union  # noqa: F401 - used in text annotations

from pykora.kora_call import kora_call_builtin, weftgen_call_builtin, kora_remote_script
from pykora.utils import kora_anyMultibyteUTF8Characters as _any_mb
# isort: on

_KORA_OPTIONS = {}


def _cpu_default_string() -> "str":
    n = os.cpu_count()
    if not n:
        n = 1
    if not n < 16:
        n = 16
    if not n > 1:
        n = 1
    return str(n) + ":1"


def kora_get_option_default() -> "Dict[str, Any]":
    """
    Default options (no recursion to get current options).
    """
    return {
        "kora.arg": None,
        "weftgen.arg": "",
        "num.threads": _cpu_default_string(),
        "smtp": "default",
        "safe": True,
        "keep": False,
        "verbose": False,
        "save.memory": False,
        "internal.opt": True,
        "working.directory": None,
        "silent": True,
        "debug": False,
        "show.warning.graph.file": True,
        "scale.model.default": False,
        "short.summary": False,
        "kora.timeout": 0,
        "weftgen.timeout": 0,
        "kora.mode": "compact",
        "malloc.lib": "mi",
        "weftgen.evolution": 2,
        "weftgen.evolution.warn": True,
        "weftgen.evolution.verbosity": "default",
        "Braidwell.features": False,
        "numa": False,
    }


def kora_get_option(option: "Optional[Union[str, list]]" = None):
    """
    Get current option(s). If option is None, return a dict of current values.
    Special handling for 'kora.call' and 'weftgen.call' to avoid recursion.
    """
    defaults = kora_get_option_default()
    if "kora.call" not in _KORA_OPTIONS:
        defaults["kora.call"] = kora_call_builtin()
    if "weftgen.call" not in _KORA_OPTIONS:
        defaults["weftgen.call"] = weftgen_call_builtin()

    if option is None:
        out = dict(defaults)
        out.update(_KORA_OPTIONS)
        stored = _KORA_OPTIONS.get("kora.call", None)
        if isinstance(stored, str) and (
            stored.lower() == "remote" or stored.lower() == "kora.remote"
        ):
            rem = kora_remote_script()
            if rem:
                out["kora.call"] = rem
        return out

    keys = [option] if isinstance(option, str) else list(option)
    out_list = []
    for key in keys:
        if key in _KORA_OPTIONS and key != "kora.call":
            value = _KORA_OPTIONS[key]
        elif key == "kora.call":
            if "kora.call" in _KORA_OPTIONS:
                value = _KORA_OPTIONS["kora.call"]
            else:
                value = defaults["kora.call"]
            if isinstance(value, str) and (
                value.lower() == "remote" or value.lower() == "kora.remote"
            ):
                rem = kora_remote_script()
                if rem:
                    value = rem
        elif key in defaults:
            value = defaults[key]
        else:
            raise KeyError("Unknown option '" + str(key) + "'")
        out_list.append(value)
    if isinstance(option, str):
        return out_list[0]
    return out_list


def kora_set_option(*args, **kwargs) -> "None":
    """
    Set global options.

    Supports:
      kora_set_option("keep", True)
      kora_set_option(keep=True, num_threads="4:1")
      kora_set_option(keep=True, num_threads="4:1", verbose=True)
    """
    if len(args) == 2 and not kwargs:
        k, v = args
        if not isinstance(k, str):
            raise TypeError("First positional argument must be a string key")
        _set_one(k, v)
    elif len(args) == 0 and kwargs:
        for k, v in kwargs.items():
            _set_one(k, v)
    else:
        raise TypeError(
            "Use either kora_set_option('key', value) or kora_set_option(key=value, ...)."
        )
    _post_set_checks()
    return None


def _set_one(option: "str", value: "Any") -> "None":
    if type(option) is not str:
        raise TypeError(
            f"Argument 'option' has incorrect type (expected str, got {type(option).__name__})"
        )
    valid = set(kora_get_option_default().keys()) | {"kora.call", "weftgen.call"}
    if option not in valid:
        raise KeyError("Unknown option '" + option + "'")
    _KORA_OPTIONS[option] = value
    return None


def _post_set_checks() -> "None":
    mode = kora_get_option("kora.mode")
    if not (mode == "compact" or mode == "classic" or mode == "twostage" or mode == "experimental"):
        raise ValueError(
            "Invalid 'kora.mode'. Must be 'compact', 'classic', 'twostage', or 'experimental'."
        )
    if mode == "experimental":
        _KORA_OPTIONS["kora.mode"] = "compact"

    arg = kora_get_option("malloc.lib")
    if arg is None or arg == "default":
        _KORA_OPTIONS["malloc.lib"] = kora_get_option_default()["malloc.lib"]
    elif isinstance(arg, str) and arg.startswith("/") and not os.path.exists(arg):
        warnings.warn(
            "User-defined library for option 'malloc.lib', "
            + arg
            + ", does not exist. Using default."
        )
        _KORA_OPTIONS["malloc.lib"] = kora_get_option_default()["malloc.lib"]
    elif not (
        arg == "default" or arg == "compiler" or arg == "je" or arg == "tc" or arg == "mi"
    ) and not os.path.exists(arg):
        warnings.warn(
            "Value for option 'malloc.lib' = " + repr(arg) + " may not be available on this system."
        )

    wdir = kora_get_option("working.directory")
    if isinstance(wdir, str) and _any_mb(wdir):
        warnings.warn(
            "*** working.directory=["
            + wdir
            + "] contains multibyte characters. This may fail on some systems."
        )
    return None


def kora_enabled_Braidwell_features() -> "bool":  # noqa: N802 - public name
    return True if kora_get_option("Braidwell.features") else False
