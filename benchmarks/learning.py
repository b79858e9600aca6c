"""Learning benchmark: per-stage times and peak memory of vantor_learn.

Synthetic tasks (a kinship task whose target is grandparent(A,B) :-
parent(A,C), parent(C,B), and a graph task whose target path2(A,B) :-
edge(A,C), edge(C,B) repeats a predicate) at 100, 1,000 and 10,000 examples
(half positive) with bottom clauses of 20, 50 and 200 literals, then every
data set under ../shared/datasets/ (relative to the repository) if present.

Each run is a fresh child process, so the peak resident memory it reports
(ru_maxrss) belongs to that run alone. Stages: arity table, relation chains,
templates, instantiation, positive coverage, negative coverage, selection
(all timed inside the core), Prolog evaluation (consulting the background
file and proving every example; skipped above --prolog-limit facts).

Usage: python benchmarks/learning.py [--quick] [--prolog-limit N]
"""
import json
import os
import random
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
DATASETS = os.path.join(REPO, "..", "shared", "datasets")
if not os.path.isdir(DATASETS):
    DATASETS = os.path.join(REPO, "..", "..", "shared", "datasets")

STAGES = ["arity table", "relation chains", "templates", "instantiation", "positive coverage",
          "negative coverage", "selection"]


def variable_name(n):
    if n == 0:
        return "A"
    out = ""
    while n:
        out += chr(ord("A") + n % 26)
        n //= 26
    return out


TASKS = {
    # target, chain predicate, other predicates (name -> arity)
    "kinship": ("grandparent", "parent", {"married": 2, "sibling": 2, "male": 1, "female": 1,
                                          "friend": 2, "older": 2}),
    "graph": ("path2", "edge", {"colour": 2, "marked": 1, "weight": 2}),
}


def synthetic(task, n, length, seed=0):
    """Background facts and the bottom clauses bottom-clause generation would
    give: every example lives on its own constants, its bottom clause is all
    of their facts, variabilised by order of first appearance."""
    target, chain, others = TASKS[task]
    rng = random.Random(seed)
    facts, pos, neg = [], {}, {}
    preds = [(chain, 2)] * 3 + list(others.items())  # the chain predicate is the most common
    for i in range(n):
        positive = i % 2 == 0
        width = max(4, length // 3)
        c = [f"e{i}x{j}" for j in range(width)]
        # The target's two chain literals come first and last, so that the
        # halves a repeated predicate is split into keep them apart.
        lits = [(chain, (0, 2))]
        last = (chain, (2, 1)) if positive else (chain, (3, 1))
        while len(lits) < length - 1:
            name, arity = rng.choice(preds)
            args = tuple(rng.randrange(width) for _ in range(arity))
            # negatives never get a chain from the first to the second term
            if name == chain and not positive and (args[0] == 0 or args[1] == 1):
                continue
            if (name, args) not in lits and (name, args) != last:
                lits.append((name, args))
        lits.append(last)
        # variabilise: head constants first, then order of appearance
        names = {0: "A", 1: "B"}
        bc = []
        for name, args in lits:
            for a in args:
                if a not in names:
                    names[a] = variable_name(len(names))
            bc.append(f"{name}({','.join(names[a] for a in args)})")
            facts.append(f"{name}({','.join(c[a] for a in args)}).")
        example = f"{target}({c[0]},{c[1]})."
        (pos if positive else neg)[example] = bc
    return facts, pos, neg


def run_one(task, prolog_limit):
    import vantor
    from vantor import learn

    work = tempfile.mkdtemp(prefix="vantor_bench_")
    os.chdir(work)
    if task["kind"] == "synthetic":
        facts, pos, neg = synthetic(task["task"], task["n"], task["length"])
        with open("BK.pl", "w") as f:
            f.write("\n".join(facts) + "\n")
    else:
        src = task["path"]
        for name in ("BK.pl", "pos_example.f", "neg_example.n"):
            with open(os.path.join(src, name)) as a, open(name, "w") as b:
                b.write(a.read())
        t0 = time.perf_counter()
        pos, neg = vantor.bottom_clause_generation(container="memory", tqdm_disable=True)
        task["bottom clauses"] = time.perf_counter() - t0
        facts = open("BK.pl").read().splitlines()
    lengths = [len(v) for v in list(pos.values()) + list(neg.values())]
    random.seed(0)
    t0 = time.perf_counter()
    H, _, times = learn._learn_stages(pos, neg, verbose=True)
    learn_total = time.perf_counter() - t0
    prolog = None
    if len(facts) <= prolog_limit:
        t0 = time.perf_counter()
        result = vantor.evaluate_theory_prolog_training(H, "BK.pl", pos, neg, True)
        prolog = time.perf_counter() - t0
        task["accuracy"] = result.accuracy
    task.update(times)
    task["learn total"] = learn_total
    task["prolog evaluation"] = prolog
    task["theory"] = H
    task["examples"] = len(pos) + len(neg)
    task["mean literals"] = sum(lengths) / max(1, len(lengths))
    task["peak MB"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(json.dumps(task))


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--one":
        run_one(json.loads(sys.argv[2]), int(sys.argv[3]))
        return
    quick = "--quick" in sys.argv
    prolog_limit = 300_000
    if "--prolog-limit" in sys.argv:
        prolog_limit = int(sys.argv[sys.argv.index("--prolog-limit") + 1])
    specs = []
    for task in TASKS:
        for n in (100, 1000) if quick else (100, 1000, 10000):
            for length in (20, 50, 200):
                specs.append({"kind": "synthetic", "task": task, "n": n, "length": length})
    if os.path.isdir(DATASETS):
        for name in sorted(os.listdir(DATASETS)):
            path = os.path.join(DATASETS, name)
            if os.path.exists(os.path.join(path, "pos_example.f")):
                specs.append({"kind": "dataset", "task": name, "path": os.path.abspath(path)})
    env = dict(os.environ)
    env["PYTHONPATH"] = os.path.join(REPO, "module") + os.pathsep + env.get("PYTHONPATH", "")
    cols = ["task", "examples", "mean literals", "candidates"] + STAGES + ["learn total",
                                                                         "prolog evaluation", "peak MB"]
    print(" | ".join(cols))
    for task in specs:
        proc = subprocess.run([sys.executable, __file__, "--one", json.dumps(task), str(prolog_limit)],
                              capture_output=True, text=True, env=env)
        if proc.returncode != 0:
            print(f"{task['task']}: failed: {proc.stderr.strip().splitlines()[-1:]}")
            continue
        r = json.loads(proc.stdout.strip().splitlines()[-1])
        label = r["task"] if r["kind"] == "dataset" else f"{r['task']} n={r['n']} L={r['length']}"
        row = [label, str(r["examples"]), f"{r['mean literals']:.0f}", str(r["candidates"])]
        for c in STAGES + ["learn total", "prolog evaluation"]:
            row.append("skipped" if r[c] is None else f"{r[c]:.3f}s")
        row.append(f"{r['peak MB']:.0f}")
        print(" | ".join(row), flush=True)
        print(f"    {len(r['theory'])} rules, first {r['theory'][:1]}, training accuracy "
              f"{r.get('accuracy')}", flush=True)


if __name__ == "__main__":
    main()
