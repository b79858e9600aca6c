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
    ("depth", 2, "passes over the background when building bottom clauses. Default 2; an "
     "int of at least 0."),
    ("encoder_strategy", "equal_count", "how a table's numeric columns are cut into ranges "
     "when X is a DataFrame: 'equal_count' (default), 'equal_width' or 'entropy' (cuts "
     "where the class changes); see TableEncoder."),
    ("n_ranges", 3, "number of ranges of a table's numeric columns (for 'entropy' the "
     "largest number) when X is a DataFrame. Default 3; an int of at least 1."),
    ("follow", "first", "which facts bottom clauses take: 'first' (default) those whose first "
     "argument is a known term, 'any' those with a known term in any argument."),
    ("size_limit", None, "most literals a bottom clause keeps; None (default) keeps all."),
    ("size_warning", 10000, "a bottom clause longer than this gives a RuntimeWarning; None "
     "never warns. Default 10000."),
    ("verbose", 0, "0 (default) prints nothing, 1 shows progress bars on stderr, 2 also "
     "prints the library's theory and tables."),
    ("random_state", None, "an int seeds Python's random generator (the library's only "
     "one) before fitting, making a fit repeatable; None (default) leaves it as it is."),
)
_PARAMS = tuple(name for name, _, _ in _OWN[:4]) + _LEARNING_NAMES + tuple(
    name for name, _, _ in _OWN[4:])
_DEFAULTS = {name: default for name, default, _ in _OWN}
_DEFAULTS.update({option.name: option.default for option in _LEARNING})
_MEASURES = ("accuracy", "precision", "sensitivity", "specificity", "fscore")


def _signature():
    self_parameter = inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)
    parameters = [self_parameter]
    for name in _PARAMS:
        kind = (inspect.Parameter.POSITIONAL_OR_KEYWORD if name == "background"
                else inspect.Parameter.KEYWORD_ONLY)
        parameters.append(inspect.Parameter(name, kind, default=_DEFAULTS[name]))
    return inspect.Signature(parameters)


def _parameters_doc():
    lines = ["Parameters", "----------"]
    for name, _, text in _OWN:
        lines += textwrap.wrap(f"{name}: {text}", width=76, subsequent_indent="    ")
    return "\n".join(lines) + "\n\n" + options_doc(indent="", skip=("verbose",))



def _differs(value, default):
    try:
        return bool(value != default)
    except Exception:
        return True
