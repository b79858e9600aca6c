"""What the command line refuses before a command runs: flag values that
name no number or count, and outputs that would replace the command's
inputs."""
import argparse
import math
import os

__all__ = ["real", "number", "at_least_zero", "positive_int", "refuse_outputs_over_inputs"]


def real(text):
    """A float flag value; nan is refused (it compares with nothing, so no
    option means anything by it)."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
    if math.isnan(value):
        raise argparse.ArgumentTypeError("nan is not a number")
    return value


def number(text):
    """An int flag value, or else a float one."""
    try:
        return int(text)
    except ValueError:
        return real(text)


def at_least_zero(convert):
    """Counts of examples (min_pos, max_neg) are never negative."""
    def parse(text):
        value = convert(text)
        if value is not None and value < 0:
            raise argparse.ArgumentTypeError(f"{text!r} is below 0 (a number of examples)")
        return value
    parse.__name__ = convert.__name__
    return parse


def positive_int(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a whole number") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"{text!r} is below 1")
    return value


def _files(args):
    """(inputs, outputs) of a command as (what, path) pairs."""
    if args.command in ("learn", "cv", "bottom"):
        inputs = [("background", args.background), ("positive examples", args.positives),
                  ("negative examples", args.negatives)]
        flags = {"learn": (("-o", "output"), ("--plot", "plot")), "cv": (("--plot", "plot"),),
                 "bottom": (("--pos-out", "pos_out"), ("--neg-out", "neg_out"))}
        return inputs, [(flag, getattr(args, name)) for flag, name in flags[args.command]]
    if args.command == "tabular":
        names = ("BK.pl", "meta_data.info", "pos_example.f", "neg_example.n")
        return [("table", args.table)], [("--prefix", args.prefix + name) for name in names]
    return [], []


def refuse_outputs_over_inputs(args):
    """An output that is one of the inputs (the same file, also through a
    link) would replace what the command reads: refused before anything is
    written."""
    inputs, outputs = _files(args)
    for flag, output in outputs:
        for what, given in inputs:
            if output and given and _same_file(output, given):
                raise ValueError(f"the output {output!r} ({flag}) is the {what} file "
                                 f"{given!r}; writing it would replace that input: choose "
                                 "another name")


def _same_file(first, second):
    try:
        return os.path.samefile(first, second)
    except (OSError, ValueError):
        return False  # a file that is not there (yet) is no input
