"""Write the generated recursive learning tasks under tests/data.

Each task is a small background of facts drawn from a seeded generator, a
known recursive theory, and examples labelled by that theory: the positives
are the least model of the theory over the background (every atom it
proves), the negatives a seeded sample of the other atoms over the same
constants. Running the script again writes the same files.

Tasks:
  ancestor         ancestor/2 over the parent/2 facts of a generated family
  same_generation  same_generation/2 over child/2 facts of the same kind of
                   family: children of one parent, or of parents of the
                   same generation
  updown           sg/2 over up/2, flat/2 and down/2 edges: a flat step,
                   or an up step, an sg step and a down step

Usage: python scripts/make_recursive_tasks.py [--out tests/data]
"""
import argparse
import os
import random

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

LICENCE = "generated for this project"


def family(rng, founders, generations, children):
    """parent/2 pairs of a family whose founders each start a separate line:
    every person of a generation gets a partner from outside the family
    (who starts no line of their own) and some children."""
    people = [f"p{i}" for i in range(founders)]
    parent = []
    current = list(people)
    for _ in range(generations - 1):
        nxt = []
        for person in current:
            spouse = f"s{len(people)}"
            people.append(spouse)
            for _ in range(rng.randint(*children)):
                child = f"p{len(people)}"
                people.append(child)
                parent += [(person, child), (spouse, child)]
                nxt.append(child)
        current = nxt
    return parent


def transitive(step, start):
    """Least model of t(A,B):-step(A,B) and t(A,B):-step(A,C),t(C,B)."""
    model = set(start)
    while True:
        grown = model | {(a, d) for (a, b) in step for (c, d) in model if b == c}
        if grown == model:
            return model
        model = grown


def ancestor_task(rng):
    parent = family(rng, founders=2, generations=4, children=(1, 3))
    positives = transitive(parent, parent)
    return {"parent": parent}, positives


def same_generation_task(rng):
    parent = family(rng, founders=2, generations=4, children=(1, 3))
    model = {(b, c) for (a, b) in parent for (a2, c) in parent if a == a2}
    while True:
        grown = model | {(x, y) for (c, x) in parent for (d, y) in parent if (c, d) in model}
        if grown == model:
            # Written as child/2: a bottom clause follows a fact from its
            # first argument, so a person's parents are reached as
            # child(Person,Parent).
            return {"child": [(c, p) for p, c in parent]}, model
        model = grown


def updown_task(rng):
    """Layers of nodes: up edges lead one layer higher, down edges one layer
    lower (onto other nodes), flat edges join nodes of a layer."""
    layers, width = 4, 5
    up, down, flat = [], [], []
    for level in range(layers):
        here = [f"u{level}_{i}" for i in range(width)]
        there = [f"d{level}_{i}" for i in range(width)]
        flat += [(a, rng.choice(there)) for a in here if rng.random() < 0.6]
        if level + 1 < layers:
            above = [f"u{level + 1}_{i}" for i in range(width)]
            below = [f"d{level + 1}_{i}" for i in range(width)]
            up += [(a, rng.choice(above)) for a in here]
            down += [(b, rng.choice(there)) for b in below]
    model = set(flat)
    while True:
        grown = model | {(x, w) for (x, a) in up for (b, w) in down if (a, b) in model}
        if grown == model:
            return {"up": up, "flat": flat, "down": down}, model
        model = grown


# The options that learn each theory exactly from all examples (bottom
# clauses at depth 2; vantor_learn with recursive=True, coverage="prolog",
# selection="cover", the other options at their defaults: min_pos=1,
# max_neg=0).
OPTIONS = {"ancestor": "max_literals=2", "same_generation": "max_literals=4", "updown": "max_literals=3"}

TASKS = {
    "ancestor": (ancestor_task, "ancestor", [
        "ancestor(A,B):-parent(A,B).",
        "ancestor(A,B):-parent(A,C),ancestor(C,B)."]),
    "same_generation": (same_generation_task, "same_generation", [
        "same_generation(A,B):-child(A,C),child(B,C).",
        "same_generation(A,B):-child(A,C),child(B,D),same_generation(C,D)."]),
    "updown": (updown_task, "sg", [
        "sg(A,B):-flat(A,B).",
        "sg(A,B):-up(A,C),sg(C,D),down(D,B)."]),
}


def negatives(facts, positives, rng, count):
    """A seeded sample of the pairs over the background's constants that
    the theory does not prove."""
    constants = sorted({c for pairs in facts.values() for pair in pairs for c in pair})
    others = [(a, b) for a in constants for b in constants if a != b and (a, b) not in positives]
    return rng.sample(others, min(count, len(others)))


def write_task(out, name, seed=1):
    make, target, theory = TASKS[name]
    rng = random.Random(seed)
    facts, positives = make(rng)
    # Pairs of one constant are left out: the learner takes its head from
    # the first positive, and same_generation(A,A) would be that head.
    positives = sorted((a, b) for a, b in positives if a != b)
    negs = sorted(negatives(facts, set(positives), rng, len(positives)))
    folder = os.path.join(out, name)
    os.makedirs(folder, exist_ok=True)
    lines = [f"{p}({a},{b})." for p, pairs in facts.items() for a, b in pairs]
    with open(os.path.join(folder, "BK.pl"), "w") as f:
        f.write("\n".join(lines) + "\n")
    for file, atoms in (("pos_example.f", positives), ("neg_example.n", negs)):
        with open(os.path.join(folder, file), "w") as f:
            f.write("".join(f"{target}({a},{b}).\n" for a, b in atoms))
    readme = [f"# {name}", "",
              f"Generated by scripts/make_recursive_tasks.py (seed {seed}).", "",
              f"- Target: `{target}/2`; background predicates: "
              + ", ".join(f"`{p}/2`" for p in facts) + ".",
              f"- Counts: BK.pl {len(lines)} facts; pos_example.f {len(positives)}; "
              f"neg_example.n {len(negs)}.",
              "- Positives: every atom of two distinct constants the known theory proves over the "
              "background; negatives: a seeded sample of the other pairs of distinct constants.",
              "- Known theory:", "", "```prolog", *theory, "```", "",
              "- Learned exactly (tests/test_recursive_tasks.py) from bottom clauses at depth 2 with "
              f"`vantor_learn(..., recursive=True, coverage=\"prolog\", selection=\"cover\", "
              f"{OPTIONS[name]})`, min_pos=1 and max_neg=0 (the defaults).",
              f"- Licence: {LICENCE}."]
    with open(os.path.join(folder, "README.md"), "w") as f:
        f.write("\n".join(readme) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(REPO, "tests", "data"))
    args = parser.parse_args()
    for name in TASKS:
        write_task(args.out, name)


if __name__ == "__main__":
    main()
