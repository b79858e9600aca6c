"""Bottom clauses of examples and example sets."""
import os
import pickle
import warnings

from . import _host
from ._core import _SetBuilder, bottom_clause, variabilise_example, variable_name
from ._files import AtomicFile, path_text, replace_together
from ._lint import warn_file
from .data import read_example

__all__ = [
    "variable_name",
    "variabilise_example",
    "bottom_clause",
    "bottom_clauses_for_set",
    "bottom_clause_generation",
]

_MEMORY_NOTICE = "-------- Assuming container as memory --------"


def _same_file(first, second):
    if os.path.realpath(first) == os.path.realpath(second):
        return True
    try:
        return os.path.samefile(first, second)
    except OSError:
        return False


def _store(target, dictionary):
    """Writes ``dictionary`` with pickle into the AtomicFile ``target`` and
    checks that all of it reached the disk."""
    target.write_with(lambda stream: pickle.dump(dictionary, stream))
    target.finish()


def _example_list(example_set, parameter):
    if isinstance(example_set, list):
        return example_set
    if isinstance(example_set, (str, os.PathLike)):
        return read_example(example_set)
    raise TypeError(
        f"{parameter} must be an example file name or a list of example texts, "
        f"not {type(example_set).__name__}"
    )


def _build(builder, depth, examples, container, tqdm_disable, parameter, size_limit,
           size_warning):
    if container != "dict" and not container:
        print(_MEMORY_NOTICE, file=_host.output())
    return builder.build(examples, depth, bool(tqdm_disable), parameter, size_limit, size_warning)


def _warn_oversize(builder, stacklevel):
    message = builder.oversize_message()
    if message is not None:
        warnings.warn(message, RuntimeWarning, stacklevel=stacklevel + 1)


_SIZE_DOC = """size_limit: the most literals one bottom clause keeps (the first ones
        found; building stops there); None (default) keeps all of them.
    size_warning: a bottom clause of more literals than this (default 10000)
        gives one RuntimeWarning per call, naming the first such example and
        suggesting a smaller depth; None never warns.
    follow: 'first' (default) takes a fact when its first argument is known
        (or in the constant set) and it holds a known term; 'any' takes a
        fact when any of its arguments is a known term, so that facts such
        as teaches(course,ann) reach an example about ann. Passes, depth and
        the order of literals follow the same rules either way.
    numbers: 'constant' (default) keeps numeric arguments as written;
        'variable' turns them into variables like other terms (and makes
        them known terms), so that literals can share a value: size(A,C)
        and small(C) rather than size(A,0.3).
    Any other value of follow or numbers raises ValueError."""


def bottom_clauses_for_set(file, constant_set, depth, example_set, dictionary_name, container,
                           tqdm_disable, size_limit=None, size_warning=10000, follow="first",
                           numbers="constant"):
    builder = _SetBuilder(file, constant_set, follow, numbers)
    target = None
    if container == "dict":
        target = AtomicFile(dictionary_name, "dictionary_name", binary=True)
    try:
        examples = _example_list(example_set, "example_set")
        dictionary = _build(builder, depth, examples, container, tqdm_disable, "example_set",
                            size_limit, size_warning)
        _warn_oversize(builder, 2)
    except BaseException:
        if target is not None:
            target.discard()
        raise
    if target is None:
        return dictionary
    _store(target, dictionary)
    replace_together([target])
    return dictionary_name


bottom_clauses_for_set.__doc__ = """Bottom clauses of every example of one set.

    file: background file name, or a list of fact texts.
    constant_set: texts never turned into variables (see bottom_clause).
    depth: number of passes over the background (0: the values are head texts).
    example_set: an example file name, or a list of example texts; an empty
        text in the list is an error naming its place.
    dictionary_name: the file written in stored mode; an existing directory,
        FIFO or device of that name is an error and is left alone.
    container: 'dict' stores the dictionary (pickle) in `dictionary_name` and
        returns that name; any other value returns the dictionary itself; a
        false value also prints a notice saying so.
    tqdm_disable: true hides the progress bar (shown on stderr otherwise).
    """ + _SIZE_DOC + """

    The dictionary maps each example text, as read, to its bottom clause, in
    example order; a repeated example has one entry. In stored mode the file
    is replaced only once the whole dictionary is written: a failed call
    (a full disk included) leaves an earlier file of that name untouched.
    """


def bottom_clause_generation(file="BK.pl", container="dict", positive_example="pos_example.f",
                             negative_example="neg_example.n", constant_set=None, depth=2,
                             positive_file_dictionary="positive_bottom_clause",
                             negative_file_dictionary="negative_bottom_clause", no_const=False,
                             tqdm_disable=False, size_limit=None, size_warning=10000,
                             follow="first", numbers="constant", *, check_input=True):
    del no_const
    if constant_set is None:
        constant_set = []
    sets = []  # (examples, parameter, output name, output parameter)
    if positive_example:
        sets.append((positive_example, "positive_example", positive_file_dictionary,
                     "positive_file_dictionary"))
    if negative_example:
        sets.append((negative_example, "negative_example", negative_file_dictionary,
                     "negative_file_dictionary"))
    targets = []
    if container == "dict":
        paths = [path_text(name, parameter) for _, _, name, parameter in sets]
        if len(paths) == 2 and _same_file(*paths):
            raise ValueError(
                "positive_file_dictionary and negative_file_dictionary name the same file "
                f"({paths[0]!r}); the negative dictionary would overwrite the positive one"
            )
    builder = _SetBuilder(file, constant_set, follow, numbers)
    if check_input:
        for source in [file] + [examples for examples, _, _, _ in sets]:
            if isinstance(source, (str, os.PathLike)):
                try:
                    warn_file(source, stacklevel=2)
                except OSError:
                    pass  # the builder reports an unreadable file when it needs it
    try:
        if container == "dict":
            for path, (_, _, _, parameter) in zip(paths, sets):
                targets.append(AtomicFile(path, parameter, binary=True))
        results = []
        for examples, parameter, _, _ in sets:
            results.append(_build(builder, depth, _example_list(examples, parameter), container,
                                  tqdm_disable, parameter, size_limit, size_warning))
        _warn_oversize(builder, 2)
        if targets:
            # Both dictionaries are complete before either file is touched.
            for target, dictionary in zip(targets, results):
                _store(target, dictionary)
            replace_together(targets)
            results = [name for _, _, name, _ in sets]
    except BaseException:
        for target in targets:
            target.discard()
        raise
    positive = results.pop(0) if positive_example else []
    negative = results.pop(0) if negative_example else []
    return positive, negative


bottom_clause_generation.__doc__ = """Bottom clauses of the positive and the negative examples.

    file: background file name ('BK.pl'), or a list of fact texts. It is
        parsed once for both sets.
    container: 'dict' (default) stores each dictionary with pickle in
        `positive_file_dictionary` / `negative_file_dictionary` and returns
        the file names; any other value returns the dictionaries (a false
        value also prints "-------- Assuming container as memory --------").
    positive_example, negative_example: example file names, or lists of
        example texts; a false value (empty text or list, None) skips that
        set and gives an empty list in its place. An empty text inside a list
        is an error naming its place.
    constant_set: texts never turned into variables; a new empty list when
        omitted.
    depth: number of passes over the background (default 2).
    positive_file_dictionary, negative_file_dictionary: the stored files;
        one file for both is an error, and so is an existing directory, FIFO
        or device of either name (it is left alone). Both dictionaries are
        built before either file is written; then both files are replaced,
        or, when anything fails (a full disk included), neither.
    no_const: accepted and ignored.
    tqdm_disable: true hides the progress bars.
    """ + _SIZE_DOC + """
    check_input (keyword only): True (default) gives one UserWarning per
        background or example file that holds a line Prolog reads differently
        from the learner (a capitalised or quote-needing constant, a rule, a
        directive), naming the first such line.

    Returns (positive result, negative result); positives are built first.
    Read stored dictionaries back with read_pickle.

    >>> pos, neg = bottom_clause_generation(container="memory", tqdm_disable=True)
    """
