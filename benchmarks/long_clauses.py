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

Usage: PYTHONPATH=module python benchmarks/long_clauses.py [--facts N] [max_literals...]
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


def write_task(directory, seed=0, facts_wanted=FACTS):
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


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--measure":
        measure(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) >= 3 and sys.argv[1] == "--facts":
        main([int(s) for s in sys.argv[3:]] or [2, 3, 4, 5], int(sys.argv[2]))
    else:
        main([int(s) for s in sys.argv[1:]] or [2, 3, 4, 5])
