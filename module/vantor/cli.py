"""The ``vantor`` command: learn, cross-validate, predict, explain, build
bottom clauses and convert tables from a shell.

The learning flags are made from the options list, so every learning option
has a flag (``--max-literals 3``, ``--recursive``/``--no-recursive``) with
its documented meaning. Errors are one line on stderr with exit code 1
(usage errors 2); ``--debug`` shows the traceback instead.
"""
import argparse
import json
import math
import random
import sys
import typing
import warnings

from ._cli_checks import (at_least_zero, number, positive_int, real,
                          refuse_outputs_over_inputs)
from ._host import DISCARD, library_run
from ._options import _OPTIONS

__all__ = ["main", "build_parser"]

_PROG = "vantor"
# Flags of their own: the library's verbose is a quiet switch (--quiet here),
# and n_jobs is reached through --jobs.
_OWN_FLAGS = {"verbose"}
_FLAG_NAMES = {"n_jobs": "--jobs"}
_COUNTS = {"min_pos", "max_neg"}
# What predict and explain take: a theory file is a program like a background.
_PROVING = ("time_limit", "sandbox")


class _UsageError(Exception):
    """A command line that parses but asks for what cannot be done (exit 2)."""


class _UsageExit(SystemExit):
    """argparse's usage error (exit 2), with its message kept for --json."""

    def __init__(self, message):
        super().__init__(2)
        self.message = message


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        raise _UsageExit(f"{self.prog}: error: {message}")


def _optional(convert):
    def parse(text):
        return None if text.lower() == "none" else convert(text)
    parse.__name__ = convert.__name__
    return parse


def _kind(annotation):
    """(argparse keywords) for an option's annotation."""
    optional = False
    origin = typing.get_origin(annotation)
    if origin is typing.Union:
        members = [a for a in typing.get_args(annotation) if a is not type(None)]
        optional = len(members) < len(typing.get_args(annotation))
        annotation = members[0] if len(members) == 1 else typing.Union[tuple(members)]
        origin = typing.get_origin(annotation)
    if annotation is bool:
        return {"action": argparse.BooleanOptionalAction}
    if origin is list or annotation is list:
        return {"nargs": "+", "metavar": "TEXT"}
    if annotation is int:
        convert, metavar = int, "N"
    elif annotation is float:
        convert, metavar = real, "X"
    elif annotation is str:
        convert, metavar = str, "TEXT"
    else:  # a union of numbers, or anything else given as a number
        convert, metavar = number, "NUMBER"
    return {"type": _optional(convert) if optional else convert,
            "metavar": metavar + ("|none" if optional else "")}


def _add_learning_flags(parser, only=None, title="learning options", description=None):
    group = parser.add_argument_group(title, description)
    names = {option.name for option in _OPTIONS}
    for option in _OPTIONS:
        if option.name in _OWN_FLAGS or (only is not None and option.name not in only):
            continue
        flag = _FLAG_NAMES.get(option.name, "--" + option.name.replace("_", "-"))
        kind = _kind(option.annotation)
        if option.name in _COUNTS:
            kind["type"] = at_least_zero(kind["type"])
        group.add_argument(flag, dest=option.name, default=argparse.SUPPRESS,
                           help=(option.doc or "").replace("%", "%%"), **kind)
    if only is None and "n_jobs" not in names:
        group.add_argument("--jobs", dest="_jobs", type=int, default=None, metavar="N",
                           help="accepted for scripts; learning here runs on one thread")


def _add_proving_flags(command):
    _add_learning_flags(command, only=_PROVING, title="proving",
                        description="A theory file runs like a background: use --sandbox for "
                                    "one you did not write. Without these flags the theory "
                                    "header's settings apply, its time bound at most the "
                                    "default.")


def _common():
    parent = _Parser(add_help=False)
    group = parent.add_argument_group("output")
    group.add_argument("--json", action="store_true", help="machine-readable output")
    group.add_argument("--quiet", action="store_true", help="no progress bars or warnings")
    group.add_argument("--seed", type=int, default=None, metavar="N",
                       help="seed the run's random generator (makes runs repeatable)")
    group.add_argument("--debug", action="store_true", help="show tracebacks of errors")
    return parent


def _recall(text):
    if text == "all":
        return None
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number of facts or 'all', not {text!r}")
    if value < 1:
        raise argparse.ArgumentTypeError(f"recall must be at least 1, not {value}")
    return value


def _examples_command(sub, name, help_text, common, learning=True):
    command = sub.add_parser(name, help=help_text, description=help_text, parents=[common])
    command.add_argument("background", metavar="BK", help="background file (Prolog facts)")
    command.add_argument("positives", metavar="POS", help="positive example file")
    command.add_argument("negatives", metavar="NEG", help="negative example file")
    command.add_argument("--depth", type=int, default=2,
                         help="passes over the background for bottom clauses (default 2)")
    command.add_argument("--follow", choices=("first", "any"),
                         default=None if learning else "first",
                         help="facts taken into bottom clauses: by their first argument "
                              + ("or by any argument (default: chosen from the examples)"
                                 if learning else "(default) or by any argument"))
    command.add_argument("--reach", choices=("passes", "hops"),
                         default=None if learning else "passes",
                         help="bottom clauses from DEPTH passes over the background "
                              "or from the facts at most DEPTH steps from the example (default: "
                              + ("hops, passes with --plain)" if learning else "passes)"))
    command.add_argument("--recall", type=_recall, default=100, metavar="N",
                         help="with --reach hops, most facts of one predicate one term brings "
                              "(default 100; 'all' for no cap)")
    if not learning:
        command.add_argument("--numbers", choices=("constant", "variable", "compare"),
                             default="constant",
                             help="numeric arguments stay constants (default) or become variables")
    if learning:
        command.add_argument("--plain", action="store_true",
                             help="no choosing: options not given take their plain defaults "
                                  "(the Learner's auto=False)")
        _add_learning_flags(command)
    return command


def build_parser():
    common = _common()
    parser = _Parser(
        prog=_PROG, description="Inductive logic programming: learn Horn-clause theories "
        "from Prolog background facts and examples.")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    learn = _examples_command(sub, "learn", "learn a theory", common)
    learn.add_argument("-o", "--output", metavar="THEORY", help="save the theory to this file")
    learn.add_argument("--dataset", help="data set name written into the theory file")
    learn.add_argument("--plot", metavar="FILE", help="draw rule coverage to FILE (PNG, SVG...)")

    cv = _examples_command(sub, "cv", "k-fold cross-validation", common)
    cv.add_argument("--folds", type=positive_int, default=5, metavar="K",
                    help="number of folds (5), at most the number of positive and of negative "
                         "examples")
    cv.add_argument("--plot", metavar="FILE",
                    help="draw rule coverage of a fit on all examples and the fold accuracies")

    predict = sub.add_parser("predict", parents=[common],
                             help="label examples with a saved theory",
                             description="one line per example: example, 0/1, proving rule")
    predict.add_argument("theory", metavar="THEORY")
    predict.add_argument("background", metavar="BK")
    predict.add_argument("examples", metavar="EXAMPLES", help="example file, one per line")
    _add_proving_flags(predict)

    explain = sub.add_parser("explain", parents=[common],
                             help="the rules proving examples, with one proof's bindings")
    explain.add_argument("theory", metavar="THEORY")
    explain.add_argument("background", metavar="BK")
    explain.add_argument("example", metavar="EXAMPLE", nargs="+", help="example texts")
    _add_proving_flags(explain)

    bottom = _examples_command(sub, "bottom", "build and store bottom clauses", common,
                               learning=False)
    bottom.add_argument("--pos-out", default="positive_bottom_clause", metavar="FILE")
    bottom.add_argument("--neg-out", default="negative_bottom_clause", metavar="FILE")
    bottom.add_argument("--jobs", type=int, default=1, metavar="N",
                        help="threads building bottom clauses (joblib's convention: -1 every "
                             "core); the result is the same for every value (default 1)")

    tabular = sub.add_parser("tabular", parents=[common],
                             help="background, example and meta files from a CSV table")
    tabular.add_argument("table", metavar="TABLE.csv")
    tabular.add_argument("--target", required=True, metavar="COLUMN", help="class column")
    tabular.add_argument("--columns", nargs="+", metavar="COLUMN",
                         help="feature columns (default: every column but the target)")
    tabular.add_argument("--ranges", type=int, default=3, metavar="K",
                         help="ranges per numeric column (default 3)")
    tabular.add_argument("--label", default="target", help="example predicate (target)")
    tabular.add_argument("--prefix", default="", metavar="DIR/",
                         help="put the files under this path prefix")
    return parser


# -------------------------------------------------------------- commands


def _learning(args):
    return {o.name: getattr(args, o.name) for o in _OPTIONS if hasattr(args, o.name)}


def _learner(args):
    from .estimator import Learner

    verbose = 1 if (not args.quiet and sys.stderr.isatty()) else 0
    return Learner(args.background, depth=args.depth, follow=args.follow, reach=args.reach,
                   recall=args.recall, verbose=verbose,
                   random_state=args.seed, auto=not args.plain, **_learning(args))


def _scores_line(scores):
    return "  ".join(f"{k} {_fmt(v)}" for k, v in scores.items())


def _fmt(value):
    return "-" if value is None else f"{value:.4g}" if isinstance(value, float) else str(value)


def _clean(value):
    """NaN is no JSON value; write null."""
    if isinstance(value, float) and math.isnan(value):
        return None
    return value


def _run_learn(args, out):
    learner = _learner(args).fit_files(args.positives, args.negatives)
    if args.output:
        learner.save(args.output, dataset=args.dataset)
    if args.plot:
        learner.plot(path=args.plot)
    rules = [{k: _clean(v) for k, v in row.items()}
             for row in learner.rules_.to_dict(orient="records")]
    if args.json:
        return {"theory": learner.theory_, "training": learner.training_scores_,
                "rules": rules, "time_learn": learner.time_learn_, "saved": args.output,
                "chosen": learner.chosen_}
    print(f"% setting: {learner._choice_line()}", file=out)
    for row in rules:
        print(f"{row['rule']}.   % positives {row['positives']}, negatives "
              f"{row['negatives']}", file=out)
    if not rules:
        print("% no theory: no rule passed the filters (try a larger --max-neg or "
              "--max-literals)", file=out)
    print("% training: " + _scores_line(learner.training_scores_), file=out)
    if args.output:
        print(f"% saved to {args.output}", file=out)
    return None


def _run_cv(args, out):
    from .data import read_example

    positives, negatives = read_example(args.positives), read_example(args.negatives)
    fewest = min((len(positives), "positive"), (len(negatives), "negative"))
    if args.folds > fewest[0]:
        raise _UsageError(f"--folds {args.folds} is more than the {fewest[0]} {fewest[1]} "
                          f"examples; give at most {fewest[0]}")
    X, y = positives + negatives, [1] * len(positives) + [0] * len(negatives)
    learner = _learner(args)
    scores = learner.cross_validate(X, y, folds=args.folds)
    if args.plot:
        learner.fit(X, y)
        learner.cv_scores_ = scores
        learner.plot(path=args.plot)
    given = [s for s in scores if s is not None]
    mean = sum(given) / len(given) if given else None
    if args.json:
        return {"accuracy": scores, "mean_accuracy": mean}
    for fold, score in enumerate(scores):
        print(f"fold {fold}: accuracy {_fmt(score)}", file=out)
    print(f"mean accuracy {_fmt(mean)}", file=out)
    return None


def _loaded(args):
    from .estimator import Learner

    given = {name: getattr(args, name) for name in _PROVING if hasattr(args, name)}
    return Learner.load(args.theory, background=args.background, **given)


def _run_predict(args, out):
    from ._lint import warn_file
    from .data import read_example

    learner = _loaded(args)
    warn_file(args.examples)
    rows = []
    for example in read_example(args.examples):
        rule = learner.proving_rule(example)
        rows.append({"example": example, "label": int(rule is not None), "rule": rule})
    if args.json:
        return rows
    for row in rows:
        print(f"{row['example']}\t{row['label']}\t{row['rule'] or ''}", file=out)
    return None


def _run_explain(args, out):
    learner = _loaded(args)
    found = {example: learner.explain(example) for example in args.example}
    if args.json:
        return found
    for example, proofs in found.items():
        print(f"{example}: {'proved' if proofs else 'not proved'}", file=out)
        for proof in proofs:
            bound = ", ".join(f"{k}={v}" for k, v in sorted(proof["bindings"].items()))
            print(f"  {proof['rule']}   with {bound}", file=out)
    return None


def _run_bottom(args, out):
    from .bottom import bottom_clause_generation
    from .data import read_pickle

    show = not args.quiet and sys.stderr.isatty()
    names = bottom_clause_generation(
        file=args.background, positive_example=args.positives, negative_example=args.negatives,
        depth=args.depth, follow=args.follow, numbers=args.numbers, reach=args.reach,
        recall=args.recall, n_jobs=args.jobs,
        positive_file_dictionary=args.pos_out,
        negative_file_dictionary=args.neg_out, tqdm_disable=not show)
    summary = {}
    for name in names:
        stored = read_pickle(name)
        sizes = [len(clause) for clause in stored.values()]
        summary[name] = {"examples": len(sizes), "longest": max(sizes, default=0)}
    if args.json:
        return summary
    for name, facts in summary.items():
        print(f"{name}: {facts['examples']} bottom clauses, longest {facts['longest']} "
              "literals", file=out)
    return None


def _run_tabular(args, out):
    try:
        import pandas
    except ImportError:
        raise RuntimeError("the tabular command needs pandas: pip install pandas") from None
    from .tabular import prepare_examples, prepare_logic_rules

    table = pandas.read_csv(args.table)
    if args.target not in table.columns:
        raise KeyError(f"column {args.target!r} is not in {args.table!r} (columns: "
                       f"{', '.join(map(str, table.columns))})")
    columns = args.columns or [c for c in table.columns if c != args.target]
    files = {name: args.prefix + name for name in
             ("BK.pl", "meta_data.info", "pos_example.f", "neg_example.n")}
    prepare_logic_rules(table, columns, file_name=files["BK.pl"],
                        meta_information=files["meta_data.info"], default_div=args.ranges)
    written = prepare_examples(table, args.target, example_label=args.label,
                               meta_information=files["meta_data.info"],
                               positive_example=files["pos_example.f"],
                               negative_example=files["neg_example.n"])
    result = {"background": files["BK.pl"], "meta_information": files["meta_data.info"],
              "examples": [str(name) for name in written]}
    if args.json:
        return result
    print(f"background {result['background']}, meta-information "
          f"{result['meta_information']}", file=out)
    print("examples " + ", ".join(result["examples"]), file=out)
    return None


_COMMANDS = {"learn": _run_learn, "cv": _run_cv, "predict": _run_predict,
             "explain": _run_explain, "bottom": _run_bottom, "tabular": _run_tabular}


def _message(error):
    if isinstance(error, KeyError) and error.args:
        return str(error.args[0])
    if isinstance(error, OSError) and error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return str(error) or type(error).__name__


def _show_warning(message, category, filename, lineno, file=None, line=None):
    print(f"{_PROG}: warning: {message}", file=sys.stderr)


def main(argv=None):
    """Run the command line; returns the exit code."""
    argv = sys.argv[1:] if argv is None else list(argv)
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except _UsageExit as stop:  # exits with 2 on a usage error
        _report(stop.message, "--json" in argv)
        raise
    out = sys.stdout
    try:
        with warnings.catch_warnings():
            if args.quiet:
                warnings.simplefilter("ignore")
            else:
                warnings.showwarning = _show_warning
            # The library's own printing is not part of this command's output;
            # neither is touched for other threads of a host program.
            rng = random.Random(args.seed) if args.seed is not None else None
            with library_run(output=sys.stderr if args.debug else DISCARD, rng=rng):
                refuse_outputs_over_inputs(args)
                result = _COMMANDS[args.command](args, out)
        if args.json:
            json.dump(result, out, indent=2, default=str)
            out.write("\n")
        return 0
    except KeyboardInterrupt:
        _report(f"{_PROG}: interrupted", args.json)
        return 130
    except _UsageError as error:
        _report(f"{_PROG} {args.command}: error: {error}", args.json)
        return 2
    except Exception as error:  # one line for the user; --debug shows all of it
        if args.debug:
            raise
        _report(f"{_PROG}: error: {_message(error)}", args.json)
        return 1


def _report(message, as_json):
    """An error's line on stderr and, for --json, as {"error": ...} on stdout
    (so a program reading stdout always gets JSON)."""
    print(message, file=sys.stderr)
    if as_json:
        json.dump({"error": message}, sys.stdout)
        sys.stdout.write("\n")

