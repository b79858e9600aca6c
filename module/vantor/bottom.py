"""Bottom clauses of examples and example sets."""
import os
import pickle
import stat
import sys
import tempfile

from ._core import _SetBuilder, bottom_clause, variabilise_example, variable_name
from .data import read_example

__all__ = [
    "variable_name",
    "variabilise_example",
    "bottom_clause",
    "bottom_clauses_for_set",
    "bottom_clause_generation",
]

_MEMORY_NOTICE = "-------- Assuming container as memory --------"


def _target_path(name, parameter):
    if isinstance(name, str):
        return name
    if isinstance(name, os.PathLike):
        path = os.fspath(name)
        if isinstance(path, str):
            return path
    raise TypeError(
        f"{parameter} must be a file name (str or os.PathLike), not {type(name).__name__}"
    )


class _AtomicPickle:
    """A pickle file that replaces `path` only once it is complete.

    The temporary file is created up front, beside the target, so that an
    unwritable place is reported before any work is done; it is removed
    again when anything fails, leaving an earlier file of that name as it
    was.
    """

    def __init__(self, path, parameter):
        if not path:
            raise FileNotFoundError(2, "No such file or directory", path)
        # Through a symbolic link, as writing the file in place would go.
        self.path = os.path.realpath(path) if os.path.islink(path) else path
        directory = os.path.dirname(os.path.abspath(self.path))
        try:
            fd, self.temporary = tempfile.mkstemp(
                prefix="." + os.path.basename(self.path) + ".", suffix=".tmp", dir=directory
            )
        except FileNotFoundError:
            raise FileNotFoundError(
                2, f"No such directory for {parameter}", path
            ) from None
        self.stream = os.fdopen(fd, "wb")

    def commit(self, value):
        try:
            pickle.dump(value, self.stream)
            self.stream.flush()
            os.fsync(self.stream.fileno())
            self.stream.close()
            # mkstemp makes the file private to its owner; give it the mode
            # the file had, or the one a plain open() would have given.
            try:
                mode = stat.S_IMODE(os.stat(self.path).st_mode)
            except OSError:
                umask = os.umask(0)
                os.umask(umask)
                mode = 0o666 & ~umask
            os.chmod(self.temporary, mode)
            os.replace(self.temporary, self.path)
        except BaseException:
            self.discard()
            raise

    def discard(self):
        self.stream.close()
        try:
            os.unlink(self.temporary)
        except FileNotFoundError:
            pass


def _example_list(example_set, parameter):
    if isinstance(example_set, list):
        return example_set
    if isinstance(example_set, (str, os.PathLike)):
        return read_example(example_set)
    raise TypeError(
        f"{parameter} must be an example file name or a list of example texts, "
        f"not {type(example_set).__name__}"
    )


def _for_set(builder, depth, example_set, dictionary_name, container, tqdm_disable, parameter,
             name_parameter):
    examples = _example_list(example_set, parameter)
    if container == "dict":
        target = _AtomicPickle(_target_path(dictionary_name, name_parameter), name_parameter)
        try:
            dictionary = builder.build(examples, depth, bool(tqdm_disable), parameter)
        except BaseException:
            target.discard()
            raise
        target.commit(dictionary)
        return dictionary_name
    if not container:
        print(_MEMORY_NOTICE, file=sys.stdout)
    return builder.build(examples, depth, bool(tqdm_disable), parameter)


def bottom_clauses_for_set(file, constant_set, depth, example_set, dictionary_name, container,
                           tqdm_disable):
    """Bottom clauses of every example of one set.

    file: background file name, or a list of fact texts.
    constant_set: texts never turned into variables (see bottom_clause).
    depth: number of passes over the background (0: the values are head texts).
    example_set: an example file name, or a list of example texts.
    dictionary_name: the file written in stored mode.
    container: 'dict' stores the dictionary (pickle) in `dictionary_name` and
        returns that name; any other value returns the dictionary itself; a
        false value also prints a notice saying so.
    tqdm_disable: true hides the progress bar (shown on stderr otherwise).

    The dictionary maps each example text, as read, to its bottom clause, in
    example order; a repeated example has one entry. In stored mode the file
    is replaced only once the whole dictionary is written: a failed call
    leaves an earlier file of that name untouched.
    """
    builder = _SetBuilder(file, constant_set)
    return _for_set(builder, depth, example_set, dictionary_name, container, tqdm_disable,
                    "example_set", "dictionary_name")


def bottom_clause_generation(file="BK.pl", container="dict", positive_example="pos_example.f",
                             negative_example="neg_example.n", constant_set=None, depth=2,
                             positive_file_dictionary="positive_bottom_clause",
                             negative_file_dictionary="negative_bottom_clause", no_const=False,
                             tqdm_disable=False):
    """Bottom clauses of the positive and the negative examples.

    file: background file name ('BK.pl'), or a list of fact texts. It is
        parsed once for both sets.
    container: 'dict' (default) stores each dictionary with pickle in
        `positive_file_dictionary` / `negative_file_dictionary` and returns
        the file names; any other value returns the dictionaries (a false
        value also prints "-------- Assuming container as memory --------").
    positive_example, negative_example: example file names, or lists of
        example texts; a false value (empty text or list, None) skips that
        set and gives an empty list in its place.
    constant_set: texts never turned into variables; a new empty list when
        omitted.
    depth: number of passes over the background (default 2).
    no_const: accepted and ignored.
    tqdm_disable: true hides the progress bars.

    Returns (positive result, negative result); positives are built first.
    Read stored dictionaries back with read_pickle.

    >>> pos, neg = bottom_clause_generation(container="memory", tqdm_disable=True)
    """
    del no_const
    if constant_set is None:
        constant_set = []
    builder = _SetBuilder(file, constant_set)
    positive = []
    negative = []
    if positive_example:
        positive = _for_set(builder, depth, positive_example, positive_file_dictionary, container,
                            tqdm_disable, "positive_example", "positive_file_dictionary")
    if negative_example:
        negative = _for_set(builder, depth, negative_example, negative_file_dictionary, container,
                            tqdm_disable, "negative_example", "negative_file_dictionary")
    return positive, negative
