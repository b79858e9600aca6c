"""What a Learner is given, made ready: example texts and labels, the
background as text and a private file, and the small array and error
helpers of its results."""
import hashlib
import io
import os
import random
import shutil
import tempfile
import weakref

from ._files import not_utf8
from ._host import DISCARD, library_run
from ._lint import _split_arguments, first_problem, warn_file


def example_texts(X, parameter="X"):
    """A list of example texts from a list, tuple, array, pandas Series or
    one-column DataFrame of texts."""
    if isinstance(X, (str, bytes)):
        raise TypeError(f"{parameter} must be a sequence of example texts, not one text")
    columns = getattr(X, "columns", None)
    if columns is not None:
        if len(columns) != 1:
            raise ValueError(f"{parameter} must have one column of example texts, "
                             f"got {len(columns)} columns")
        X = X.iloc[:, 0]
    if hasattr(X, "tolist"):
        X = X.tolist()
    try:
        items = list(X)
    except TypeError:
        raise TypeError(f"{parameter} must be a sequence of example texts, "
                        f"not {type(X).__name__}") from None
    texts = []
    for position, item in enumerate(items):
        if isinstance(item, (list, tuple)) and len(item) == 1:
            item = item[0]  # a row of a one-column array
        if not isinstance(item, str):
            raise TypeError(f"{parameter}[{position}] must be an example text, "
                            f"not {type(item).__name__}")
        text = item.strip()
        if not text:
            raise ValueError(f"{parameter}[{position}] is an empty example text")
        texts.append(text)
    return texts


def _labels(y, count):
    if isinstance(y, (str, bytes)):
        raise TypeError("y must be a sequence of 0/1 labels, not a text")
    if hasattr(y, "tolist"):
        y = y.tolist()
    labels = list(y)
    if len(labels) != count:
        raise ValueError(f"X holds {count} examples but y holds {len(labels)} labels")
    for position, label in enumerate(labels):
        if isinstance(label, bool) or label in (0, 1):
            continue
        raise ValueError(f"y must hold only the labels 0 and 1, got {label!r} at "
                         f"position {position}")
    return [int(label) for label in labels]


def _term(value):
    """A table cell as a Prolog term, quoted when Prolog would read it
    differently."""
    if isinstance(value, bool):
        value = str(value).lower()
    text = value if isinstance(value, str) else (
        str(value) if isinstance(value, int) else repr(value))
    if first_problem(f"p({text}).") is None:
        return text
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def _frame_facts(frame):
    facts = []
    for row in frame.itertuples(index=False):
        cells = [cell for cell in row if not _missing(cell)]
        if not cells:
            continue
        facts.append(f"{cells[0]}({','.join(_term(cell) for cell in cells[1:])}).")
    return facts


def _missing(cell):
    return cell is None or (isinstance(cell, float) and cell != cell)


def _not_utf8_file(path, data):
    """The error for a file that is not UTF-8, with the offset of its first
    bad byte in the whole file (a decoder reading in chunks counts from
    the chunk)."""
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as e:
        return not_utf8(path, e)
    return ValueError(f"{os.fsdecode(path)!r} is not UTF-8 text")


class _Background:
    """The background text and a private file holding it (made when first
    needed, removed with this object)."""

    def __init__(self, text, name, source=None):
        self.text = text
        self.name = name
        # (absolute path, SHA-256 of the bytes read) of a background file,
        # so that a saved theory can name exactly the file it was learned with.
        self.source = source
        self._folder = None

    @classmethod
    def from_parameter(cls, background):
        if isinstance(background, (str, os.PathLike)):
            warn_file(background, stacklevel=4)
            with open(background, "rb") as stream:
                data = stream.read()
            try:
                text = io.TextIOWrapper(io.BytesIO(data), encoding="utf-8").read()
            except UnicodeDecodeError:
                raise _not_utf8_file(background, data) from None
            source = (os.path.abspath(background), hashlib.sha256(data).hexdigest())
            return cls(text, os.fsdecode(background), source)
        if hasattr(background, "itertuples"):
            return cls("\n".join(_frame_facts(background)) + "\n", None)
        if isinstance(background, (list, tuple)):
            lines = [str(fact).strip() for fact in background]
            warn_file(lines, name="background", stacklevel=4)
            return cls("\n".join(lines) + "\n", None)
        raise TypeError("background must be a file name, a list of fact texts or a pandas "
                        f"DataFrame, not {type(background).__name__}")

    @property
    def path(self):
        if self._folder is None:
            self._folder = tempfile.mkdtemp(prefix="vantor-learner-")
            weakref.finalize(self, shutil.rmtree, self._folder, True)
            with open(os.path.join(self._folder, "BK.pl"), "w", encoding="utf-8") as out:
                out.write(self.text)
        return os.path.join(self._folder, "BK.pl")

    def facts(self):
        """predicate -> list of argument tuples of the background's facts."""
        table = {}
        for line in self.text.splitlines():
            text = line.strip()
            if not text or text.startswith(("%", ":-")) or ":-" in text or "(" not in text:
                continue
            name, inner = text.rstrip(".").split("(", 1)
            table.setdefault(name.strip(), []).append(
                tuple(_split_arguments(inner.rsplit(")", 1)[0])))
        return table

    def __getstate__(self):
        return {"text": self.text, "name": self.name, "source": self.source}

    def __setstate__(self, state):
        self.__init__(state["text"], state["name"], state.get("source"))


def _library_output(verbose):
    """Below verbose level 2 the library's printing (and what the programs
    it runs print) is dropped, for this thread only."""
    return library_run(output=None if verbose >= 2 else DISCARD)


def _library_run(verbose, random_state):
    """The context of one Learner call into the library, for this thread
    only: below verbose level 2 the library's theory and tables are dropped,
    and its draws come from a generator of the learner's own, seeded with
    ``random_state`` (None: with a draw from Python's generator, so that
    ``random.seed`` in a script still makes a fit repeatable). Fits in other
    threads neither see nor disturb either."""
    seed = random_state if random_state is not None else random.getrandbits(64)
    return library_run(output=None if verbose >= 2 else DISCARD, rng=random.Random(seed))


def _literal(text):
    name, inner = text.split("(", 1)
    return name.strip(), tuple(_split_arguments(inner.rsplit(")", 1)[0]))


def _is_variable(term):
    return bool(term) and (term[0].isupper() or term[0] == "_")


def _array(values):
    import numpy

    return numpy.asarray(values, dtype=int)


def _labels_array(values, classes):
    import numpy

    return numpy.asarray(values, dtype=classes.dtype)


def _input_tags():
    from sklearn.utils import InputTags

    return InputTags(one_d_array=True, two_d_array=False, string=True, categorical=True,
                     allow_nan=True)


def _not_fitted():
    try:
        from sklearn.exceptions import NotFittedError
    except ImportError:
        class NotFittedError(ValueError, AttributeError):
            pass
    return NotFittedError("this Learner is not fitted yet; call fit first")
