"""Learning a five-literal rule: a chain of five different relations.

The generated task: the target t(X,Y) holds when X reaches Y through
r1, r2, r3, r4, r5 in that order. Each of the 20 positive examples has its
own chain; each of the 20 negatives has a complete path of five facts with
one wrong relation at one step (every step is wrong for four negatives), so
that every rule of fewer than five literals covers some negatives. Distractor facts (the same
relations between random entities, and two unrelated predicates) bring the
background to about 1,000 facts.

Printed: the time of bottom_clause_generation (depth 2, memory mode), the
learning time reported by vantor_learn (time_learn: templates, candidates,
coverage, selection; the Prolog evaluation is not in it), the number of
literals of the longest bottom clause, and the learned theory. Each setting
is run in a fresh process three times; the fastest run is shown.

--facts N grows the background (more distractors, longer bottom clauses):
coverage then dominates, growing with the product of the literals each body
position may take.

--search runs the refinement search (search="refine") instead, on two
tasks: the chain task with a chain of six relations over 4,000 facts
(max_literals=6), and a numbers task of 40 examples over 900 facts, where
t(X) holds when one of X's parts reads at least 7.5 (5-fold cross-validation;
seconds per fold).

Usage: PYTHONPATH=module python benchmarks/long_clauses.py [--facts N] [max_literals...]
       PYTHONPATH=module python benchmarks/long_clauses.py --search
"""
import os
import random
import subprocess
import sys
import tempfile
import time

POSITIVES = 20
NEGATIVES = 20
FACTS = 1000
CHAIN = 5
REPEATS = 3


def write_task(directory, seed=0, facts_wanted=FACTS, chain_length=None):
    global CHAIN
    CHAIN = chain_length or CHAIN
    rng = random.Random(seed)
    facts = []
    serial = iter(range(10**6))

    def chain(start, end, wrong):
        nodes = [start] + [f"m{next(serial)}" for _ in range(CHAIN - 1)] + [end]
        for k in range(CHAIN):
            relation = k + 1
            if k == wrong:
                relation = rng.choice([r for r in range(1, CHAIN + 1) if r != k + 1])
            facts.append(f"r{relation}({nodes[k]},{nodes[k + 1]}).")

    positives, negatives = [], []
    for i in range(POSITIVES):
        chain(f"a{i}", f"b{i}", wrong=None)
        positives.append(f"t(a{i},b{i}).")
    for i in range(NEGATIVES):
        chain(f"c{i}", f"d{i}", wrong=i % CHAIN)
        negatives.append(f"t(c{i},d{i}).")
    # Distractors hang off every entity of every chain: dead ends through
    # the same relations (other paths of other lengths), and two unrelated
    # predicates, until the background holds about FACTS facts.
    nodes = sorted({a for f in facts for a in f[f.index("(") + 1:-2].split(",")})
    while len(facts) < facts_wanted:
        node, roll = rng.choice(nodes), rng.random()
        fresh = f"x{next(serial)}"
        if roll < 0.5:
            facts.append(f"r{rng.randrange(1, CHAIN + 1)}({node},{fresh}).")
        elif roll < 0.75:
            facts.append(f"colour({node},{rng.choice(['red', 'blue', 'green'])}).")
        else:
            facts.append(f"near({node},{fresh}).")
    rng.shuffle(facts)
    with open(os.path.join(directory, "BK.pl"), "w", encoding="utf-8") as out:
        out.write("\n".join(facts) + "\n")
    with open(os.path.join(directory, "pos_example.f"), "w", encoding="utf-8") as out:
        out.write("\n".join(positives) + "\n")
    with open(os.path.join(directory, "neg_example.n"), "w", encoding="utf-8") as out:
        out.write("\n".join(negatives) + "\n")


def measure(directory, max_literals):
    """Runs in a fresh process, inside `directory`; prints one result line."""
    import vantor

    os.chdir(directory)
    start = time.perf_counter()
    # Depth CHAIN: the shuffled file may need a pass per step of a chain.
    pos, neg = vantor.bottom_clause_generation(container="memory", depth=CHAIN, tqdm_disable=True)
    bottom = time.perf_counter() - start
    longest = max(len(v) for v in list(pos.values()) + list(neg.values()))
    result = vantor.vantor_learn(pos, neg, max_literals=max_literals, verbose=True)
    theory = "|".join(result.hypothesis).replace(" ", "")
    print(bottom, result.time_learn, longest, result.accuracy, theory or "-")


def main(settings, facts_wanted=FACTS):
    print(f"{'max_literals':>12} {'bottom s':>9} {'learn s':>8} {'longest BC':>10} {'accuracy':>8}  theory")
    with tempfile.TemporaryDirectory() as directory:
        write_task(directory, facts_wanted=facts_wanted)
        for max_literals in settings:
            runs = []
            for _ in range(REPEATS):
                out = subprocess.run(
                    [sys.executable, os.path.abspath(__file__), "--measure", directory, str(max_literals)],
                    check=True, capture_output=True, text=True,
                ).stdout.split()
                runs.append((float(out[0]), float(out[1]), int(out[2]), float(out[3]), out[4]))
            bottom, learn, longest, accuracy, theory = min(runs, key=lambda r: r[1])
            print(f"{max_literals:>12} {bottom:>9.3f} {learn:>8.3f} {longest:>10} {accuracy:>8.3f}  {theory}")


def write_numbers_task(directory, seed=0):
    """40 objects with ten parts each and a reading per part (800 facts),
    plus 100 distractors; t(X) when some part of X reads at least 7.5."""
    rng = random.Random(seed)
    facts, positives, negatives = [], [], []
    for i in range(40):
        readings = [round(rng.uniform(0, 7.4), 1) for _ in range(10)]
        if i % 2 == 0:
            readings[rng.randrange(10)] = round(rng.uniform(7.5, 10), 1)
        for k, value in enumerate(readings):
            facts += [f"part(o{i},p{i}_{k}).", f"reading(p{i}_{k},{value})."]
        (positives if i % 2 == 0 else negatives).append(f"t(o{i}).")
    facts += [f"near(p{rng.randrange(40)}_{rng.randrange(10)},p{rng.randrange(40)}_{rng.randrange(10)})."
              for _ in range(100)]
    for name, lines in (("BK.pl", facts), ("pos_example.f", positives), ("neg_example.n", negatives)):
        with open(os.path.join(directory, name), "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")


def search_tables():
    import contextlib
    import io
    import warnings

    import vantor

    print("refinement search (search='refine')")
    print(f"{'task':>22} {'bottom s':>9} {'learn s':>8} {'accuracy':>8}  theory")
    with tempfile.TemporaryDirectory() as directory:
        write_task(directory, facts_wanted=4000, chain_length=6)
        os.chdir(directory)
        start = time.perf_counter()
        pos, neg = vantor.bottom_clause_generation(container="memory", depth=6, tqdm_disable=True)
        bottom = time.perf_counter() - start
        result = vantor.vantor_learn(pos, neg, max_literals=6, verbose=True, search="refine",
                                     eval_fn="compression")
        print(f"{'six-literal chain':>22} {bottom:>9.3f} {result.time_learn:>8.3f} "
              f"{result.accuracy:>8.3f}  {'|'.join(result.hypothesis) or '-'}")
    with tempfile.TemporaryDirectory() as directory:
        write_numbers_task(directory)
        os.chdir(directory)
        start = time.perf_counter()
        pos, neg = vantor.bottom_clause_generation(container="memory", depth=2, tqdm_disable=True)
        bottom = time.perf_counter() - start
        folds = vantor.vantor_folds(5, False, pos, neg)
        start = time.perf_counter()
        with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
            warnings.simplefilter("ignore")
            cv = vantor.vantor_cross_validation(folds, k_fold=5, verbose=True, search="refine",
                                                max_literals=3, eval_fn="compression")
        per_fold = (time.perf_counter() - start) / 5
        accuracy = sum(a or 0.0 for a in cv.accuracy) / 5
        print(f"{'numbers, 5-fold CV':>22} {bottom:>9.3f} {per_fold:>8.3f} {accuracy:>8.3f}  "
              f"{'|'.join(cv.theories[0]) or '-'} (fold 1; learn s is per fold)")


if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "--search":
        search_tables()
        sys.exit()
    if len(sys.argv) == 4 and sys.argv[1] == "--measure":
        measure(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) >= 3 and sys.argv[1] == "--facts":
        main([int(s) for s in sys.argv[3:]] or [2, 3, 4, 5], int(sys.argv[2]))
    else:
        main([int(s) for s in sys.argv[1:]] or [2, 3, 4, 5])
