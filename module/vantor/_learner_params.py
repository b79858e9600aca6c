"""The Learner's constructor parameters: its own (background, bottom
clauses, tables, output) and every learning option of the one options list,
with their defaults, signature and documentation."""
import inspect
import textwrap

from ._options import _OPTIONS, options_doc

# The library's own ``verbose`` is a quiet switch; here it has the usual
# meaning, so the option becomes this class's own parameter.
_LEARNING = tuple(option for option in _OPTIONS if option.name != "verbose")
_LEARNING_NAMES = tuple(option.name for option in _LEARNING)
_OWN = (
    ("background", "BK.pl", "the background knowledge: a file name, a list of fact texts "
     "('parent(ann,bob).'), or a pandas DataFrame whose rows are (predicate, argument, "
     "...) with missing trailing arguments left empty. A list or DataFrame is written to "
     "a private temporary file the learner owns. Default 'BK.pl'."),
    ("auto", True, "True (default): every parameter left at None is chosen from the training "
     "examples alone (see Notes); False: each takes its plain default."),
    ("depth", 2, "passes over the background when building bottom clauses. Default 2; an "
     "int of at least 0."),
    ("encoder_strategy", "equal_count", "how a table's numeric columns are cut into ranges "
     "when X is a DataFrame: 'equal_count', 'equal_width' or 'entropy' (cuts where the "
     "class changes); see TableEncoder. Default None: chosen (auto), else 'equal_count'."),
    ("n_ranges", 3, "number of ranges of a table's numeric columns (for 'entropy' the "
     "largest number) when X is a DataFrame; an int of at least 1. Default None: chosen "
     "(auto), else 3."),
    ("follow", "first", "which facts bottom clauses take: 'first' those whose first argument "
     "is a known term, 'any' those with a known term in any argument. Default None: chosen "
     "(auto), else 'first'."),
    ("reach", "passes", "how far bottom clauses reach: 'passes' scans the background depth "
     "times; 'hops' takes the facts at most depth steps from the example, breadth first "
     "(see bottom_clause_generation). Default None: 'hops' (auto), else 'passes'."),
    ("recall", 100, "with reach='hops', the most facts of one predicate one term brings into "
     "a bottom clause (the first in file order). Default 100; None takes all."),
    ("size_limit", None, "most literals a bottom clause keeps; None (default) keeps all."),
    ("size_warning", 10000, "a bottom clause longer than this gives a RuntimeWarning; None "
     "never warns. Default 10000."),
    ("verbose", 0, "0 (default) prints nothing, 1 shows progress bars on stderr, 2 also "
     "prints the library's theory and tables."),
    ("random_state", None, "seed of the generator a fit draws from, its own (fits in "
     "other threads never share it, and Python's random generator is left alone): an int "
     "makes a fit repeatable; None (default) seeds it with a draw from Python's random "
     "generator, so random.seed in a script does."),
)
_OWN_TYPES = {"background": "str, os.PathLike, list of str or pandas.DataFrame",
              "auto": "bool", "depth": "int", "encoder_strategy": "str or None",
              "n_ranges": "int or None", "follow": "str or None",
              "reach": "str or None", "recall": "int or None",
              "size_limit": "int or None", "size_warning": "int or None", "verbose": "int",
              "random_state": "int or None"}
_PARAMS = tuple(name for name, _, _ in _OWN[:5]) + _LEARNING_NAMES + tuple(
    name for name, _, _ in _OWN[5:])
_DEFAULTS = {name: default for name, default, _ in _OWN}
_DEFAULTS.update({option.name: option.default for option in _LEARNING})
# Parameters whose default is None, "choose": from the training examples
# with auto=True, else their plain default. None survives get_params and
# scikit-learn's clone, so a value the user gave stays given in every copy.
_CHOSEN = ("coverage", "selection", "search", "reach", "max_literals", "recursive", "follow",
           "numbers", "min_pos", "max_neg", "min_precision", "eval_fn", "encoder_strategy",
           "n_ranges")
_PLAIN = {name: _DEFAULTS[name] for name in _CHOSEN}
_DEFAULTS.update({name: None for name in _CHOSEN})
_MEASURES = ("accuracy", "precision", "sensitivity", "specificity", "fscore")


def _signature():
    self_parameter = inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)
    parameters = [self_parameter]
    for name in _PARAMS:
        kind = (inspect.Parameter.POSITIONAL_OR_KEYWORD if name == "background"
                else inspect.Parameter.KEYWORD_ONLY)
        parameters.append(inspect.Parameter(name, kind, default=_DEFAULTS[name]))
    return inspect.Signature(parameters)


def _parameters_doc(indent="    "):
    """The Parameters and Learning options sections of the class docstring
    (numpydoc entries), indented for the class body."""
    lines = ["Parameters", "----------"]
    for name, _, text in _OWN:
        # The Learner's own default: None where it chooses.
        lines.append(f"{name} : {_OWN_TYPES[name]}, default {_DEFAULTS[name]!r}")
        lines += textwrap.wrap(text, width=72, initial_indent="    ", subsequent_indent="    ")
    own = "\n".join(indent + line for line in lines)
    return own + "\n\n" + options_doc(indent=indent, skip=("verbose",))


def _differs(value, default):
    try:
        return bool(value != default)
    except Exception:
        return True


# What a saved theory's header records (Learner.save) and Learner.load takes
# back from it.
_SAVED = _LEARNING_NAMES + ("depth",)


def _header_options(path, options):
    """The options of a theory file's header that a loaded learner takes.
    The header is data from a file: it may shorten the time bound but never
    lengthen or remove it (None or more than the default becomes the
    default). Other names are left out; values are checked by the caller."""
    if options is None:
        return {}
    if not isinstance(options, dict):
        raise ValueError(f"{path!r}: the header's options must be a JSON object, "
                         f"got {type(options).__name__}")
    chosen = {name: value for name, value in options.items() if name in _SAVED}
    limit, default = chosen.get("time_limit"), _DEFAULTS["time_limit"]
    if limit is None or (isinstance(limit, (int, float)) and not isinstance(limit, bool)
                         and limit > default):
        chosen["time_limit"] = default
    return chosen


def _header_scores(path, scores):
    """The training measures of a header: None or measure -> number or null."""
    numbers = (int, float, type(None))
    if scores is None or (isinstance(scores, dict) and all(
            isinstance(v, numbers) and not isinstance(v, bool) for v in scores.values())):
        return scores
    raise ValueError(f"{path!r}: the header's training scores must map measures to numbers")

