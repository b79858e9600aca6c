"""Test accuracy over several shufflings of the folds.

One fixed split of a small data set into five folds moves a setting's
cross-validated accuracy by one or two held-out examples either way, which
is as much as the differences between settings. This script runs the
columns of quality.py (the same settings and sets) over the shufflings
random.Random(1) .. random.Random(N) of the examples, the first being the
folds of quality.py's table, and prints each set's mean test accuracy and
the spread, column by column.

Usage: python benchmarks/shuffles.py [--shuffles 8] [--sets a,b,...]
       [--columns proved,search]
"""
import argparse
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import quality  # noqa: E402


def test_accuracies(name, columns, shuffles):
    """{column: [test accuracy per shuffling]} for one set of quality.py."""
    if name in quality.RECURSIVE:
        folder, options, extra = quality.RECURSIVE[name]
        folder = folder() if callable(folder) else folder
        args = (name.split(" ")[0], options, 1, folder, extra)
    else:
        args = (name, quality.SETS[name][0], 1)
    found = {c: [] for c in columns}
    for shuffle in range(1, shuffles + 1):
        rows = quality.run_set(*args, columns=columns, shuffle=shuffle)
        for c in columns:
            found[c].append(float(rows[c].split("|")[1]))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shuffles", type=int, default=8)
    parser.add_argument("--sets", default="trains,alzheimer_amine,mutagenesis188,carcinogenesis")
    parser.add_argument("--columns", default="proved,search")
    args = parser.parse_args()
    columns = tuple(args.columns.split(","))
    if quality.DATASETS is None:
        sys.exit("no ../shared/datasets folder next to the repository")
    print("data set | " + " | ".join(f"{c}: mean | min | max" for c in columns)
          + f"  (test accuracy over {args.shuffles} shufflings)")
    for name in args.sets.split(","):
        found = test_accuracies(name, columns, args.shuffles)
        print(name + " | " + " | ".join("%.3f | %.3f | %.3f" % (statistics.mean(v), min(v), max(v))
                                        for v in found.values()), flush=True)


if __name__ == "__main__":
    main()
