"""Times of the candidate stages (arity table, relation chains, templates,
instantiation) on synthetic bottom clauses.

Usage: PYTHONPATH=module python benchmarks/candidate_stages.py [max_examples]

Two tasks: a family task (grandparent over parent/male/female facts) and a
graph task whose bottom clauses repeat one predicate many times. Each is run
at 100, 1,000 and 10,000 examples with bottom clauses of 20 to 200 literals.
Prints per-stage wall-clock seconds (each includes converting the Python
dictionary for the core, as a direct call does; the learning driver converts
once) and the process's peak resident memory so far.
"""
import random
import sys
import time
import resource

import vantor as v


def family_clause(rng, length):
    people = [f"V{i}" for i in range(max(4, length // 2))]
    people[0], people[1] = "A", "B"
    lits = []
    while len(lits) < length:
        kind = rng.random()
        if kind < 0.6:
            lit = f"parent({rng.choice(people)},{rng.choice(people)})"
        elif kind < 0.8:
            lit = f"male({rng.choice(people)})"
        else:
            lit = f"female({rng.choice(people)})"
        if lit not in lits:
            lits.append(lit)
    return lits


def graph_clause(rng, length):
    nodes = ["A", "B"] + [f"N{i}" for i in range(length)]
    lits = []
    while len(lits) < length:
        lit = f"edge({rng.choice(nodes)},{rng.choice(nodes)})"
        if rng.random() < 0.1:
            lit = f"colour({rng.choice(nodes)},red)"
        if lit not in lits:
            lits.append(lit)
    return lits


def run(task, make, examples, length, max_literals=2):
    rng = random.Random(examples * 1000 + length)
    pos = {f"{task}(e{i},f{i}).": make(rng, rng.randint(length // 2, length)) for i in range(examples)}
    times = {}
    t = time.perf_counter()
    table = v.predicate_arity_table(pos, {}, len(pos), len(pos), [])
    times["arity"] = time.perf_counter() - t
    t = time.perf_counter()
    relation = v.relation_chains(pos, len(pos), [], [], False)
    times["chains"] = time.perf_counter() - t
    t = time.perf_counter()
    templates = v.generate_hypotheses(pos, [], max_literals, False, [])
    times["templates"] = time.perf_counter() - t
    head = v.variabilise_example(next(iter(pos)), [])
    t = time.perf_counter()
    theory = v.apply_meta_rules(head, templates, table, relation, False)
    times["instantiate"] = time.perf_counter() - t
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    stages = "  ".join(f"{k} {s:7.3f}s" for k, s in times.items())
    print(f"{task:7} {examples:6} ex  {length:4} lits  {stages}  "
          f"relation {len(relation):4}  templates {len(templates):3}  rules {len(theory):4}  "
          f"peak {peak / 2**20:7.1f} MiB", flush=True)


def main():
    limit = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    for examples in (100, 1_000, 10_000):
        if examples > limit:
            continue
        for length in (20, 50, 200):
            run("family", family_clause, examples, length)
            run("graph", graph_clause, examples, length)


if __name__ == "__main__":
    main()
