"""What the module-level code of a function looks up, read off the bytecode
of its plain-Python reference, so that a test can rebind each of those names
and see that the native function takes the rebinding into account.

A dependency is a tuple: a module global or builtin with the attributes read
straight off it (``("np", "asarray")``, ``("os", "path", "exists")``,
``("round",)``), or an attribute read off a local or a result, written with a
leading dot (``(".exists",)``).
"""

import builtins
import dis
import types

_ATTRIBUTE_LOADS = {"LOAD_ATTR", "LOAD_METHOD"}


def _codes(function):
    codes = [function.__code__]
    while codes:
        code = codes.pop()
        yield code
        codes.extend(c for c in code.co_consts if isinstance(c, types.CodeType))


def dependencies(module, name):
    """The dependencies of ``module.name``: globals of ``module`` and builtins
    with the attribute chains read off them, and attributes of other objects;
    with those of the module's own functions that it calls, which look their
    names up while it runs."""
    found, functions, done = set(), [name], set()
    while functions:
        function = functions.pop()
        done.add(function)
        direct = direct_dependencies(module, function)
        found |= direct
        functions.extend(
            head
            for head, *_ in direct
            if head not in done
            and getattr(vars(module).get(head), "__module__", None) == module.__name__
        )
    return found


def direct_dependencies(module, name):
    """The dependencies that the code of ``module.name`` itself has."""
    found = set()
    for code in _codes(getattr(module, name)):
        chain = None
        for instruction in dis.get_instructions(code):
            if instruction.opname in _ATTRIBUTE_LOADS and chain is not None:
                chain.append(instruction.argval)
                continue
            if chain is not None:
                found.add(tuple(chain))
                chain = None
            if instruction.opname == "LOAD_GLOBAL":
                chain = [instruction.argval]
            elif instruction.opname in _ATTRIBUTE_LOADS:
                found.add(("." + instruction.argval,))
        if chain is not None:
            found.add(tuple(chain))
    for dependency in found:
        head = dependency[0]
        if not head.startswith(".") and head not in vars(module) and not hasattr(builtins, head):
            raise AssertionError(f"{name} looks up {head}, which is neither a global nor a builtin")
    return found


class Recorder:
    """Wraps callables so that each call is logged under a name."""

    def __init__(self):
        self.log = []

    def wrap(self, name, original):
        def recorded(*args, **kwargs):
            self.log.append(name)
            return original(*args, **kwargs)

        return recorded
