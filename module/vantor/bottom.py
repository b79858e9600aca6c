"""Bottom clauses of examples and example sets."""
import os
import pickle
import sys
import warnings
from typing import Any, Optional, Union

from . import _host
from ._core import _SetBuilder, bottom_clause, variabilise_example, variable_name
from ._files import AtomicFile, path_text, replace_together
from ._lint import lint_odd_lines, warn_file
from ._options import _n_jobs
from .data import read_example

_Path = Union[str, os.PathLike]

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


# Examples per share of a parallel build: at tens of microseconds per bottom
# clause a share runs for about ten milliseconds, far longer than handing it
# to a worker thread costs, and a list splits into enough shares to keep
# every worker busy to the end.
_SHARE = 500


def _workers(n_jobs, examples):
    """Threads for building ``examples``: joblib's reading of ``n_jobs``
    (1 is serial) for a list of at least two shares; one otherwise (nor is
    joblib imported then)."""
    if n_jobs == 1 or len(examples) < 2 * _SHARE:
        return 1
    import joblib

    return joblib.effective_n_jobs(n_jobs)


def _build(builder, depth, examples, container, tqdm_disable, parameter, size_limit,
           size_warning, n_jobs=1):
    if container != "dict" and not container:
        print(_MEMORY_NOTICE, file=_host.output())
    # The dictionary is lists of texts, which cannot form cycles.
    with _host.no_cycle_collection():
        workers = _workers(n_jobs, examples)
        if workers <= 1:
            return builder.build(examples, depth, bool(tqdm_disable), parameter, size_limit,
                                 size_warning)
        return _build_in_shares(builder, depth, examples, tqdm_disable, parameter, size_limit,
                                size_warning, workers)


def _build_in_shares(builder, depth, examples, tqdm_disable, parameter, size_limit,
                     size_warning, workers):
    """The dictionary ``builder.build`` gives, built by joblib worker threads
    share by share (the core builds without the GIL, so the threads run at
    once, one converting its share while another builds)."""
    import joblib
    from tqdm import tqdm

    builder.check_examples(examples, parameter)
    shares = [examples[start:start + _SHARE] for start in range(0, len(examples), _SHARE)]
    run = joblib.Parallel(n_jobs=workers, require="sharedmem", return_as="generator")
    built = run(joblib.delayed(builder.build_share)(share, depth, parameter, size_limit)
                for share in shares)
    parts = []
    with tqdm(total=len(examples), disable=bool(tqdm_disable), file=sys.stderr) as bar:
        for share, part in zip(shares, built):
            parts.append(part)
            bar.update(len(share))
    return builder.join(parts, depth, size_warning)


def _check_input(builder, background, example_sources):
    """One UserWarning per file holding a line Prolog reads differently. The
    background's candidate lines come from the builder's own read of it
    (which the builds then reuse); example files are small and read here."""
    for source in [background] + example_sources:
        if not isinstance(source, (str, os.PathLike)):
            continue
        try:
            if source is background:
                try:
                    message = lint_odd_lines(builder.odd_lines(), source)
                except ValueError:
                    # Not UTF-8: the builds will refuse the file; the checker
                    # still names its first odd line, reading it leniently.
                    warn_file(source, stacklevel=3)
                    continue
                if message:
                    warnings.warn(message, UserWarning, stacklevel=3)
            else:
                warn_file(source, stacklevel=3)
        except OSError:
            pass  # the builder reports an unreadable file when it needs it


def _warn_oversize(builder, stacklevel):
    message = builder.oversize_message()
    if message is not None:
        warnings.warn(message, RuntimeWarning, stacklevel=stacklevel + 1)


_SIZE_DOC = """size_limit : int or None, default None
        The most literals one bottom clause keeps (the first ones found;
        building stops there); None keeps all of them.
    size_warning : int or None, default 10000
        A bottom clause of more literals than this gives one RuntimeWarning
        per call, naming the first such example and suggesting a smaller
        depth; None never warns.
    follow : {'first', 'any'}, default 'first'
        'first' takes a fact when its first argument is known (or in the
        constant set) and it holds a known term; 'any' takes a fact when any
        of its arguments is a known term, so that facts such as
        teaches(course,ann) reach an example about ann. Passes, depth and
        the order of literals follow the same rules either way.
    numbers : {'constant', 'variable', 'compare'}, default 'constant'
        'constant' keeps numeric arguments as written; 'variable' turns them
        into variables like other terms (and makes them known terms), so
        that literals can share a value: size(A,C) and small(C) rather than
        size(A,0.3); 'compare' builds bottom clauses as 'variable' does.
    reach : {'passes', 'hops'}, default 'passes'
        'passes' scans the background `depth` times in file order (a fact
        found late in one pass opens the facts after it in the same pass,
        so depth does not bound the distance from the example); 'hops'
        walks breadth first from the example's terms: step k takes every
        fact that a term reached in step k - 1 opens (by the follow rule),
        at most `depth` steps, literals in the order of the steps, within a
        step by term (in the order the terms were reached) and then file
        order. The variables are named as under 'passes'.
    recall : int or None, default 100
        With reach='hops', the most facts of one predicate that one term
        opens (the first ones in file order); 100 keeps an ordinary object
        whole (a molecule's atoms and bonds, a person's relatives) while a
        hub term shared by thousands of facts (an element symbol, a bond
        type) brings only its first 100 of each predicate; None takes them
        all. Ignored by reach='passes'."""

_N_JOBS_DOC = """n_jobs : int, default 1
        Keyword only. Threads building bottom clauses at once (joblib's
        convention: 1 is serial, -1 every core); a list of at least 1,000
        examples is built in shares of 500. The result is the same for
        every value."""


def bottom_clauses_for_set(file: _Path, constant_set: Optional[list[str]], depth: int,
                           example_set: Union[list[str], _Path], dictionary_name: _Path,
                           container: str, tqdm_disable: bool, size_limit: Optional[int] = None,
                           size_warning: Optional[int] = 10000, follow: str = "first",
                           numbers: str = "constant", reach: str = "passes",
                           recall: Optional[int] = 100, *,
                           n_jobs: int = 1) -> Union[dict[str, list[str]], _Path]:
    n_jobs = _n_jobs("n_jobs", n_jobs)
    builder = _SetBuilder(file, constant_set, follow, numbers, reach, recall)
    target = None
    if container == "dict":
        target = AtomicFile(dictionary_name, "dictionary_name", binary=True)
    try:
        examples = _example_list(example_set, "example_set")
        dictionary = _build(builder, depth, examples, container, tqdm_disable, "example_set",
                            size_limit, size_warning, n_jobs)
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

    Parameters
    ----------
    file : str, os.PathLike or list of str
        Background file name, or a list of fact texts.
    constant_set : list of str
        Texts never turned into variables (see bottom_clause).
    depth : int
        Number of passes over the background, or of steps with reach='hops'
        (0: the values are head texts).
    example_set : str, os.PathLike or list of str
        An example file name, or a list of example texts; an empty text in
        the list is an error naming its place.
    dictionary_name : str or os.PathLike
        The file written in stored mode; an existing directory, FIFO or
        device of that name is an error and is left alone.
    container : str
        'dict' stores the dictionary (pickle) in `dictionary_name` and
        returns that name; any other value returns the dictionary itself; a
        false value also prints a notice saying so.
    tqdm_disable : bool
        True hides the progress bar (shown on stderr otherwise).
    """ + _SIZE_DOC + """
    """ + _N_JOBS_DOC + """

    Returns
    -------
    dict or str
        The dictionary: each example text, as read, to its bottom clause, in
        example order (a repeated example has one entry); in stored mode the
        name of the file holding it.

    Raises
    ------
    ValueError
        For a value of follow, numbers or reach that is none of the listed
        ones, a recall below 1, or an n_jobs of 0.

    Notes
    -----
    In stored mode the file is replaced only once the whole dictionary is
    written: a failed call (a full disk included) leaves an earlier file of
    that name untouched.

    Examples
    --------
    >>> bottoms = bottom_clauses_for_set("BK.pl", [], 2, ["grandparent(arthur,diana)."],
    ...                                  "unused", "memory", True)
    >>> bottoms["grandparent(arthur,diana)."]
    ['parent(A,C)', 'parent(C,B)', 'male(A)', 'male(C)', 'female(B)']
    """


def bottom_clause_generation(file: _Path = "BK.pl", container: str = "dict",
                             positive_example: Union[list[str], _Path] = "pos_example.f",
                             negative_example: Union[list[str], _Path, None] = "neg_example.n",
                             constant_set: Optional[list[str]] = None, depth: int = 2,
                             positive_file_dictionary: _Path = "positive_bottom_clause",
                             negative_file_dictionary: _Path = "negative_bottom_clause",
                             no_const: bool = False, tqdm_disable: bool = False,
                             size_limit: Optional[int] = None, size_warning: Optional[int] = 10000,
                             follow: str = "first", numbers: str = "constant",
                             reach: str = "passes", recall: Optional[int] = 100, *,
                             check_input: bool = True, n_jobs: int = 1) -> tuple[Any, Any]:
    del no_const
    n_jobs = _n_jobs("n_jobs", n_jobs)
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
    builder = _SetBuilder(file, constant_set, follow, numbers, reach, recall)
    if check_input:
        _check_input(builder, file, [examples for examples, _, _, _ in sets])
    try:
        if container == "dict":
            for path, (_, _, _, parameter) in zip(paths, sets):
                targets.append(AtomicFile(path, parameter, binary=True))
        results = []
        for examples, parameter, _, _ in sets:
            results.append(_build(builder, depth, _example_list(examples, parameter), container,
                                  tqdm_disable, parameter, size_limit, size_warning, n_jobs))
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

    Parameters
    ----------
    file : str, os.PathLike or list of str, default 'BK.pl'
        Background file name, or a list of fact texts. It is parsed once for
        both sets.
    container : str, default 'dict'
        'dict' stores each dictionary with pickle in
        `positive_file_dictionary` / `negative_file_dictionary` and returns
        the file names; any other value returns the dictionaries (a false
        value also prints "-------- Assuming container as memory --------").
    positive_example, negative_example : str, os.PathLike or list of str
        Example file names (default 'pos_example.f' and 'neg_example.n'), or
        lists of example texts; a false value (empty text or list, None)
        skips that set and gives an empty list in its place. An empty text
        inside a list is an error naming its place.
    constant_set : list of str, optional
        Texts never turned into variables; a new empty list when omitted.
    depth : int, default 2
        Number of passes over the background, or of steps with reach='hops'.
    positive_file_dictionary, negative_file_dictionary : str or os.PathLike
        The stored files (default 'positive_bottom_clause' and
        'negative_bottom_clause'); one file for both is an error, and so is
        an existing directory, FIFO or device of either name (it is left
        alone).
    no_const : optional
        Accepted and ignored.
    tqdm_disable : bool, default False
        True hides the progress bars.
    """ + _SIZE_DOC + """
    check_input : bool, default True
        Keyword only. True gives one UserWarning per background or example
        file that holds a line Prolog reads differently from the learner (a
        capitalised or quote-needing constant, a rule, a directive), naming
        the first such line.
    """ + _N_JOBS_DOC + """

    Returns
    -------
    positive, negative : tuple
        The two dictionaries (example text -> bottom clause) in memory mode,
        the two file names in stored mode; positives are built first. Read
        stored dictionaries back with read_pickle.

    Raises
    ------
    ValueError
        When both stored files are one file, for a value of follow, numbers
        or reach that is none of the listed ones, a recall below 1, or an
        n_jobs of 0.

    Notes
    -----
    Both dictionaries are built before either file is written; then both
    files are replaced, or, when anything fails (a full disk included),
    neither.

    Examples
    --------
    >>> pos, neg = bottom_clause_generation(container="memory", tqdm_disable=True)
    >>> pos["grandparent(arthur,diana)."]
    ['parent(A,C)', 'parent(C,B)', 'male(A)', 'male(C)', 'female(B)']
    >>> bottom_clause_generation(tqdm_disable=True)
    ('positive_bottom_clause', 'negative_bottom_clause')
    >>> len(read_pickle("negative_bottom_clause"))
    8
    """
