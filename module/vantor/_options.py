"""The learning options: one record, built from keyword arguments with each
value checked once.

Every learning setting is listed once, in ``_OPTIONS``: its parameter name,
default, annotation and check. ``learn_options`` builds a ``LearnOptions``
from keyword arguments; ``takes_learn_options`` gives a public function the
settings as its own trailing parameters (so ``help`` shows them with their
annotations) and hands them on as one ``options`` record, which the core
reads by field name. A new setting is a line here, a field of the core's
record and the stage that reads it.

Messages have one form: ``<name> must be <what it must be>, not <type>``
(TypeError) or ``<name> must be <what it must be>, got <value>``
(ValueError).
"""
import functools
import inspect
import operator
import textwrap
from collections.abc import Iterable
from typing import Optional, Union

__all__ = ["LearnOptions", "learn_options", "takes_learn_options"]


def _type_error(name, expected, value):
    return TypeError(f"{name} must be {expected}, not {type(value).__name__}")


def _texts(name, value):
    """A list of texts; a single text is refused (it would be read letter by letter)."""
    if value is None:
        return []
    if isinstance(value, (str, bytes)) or not isinstance(value, Iterable):
        raise _type_error(name, "a list of texts", value)
    items = list(value)
    for item in items:
        if not isinstance(item, str):
            raise _type_error(name, "a list of texts (every element a str)", item)
    return items


def _constant_set(name, value):
    """Terms never turned into variables. A member that is no text can never
    equal a term, so it is left out."""
    if value is None:
        return []
    if isinstance(value, (str, bytes)) or not isinstance(value, Iterable):
        raise _type_error(name, "a list of texts", value)
    return [item for item in value if isinstance(item, str)]


def _threshold(name, value):
    """A count compared with covered examples; a float is a threshold too."""
    if isinstance(value, float):
        return value
    try:
        return operator.index(value)
    except TypeError:
        raise _type_error(name, "a number (an int, or a float threshold)", value) from None


def _count(name, value):
    if isinstance(value, float):
        raise _type_error(name, "an int", value)
    try:
        return operator.index(value)
    except TypeError:
        raise _type_error(name, "an int", value) from None


def _key_size(name, value):
    """None for a value that tests false (a tenth of the positives is then
    drawn), else a number of examples; a float is kept for the stages that
    can take one."""
    if not value:
        return None
    if isinstance(value, float):
        return value
    try:
        count = operator.index(value)
    except TypeError:
        raise _type_error(
            name, "a number of examples (an int) or a value that tests false, such as [] or 0",
            value) from None
    if count < 0:
        raise ValueError(f"{name} must be a positive number of examples, got {count}")
    return count


def _bc_count(name, value, given):
    """Read only when ``reduce_bc`` is set; otherwise any value goes."""
    if not given["reduce_bc"]:
        return 20
    count = _count(name, value)
    if count < 0:
        raise ValueError(f"{name} must be at least 0 (a number of literals), got {count}")
    return count


def _body_size(name, value):
    """0 is accepted (no template is generated, so nothing is learned); a
    negative size is refused."""
    count = _count(name, value)
    if count < 0:
        raise ValueError(f"{name} must be at least 0 (a number of body literals), got {count}")
    return count


def _flag(name, value):
    return bool(value)


def _one_of(*allowed):
    def check(name, value):
        if not isinstance(value, str):
            raise _type_error(name, "a str", value)
        if value not in allowed:
            raise ValueError(f"{name} must be one of {', '.join(map(repr, allowed))}, got {value!r}")
        return value
    return check


_COVER_SCORES = ("accuracy", "coverage", "compression")
_SEARCH_SCORES = _COVER_SCORES + ("laplace", "m_estimate")


def _eval_fn(name, value, given):
    """Any text with the greedy selection, which scores by accuracy whatever
    the name; one of the cover scores with ``selection='cover'``, one of the
    search scores with ``search='refine'``."""
    if given["search"] == "refine":
        return _one_of(*_SEARCH_SCORES)(name, value)
    if given["selection"] != "cover":
        return value if isinstance(value, str) else "accuracy"
    return _one_of(*_COVER_SCORES)(name, value)


def _fraction(name, value):
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise _type_error(name, "a number between 0 and 1", value)
    if not 0.0 <= value <= 1.0:
        raise ValueError(f"{name} must be between 0 and 1, got {value!r}")
    return float(value)


def _max_rules(name, value):
    if value is None:
        return -1
    count = _count(name, value)
    if count < 1:
        raise ValueError(f"{name} must be None (no limit) or at least 1, got {count}")
    return count


def _seconds(name, value):
    """A positive number of seconds, or None for no bound (0 in the record)."""
    if value is None:
        return 0.0
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise _type_error(name, "a number of seconds or None", value)
    if not value > 0:
        raise ValueError(f"{name} must be a positive number of seconds or None, got {value!r}")
    return float(value)


def _at_least(least):
    def check(name, value):
        count = _count(name, value)
        if count < least:
            raise ValueError(f"{name} must be at least {least}, got {count}")
        return count
    return check


def _none_or_at_least(least):
    """None (0 in the record: every example, or the search's own rule), else
    a count of at least ``least``."""
    def check(name, value):
        return 0 if value is None else _at_least(least)(name, value)
    return check


def _n_jobs(name, value):
    """The joblib convention: a positive count, or -1 for every core (-2 all
    but one, ...); 0 is refused."""
    count = _count(name, value)
    if count == 0:
        raise ValueError(f"{name} must be a positive number of workers or negative (-1: all cores), got 0")
    return count


class _Option:
    __slots__ = ("name", "default", "annotation", "check", "field", "doc")

    def __init__(self, name, default, annotation, check, field=None, doc=None):
        self.name = name
        self.default = default
        self.annotation = annotation
        self.check = check
        # What the option does and which values it takes (shown by help()).
        self.doc = doc
        # The record's field; None for a parameter that is accepted and unused.
        self.field = name if field is None and check is not None else field


# The precision a rule needs in the cover selection; chosen by
# cross-validation over the shared ILP data sets (benchmarks/quality.py).
DEFAULT_MIN_PRECISION = 0.65

_Texts = Optional[list[str]]
_Number = Union[int, float]
_OPTIONS = (
    _Option("constant_set", None, _Texts, _constant_set),
    _Option("meta_rule", None, _Texts, _texts),
    _Option("min_pos", 1, _Number, _threshold),
    _Option("max_neg", 0, _Number, _threshold),
    _Option("max_literals", 2, int, _body_size),
    _Option("exact_literals", False, bool, _flag),
    _Option("key_size", None, Optional[_Number], _key_size),
    _Option("distinct", False, bool, _flag),
    _Option("optimize", False, bool, _flag),
    # verbose is a quiet switch: true hides progress bars, theory and tables.
    _Option("verbose", False, bool, _flag, field="quiet"),
    # The greedy selection scores by accuracy whatever the name; the cover
    # selection reads it.
    _Option("eval_fn", "accuracy", str, _eval_fn),
    _Option("reduce_bc", False, bool, _flag),
    _Option("bc_count", 20, int, _bc_count),
    _Option("set_chain", False, bool, _flag),
    _Option("pi", False, bool, _flag),
    _Option("recursive", False, bool, _flag),
    _Option("rule_noise_check", False, bool, _flag),
    _Option("coverage", "text", str, _one_of("text", "prolog")),
    _Option("selection", "greedy", str, _one_of("greedy", "cover")),
    _Option("min_precision", DEFAULT_MIN_PRECISION, float, _fraction),
    _Option("max_rules", None, Optional[int], _max_rules),
    _Option("n_jobs", 1, int, _n_jobs),
    _Option("numbers", "constant", str, _one_of("constant", "variable", "compare")),
    _Option("time_limit", 300.0, Optional[float], _seconds),
    _Option("sandbox", False, bool, _flag),
    _Option("search", "candidates", str, _one_of("candidates", "refine")),
    _Option("time_budget", None, Optional[float], _seconds),
    _Option("max_nodes", 100, int, _at_least(1)),
    _Option("seeds", 1, int, _at_least(1)),
    _Option("max_failed_seeds", None, Optional[int], _none_or_at_least(1)),
    _Option("search_sample", 300, Optional[int], _none_or_at_least(0)),
    _Option("pool", False, bool, _flag),
    _Option("runners_up", 0, int, _at_least(0)),
    _Option("prover", "facts", str, _one_of("facts", "engine")),
)
_NEEDS_ALL = {_bc_count, _eval_fn}

# One text per option: what it does, its default and the values it takes.
_DOCS = {
    "constant_set": "terms (texts) that stay constants instead of becoming variables, in "
                    "the head and in every rule; members that are no text are left out. "
                    "Default: none.",
    "meta_rule": "rule templates such as 'A(A,B):-B(A,C)&C(C,B)' (predicates as "
                 "variables) to instantiate instead of generated ones. Default: none "
                 "(templates are generated from sampled bottom clauses).",
    "min_pos": "least number of covered positive examples a candidate rule needs. "
               "Default 1; any number (a float is a threshold; values below 1 keep "
               "every rule), except that with selection='cover' a fraction in (0, 1) is a "
               "share of the positives (at least one).",
    "max_neg": "most covered negative examples a candidate rule may have; raise it for "
               "noisy data. Default 0; any number (a float is a threshold), except that "
               "with selection='cover' a fraction in (0, 1) is a share of the negatives.",
    "max_literals": "most body literals of generated templates (exactly this many with "
                    "exact_literals). Default 2; an int of at least 0 (0 generates no "
                    "template); the work grows quickly above 3.",
    "exact_literals": "generate only templates of exactly max_literals body literals. "
                      "Default False.",
    "key_size": "number of positive examples sampled for the arity table, the relation "
                "chains and the templates; a false value (None, 0, []) samples a tenth "
                "of the positives (at least one). Default None; at most the number of "
                "positives (more raises ValueError).",
    "distinct": "never use one predicate twice in a rule. Default False.",
    "optimize": "narrow the literal choices of coverage by dropping variants of "
                "literals already chosen (faster on large bottom clauses). Default False.",
    "verbose": "a quiet switch: True hides the progress bars, the theory and the result "
               "tables; False (default) shows them.",
    "eval_fn": "the score of selection='cover': 'coverage' (new positives minus new "
               "negatives; 'accuracy', the default, ranks alike) or 'compression' (that, "
               "minus the rule's body length, plus one). The greedy selection accepts any "
               "value and always scores by training accuracy.",
    "reduce_bc": "sample every bottom clause down to bc_count literals before coverage "
                 "(faster, less exact). Default False.",
    "bc_count": "bottom-clause size kept by reduce_bc; read only when reduce_bc is set. "
                "Default 20; an int of at least 0 (a bottom clause shorter than it is kept whole).",
    "set_chain": "link two body predicates in the relation chains only through a "
                 "variable that is not in the head. Default False.",
    "pi": "rewrite the selected rules with invented predicates (ignored when "
          "recursive is set). Default False.",
    "recursive": "rewrite the selected chain rules into recursive rules (a step rule "
                 "calling the target and a base rule). Default False.",
    "rule_noise_check": "reshape every covering rule into a chain from the head's first "
                        "argument and drop rules that never reach its last argument. "
                        "Default False.",
    "coverage": "how a candidate's covered examples are found: 'text' (default) counts "
                "an example when the rule's text comes out of its bottom clause; 'prolog' "
                "proves every candidate in the engine against every training example, so "
                "selection sees what evaluation will see (slower, much better theories on "
                "real data).",
    "selection": "how the theory is chosen: 'greedy' (default) grows it while training "
                 "accuracy rises; 'cover' adds, one at a time, the rule with the best "
                 "eval_fn score on the examples not yet covered, among rules with at least "
                 "min_pos positives, at most max_neg negatives (a fraction in (0, 1) is a "
                 "share of the negatives) and precision at least min_precision, until no "
                 "rule scores above zero or max_rules is reached.",
    "min_precision": "least precision (covered positives over covered examples) a rule "
                     "needs with selection='cover'. Default 0.65; a number in [0, 1].",
    "max_rules": "largest theory with selection='cover'. Default None (no limit); an int "
                 "of at least 1.",
    "numbers": "numeric arguments: 'constant' (default) and 'variable' are read by "
               "bottom-clause generation (the Learner and the command line pass them on); "
               "'compare' builds bottom clauses as 'variable' does and, with "
               "coverage='prolog', adds candidates that test a measured value against a "
               "threshold (>=(B,v), =<(B,v)) taken from the values in the background.",
    "time_limit": "seconds the engine may spend loading the background and on each goal "
                  "while scoring; a goal past it counts as not proved (one RuntimeWarning per "
                  "call), a load past it raises PrologError naming the file. Default 300 (no "
                  "ordinary data set comes near it); a positive number, or None for no bound.",
    "sandbox": "load the background under SWI-Prolog's sandbox rules: directives and goals "
               "that could touch the host (shell, files, threads, halt, other modules) are "
               "refused with an error naming the line. Use it for backgrounds you did not "
               "write. Default False (a background file is a program and runs as one).",
    "search": "where the rules come from: 'candidates' (default) instantiates templates and "
              "takes every rule the positives' bottom clauses form; 'refine' runs a search in the "
              "core: sequential covering that grows clauses from a seed positive's bottom clause one "
              "linked literal at a time, proves each on the examples its parent covers, through the "
              "literals it does not share with its parent (coverage='prolog' is implied), expands the best first within max_literals and "
              "max_nodes, prunes by branch and bound on the eval_fn score ('accuracy'/'coverage', "
              "'compression', 'laplace' or 'm_estimate' with m=10; of equal scores, fewer "
              "negatives, then more positives, then fewer literals), and keeps the best clause that "
              "passes min_pos, max_neg (fractions in (0, 1) are shares) and min_precision, judged on "
              "every example (positives covered already count towards min_pos and precision); a "
              "clause joins the theory only when its new positives outnumber the negatives it "
              "newly covers (with eval_fn='compression', by more than its literals after the "
              "first). Attribute "
              "arguments may be bound to a value of their column and numeric ones tested against "
              "thresholds (>=, =<) or kept at the seed's value; with recursive=True calls of the target are refinements too. The "
              "same inputs always give the same theory.",
    "time_budget": "seconds for search='refine'; when they run out the theory found so far is "
                   "returned with a RuntimeWarning. Default None (no bound); a positive number.",
    "max_nodes": "clauses the refine search expands per seed (its main control of time). "
                 "Default 100; an int of at least 1.",
    "seeds": "positives searched per covering step with search='refine' (the best clause of "
             "them is kept). Default 1; an int of at least 1.",
    "max_failed_seeds": "search='refine' stops after this many covering steps in a row gave no "
                        "clause. Default None: it stops once the seeds tried in a row make it "
                        "unlikely (under 5%) that min_pos of the uncovered positives, and at least one "
                        "in twenty of them, share a clause it would find; else an int of at least 1.",
    "search_sample": "search='refine' scores clauses on at most this many uncovered positives "
                     "(the seeds among them) and as many negatives, with the covered positives at "
                     "the uncovered ones' rate, then proves the chosen clause on every example. "
                     "Default 300; None or 0 uses every example.",
    "pool": "with search='refine': the search's clauses join the candidates of the text stage, "
            "all are proved on the training examples, and the cover selection (eval_fn "
            "'accuracy', 'coverage' or 'compression'; 'compression' for the search's other "
            "scores) chooses the theory from them together. Default False.",
    "runners_up": "with search='refine': each seed's search also reports up to this many "
                  "other clauses that pass the filters on its sample, one per set of examples "
                  "covered; they are proved on the "
                  "training examples with the clauses covering chose and the cover selection "
                  "chooses the theory from them together (as pool does). Default 0 (none).",
    "n_jobs": "workers proving candidates at once with coverage='prolog' (joblib's "
              "convention: 1 is serial, -1 all cores; threads over a background of ground "
              "facts, engine processes otherwise; a joblib backend such as Dask "
              "runs them on a cluster); with search='refine' anything but 1 also lets the "
              "engine load the background on a thread of its own while the search proves "
              "over its facts, and the Learner and the command line build bottom clauses on "
              "that many threads. Results never depend on it. Default 1.",
    "prover": "how search='refine' and coverage='prolog' prove rules on the training "
              "examples: 'facts' (default) answers from the background's indexed facts "
              "wherever that is exactly what the engine would answer (ground facts, bodies "
              "that call them or compare numbers) and asks the engine otherwise; 'engine' "
              "always asks the engine. Both give the same theory; 'facts' is much faster on "
              "large backgrounds.",
}
for _option in _OPTIONS:
    if _option.doc is None:
        _option.doc = _DOCS.get(_option.name)
del _option


def type_text(annotation):
    """An annotation as a docstring type: ``Optional[list[str]]`` reads
    "list of str or None"."""
    if annotation is type(None):
        return "None"
    origin = getattr(annotation, "__origin__", None)
    if origin is Union:
        return " or ".join(type_text(member) for member in annotation.__args__)
    if origin is list:
        return "list of " + type_text(annotation.__args__[0])
    return getattr(annotation, "__name__", str(annotation))


def options_doc(indent="    ", skip=(), title="Learning options"):
    """The options section in numpydoc form: one ``name : type, default
    value`` entry per option with its wrapped text, in order (options named
    in ``skip`` left out)."""
    lines = [title, "-" * len(title)]
    for option in _OPTIONS:
        if option.name not in skip:
            lines.append(f"{option.name} : {type_text(option.annotation)}, "
                         f"default {option.default!r}")
            lines += textwrap.wrap(option.doc or "not documented yet.", width=72,
                                   initial_indent="    ", subsequent_indent="    ")
    return "\n".join(indent + line if line else line for line in lines)


def with_options_doc(doc, skip=()):
    """``doc`` with the options section right after its own parameters:
    before its first later numpydoc section (Returns, Raises, Notes,
    Examples, ...), else at the end."""
    doc = inspect.cleandoc(doc or "")
    section = options_doc(indent="", skip=skip)
    later = [doc.find(f"\n{title}\n{'-' * len(title)}\n") for title in _LATER_SECTIONS]
    found = [place for place in later if place >= 0]
    if not found:
        return doc + "\n\n" + section
    place = min(found)
    return doc[:place].rstrip() + "\n\n" + section + "\n" + doc[place:]


# The numpydoc sections that follow Parameters.
_LATER_SECTIONS = ("Returns", "Yields", "Raises", "Warns", "Warnings", "See Also", "Notes",
                   "References", "Examples")


class LearnOptions:
    """Every learning setting, checked and normalised; made by ``learn_options``."""

    # Derived: max_neg / min_pos given as a fraction in (0, 1) with the
    # cover selection (a share of the negatives / positives), else -1.
    __slots__ = tuple(option.field for option in _OPTIONS if option.field) + (
        "max_neg_fraction", "min_pos_fraction")

    def __repr__(self):
        inner = ", ".join(f"{name}={getattr(self, name)!r}" for name in self.__slots__)
        return f"LearnOptions({inner})"


def learn_options(**given):
    """A ``LearnOptions`` from the learning parameters given by name (the
    others take their defaults). Raises TypeError for an unknown name or a
    value of the wrong kind, ValueError for a value out of range."""
    unknown = set(given) - {option.name for option in _OPTIONS}
    if unknown:
        raise TypeError(f"unknown learning option {sorted(unknown)[0]!r}")
    values = {option.name: given.get(option.name, option.default) for option in _OPTIONS}
    record = LearnOptions()
    for option in _OPTIONS:
        if option.field is None:
            continue
        value = values[option.name]
        if option.check in _NEEDS_ALL:
            value = option.check(option.name, value, values)
        else:
            value = option.check(option.name, value)
        setattr(record, option.field, value)
    record.max_neg_fraction = record.min_pos_fraction = -1.0
    if record.selection == "cover" or record.search == "refine":
        if isinstance(values["max_neg"], float) and 0 < values["max_neg"] < 1:
            record.max_neg_fraction = values["max_neg"]
        if isinstance(values["min_pos"], float) and 0 < values["min_pos"] < 1:
            record.min_pos_fraction = values["min_pos"]
    return record


def takes_learn_options(func):
    """Decorator: ``func(..., options)`` becomes ``func(..., <every learning
    parameter>)``, positional or by name, in the order of ``_OPTIONS``; the
    values reach ``func`` as one ``LearnOptions``. Keyword-only parameters
    of ``func`` other than ``options`` come after the learning parameters,
    so they never shift the learning parameters' positions."""
    own = inspect.signature(func)
    leading = [p for p in own.parameters.values()
               if p.name != "options" and p.kind != inspect.Parameter.KEYWORD_ONLY]
    trailing = [p for p in own.parameters.values()
                if p.name != "options" and p.kind == inspect.Parameter.KEYWORD_ONLY]
    added = [
        inspect.Parameter(option.name, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                          default=option.default, annotation=option.annotation)
        for option in _OPTIONS
    ]
    signature = own.replace(parameters=leading + added + trailing)
    names = [option.name for option in _OPTIONS]

    @functools.wraps(func)
    def wrapper(*args, **kwargs):
        bound = signature.bind(*args, **kwargs)
        arguments = bound.arguments
        chosen = {name: arguments.pop(name) for name in names if name in arguments}
        return func(**arguments, options=learn_options(**chosen))

    wrapper.__signature__ = signature
    wrapper.__doc__ = with_options_doc(func.__doc__)
    annotations = {p.name: p.annotation for p in signature.parameters.values()
                   if p.annotation is not inspect.Parameter.empty}
    if own.return_annotation is not inspect.Signature.empty:
        annotations["return"] = own.return_annotation
    wrapper.__annotations__ = annotations
    return wrapper
