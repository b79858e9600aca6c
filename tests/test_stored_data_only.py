"""Stored dictionaries are loaded as data: a file that names a function or a
class is refused before any of it runs; read_pickle still reads anything."""
import builtins
import collections
import fractions
import os
import pickle

import pytest

from vantor import (
    read_pickle,
    split_examples,
    vantor_abduction,
    vantor_folds,
    vantor_folds_generation,
    vantor_train_test_split,
)
from vantor._files import load_stored


class _RunsCommand:
    """Unpickling this calls os.system, which creates the marker file."""

    def __init__(self, marker):
        self.marker = marker

    def __reduce__(self):
        return (os.system, (f"touch {self.marker}",))


class _CallsBuiltin:
    """A global from the builtins module that is no data type."""

    def __init__(self, name, *args):
        self.name, self.args = name, args

    def __reduce__(self):
        return (getattr(builtins, self.name), self.args)


@pytest.fixture
def crafted(tmp_path, monkeypatch):
    """A stored dictionary whose one value would run a shell command."""
    monkeypatch.chdir(tmp_path)
    marker = tmp_path / "marker"
    path = tmp_path / "crafted"
    path.write_bytes(pickle.dumps({"p(a).": [_RunsCommand(marker)]}))
    return path, marker


READERS = {
    "split_examples": lambda path: split_examples(path),
    "split_examples_str": lambda path: split_examples(str(path)),
    "train_test_split_pos": lambda path: vantor_train_test_split(
        positive_file_dictionary=path, negative_file_dictionary=""),
    "train_test_split_neg": lambda path: vantor_train_test_split(
        positive_file_dictionary="", negative_file_dictionary=path),
    "folds": lambda path: vantor_folds(2, False, path, ""),
    "folds_generation": lambda path: vantor_folds_generation(path, 2, False),
    "abduction": lambda path: vantor_abduction(path, ["ab"], meta_rule=["h(A):-p(A,X)&ab(X)"]),
}


@pytest.mark.parametrize("reader", READERS.values(), ids=list(READERS))
def test_readers_refuse_a_file_that_would_run_code(crafted, reader):
    path, marker = crafted
    with pytest.raises(pickle.UnpicklingError, match=r"global (posix|nt)\.system") as info:
        reader(path)
    assert "read_pickle" in str(info.value)  # says how to read a trusted file
    assert not marker.exists()
    assert not os.path.exists("abduced_facts.txt")


@pytest.mark.parametrize("call", [
    _CallsBuiltin("eval", "1"),
    _CallsBuiltin("getattr", 1, "real"),
    _CallsBuiltin("__import__", "os"),
    _CallsBuiltin("open", "anything"),
    fractions.Fraction(1, 3),
    collections.Counter("ab"),
])
@pytest.mark.parametrize("protocol", [0, 2, pickle.HIGHEST_PROTOCOL])
def test_only_the_data_types_are_allowed_globals(tmp_path, call, protocol):
    # Builtins such as eval share a module with dict and list: the allowance
    # is by name, not by module.
    path = tmp_path / "stored"
    path.write_bytes(pickle.dumps({"p(a).": [call]}, protocol=protocol))
    with pytest.raises(pickle.UnpicklingError, match="global"):
        load_stored(path, "data")


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_plain_data_of_every_protocol_loads(tmp_path, protocol):
    value = {
        "p(a).": ["q(A,B)", "r(B)"],
        "numbers": [0, -7, 2**70, 1.5, float("inf"), True, False, None],
        "containers": ((1, "x"), {3, 4}, frozenset({"y"}), b"\x00\xffraw",
                       collections.OrderedDict([("z", 1), ("a", 2)])),
        "nested": {"k": [{"deep": ("t",)}]},
    }
    path = tmp_path / "stored"
    path.write_bytes(pickle.dumps(value, protocol=protocol))
    loaded = load_stored(path, "data")
    assert loaded == value
    assert type(loaded["containers"][4]) is collections.OrderedDict
    assert list(loaded["containers"][4]) == ["z", "a"]


def test_old_protocol_bytes_only_through_their_own_encoding(tmp_path):
    class OtherCodec:
        def __reduce__(self):
            import _codecs
            return (_codecs.encode, ("eA==", "base64"))

    path = tmp_path / "stored"
    path.write_bytes(pickle.dumps([OtherCodec()], protocol=2))
    with pytest.raises(pickle.UnpicklingError, match="base64"):
        load_stored(path)


def test_persistent_references_are_refused(tmp_path):
    import io

    class WithReferences(pickle.Pickler):
        def persistent_id(self, obj):
            return "ref" if obj == "shared" else None

    buffer = io.BytesIO()
    WithReferences(buffer).dump({"p(a).": ["shared"]})
    path = tmp_path / "stored"
    path.write_bytes(buffer.getvalue())
    with pytest.raises(pickle.UnpicklingError, match="persistent"):
        load_stored(path)


def test_refusal_still_reports_cut_off_files_as_such(tmp_path):
    whole = pickle.dumps({"p(a).": [{1, 2}, frozenset({3})]}, protocol=2)
    path = tmp_path / "cut"
    path.write_bytes(whole[:-3])
    with pytest.raises(ValueError, match="empty or truncated"):
        split_examples(path)


def test_read_pickle_still_reads_any_object(tmp_path):
    path = tmp_path / "stored"
    path.write_bytes(pickle.dumps({"share": fractions.Fraction(1, 3)}))
    assert read_pickle(path) == {"share": fractions.Fraction(1, 3)}
    with pytest.raises(pickle.UnpicklingError):
        split_examples(path)
