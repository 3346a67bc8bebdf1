"""pykora.binary as a module: what it binds, its function objects, how calls bind arguments."""

import copy
import inspect
import pathlib
import pickle
import typing

import numpy as np
import pytest

FUNCTIONS = {
    "kora_read_binary_file": {"path": "str | Path", "return": "Optional[np.ndarray]"},
    "_split_vector_blocks": {"vec": "Sequence[float]", "return": "List[Tuple[float, np.ndarray]]"},
    "kora_interpret_vector": {"vec": "Optional[Sequence[float]]", "return": "Optional[np.ndarray]"},
    "kora_interpret_vector_list": {
        "vec": "Optional[Sequence[float]]",
        "return": "Optional[List[np.ndarray]]",
    },
}
TYPING_NAMES = ["List", "Optional", "Sequence", "Tuple"]


def test_module_binds_its_names_in_order(binary):
    names = [name for name in vars(binary) if not name.startswith("__")]
    assert names == ["Path", *TYPING_NAMES, "np", "_F8_LE", *FUNCTIONS]
    assert (binary.Path, binary.np, binary._F8_LE) == (pathlib.Path, np, "<f8")
    assert all(getattr(binary, name) is getattr(typing, name) for name in TYPING_NAMES)
    assert binary.__doc__.strip()
    doc = binary.kora_read_binary_file.__doc__
    assert "File-system location of the binary file." in doc and "ndarray or None" in doc


@pytest.mark.parametrize(("name", "annotations"), FUNCTIONS.items())
def test_function_objects(binary, oracle, name, annotations):
    func = getattr(binary, name)
    assert (func.__name__, func.__qualname__, func.__module__) == (name, name, "pykora.binary")
    assert inspect.signature(func) == inspect.signature(getattr(oracle, name))
    assert func.__annotations__ == annotations and func.__doc__.strip()
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(func, protocol)) is func
    assert copy.deepcopy(func) is func
    func.__dict__["tag"] = name
    assert func.tag == name
    del func.tag


@pytest.mark.parametrize("name", FUNCTIONS)
def test_argument_errors_name_the_function(binary, name):
    func, param = getattr(binary, name), next(iter(FUNCTIONS[name]))
    count = name + "() takes exactly 1 positional argument ({} given)"
    unexpected = name + "() got an unexpected keyword argument 'x'"
    for args, kwargs, message in [
        ((), {}, count.format(0)),
        ((None, None), {}, count.format(2)),
        ((None, None), {param: None}, count.format(2)),
        ((), {param: None, "x": 1}, unexpected),
        ((None,), {"x": 1}, unexpected),
        ((None,), {param: None}, f"{name}() got multiple values for keyword argument '{param}'"),
    ]:
        with pytest.raises(TypeError) as caught:
            func(*args, **kwargs)
        assert str(caught.value) == message


def test_parameters_can_be_given_by_keyword(binary, write_file):
    path = write_file(np.float64(3.0).tobytes())
    assert binary.kora_read_binary_file(path=path).tolist() == [3.0]
    assert binary._split_vector_blocks(vec=[1, 1, 2, 3])[0][1].tolist() == [[2.0, 3.0]]
    assert binary.kora_interpret_vector(vec=[1, 1, 2, 3]).tolist() == [[2.0, 3.0]]
    assert binary.kora_interpret_vector_list(vec=[1, 1, 2, 3])[0].tolist() == [[2.0, 3.0]]
