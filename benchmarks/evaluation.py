"""Theory evaluation cost: a 5-rule theory over 10^5 background facts,
10^4 examples.

Prints where the time goes: the engine's own work (loading the theory file,
proving the examples) and ours (converting the host's lists, writing the
working files, handing each goal to the engine). Our part should stay under
10% of the total.

Usage: PYTHONPATH=module python benchmarks/evaluation.py [--facts N] [--examples N] [--repeat N]
"""
import argparse
import os
import random
import tempfile
import time

from vantor._core import _evaluate_theory

THEORY = [
    "t(A,B):-link(A,B)",
    "t(A,B):-link(A,C)&link(C,B)",
    "t(A,B):-kind(A,red),kind(B,red),near(A,B)",
    "t(A,B):-near(A,C),link(C,B),kind(C,blue)",
    "t(A,B):-weight(A,W),weight(B,W)",
]


def write_background(path, facts, nodes, rng):
    per = facts // 4
    links = [(rng.randrange(nodes), rng.randrange(nodes)) for _ in range(per)]
    with open(path, "w") as f:
        for a, b in links:
            f.write(f"link(n{a},n{b}).\n")
        for _ in range(per):
            f.write(f"near(n{rng.randrange(nodes)},n{rng.randrange(nodes)}).\n")
        for i in range(per):
            f.write(f"kind(n{i % nodes},{rng.choice(('red', 'blue', 'green'))}).\n")
        for i in range(facts - 3 * per):
            f.write(f"weight(n{i % nodes},{rng.randrange(nodes // 4)}).\n")
    return links


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--facts", type=int, default=100_000)
    ap.add_argument("--examples", type=int, default=10_000)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    rng = random.Random(1)
    nodes = args.facts // 4
    half = args.examples // 2

    with tempfile.TemporaryDirectory() as tmp:
        os.chdir(tmp)
        links = write_background("BK.pl", args.facts, nodes, rng)
        # Half the positives are background links (proved), the rest random.
        pos = [f"t(n{a},n{b})" for a, b in rng.sample(links, half // 2)]
        pos += [f"t(n{rng.randrange(nodes)},n{rng.randrange(nodes)})" for _ in range(half - len(pos))]
        neg = [f"t(n{rng.randrange(nodes)},n{rng.randrange(nodes)})" for _ in range(args.examples - half)]
        examples = pos + neg
        # Examples are atoms of the program, never built-ins: one background
        # fact stands for a goal that does (almost) nothing.
        trivial = [f"link(n{links[0][0]},n{links[0][1]})"] * len(examples)
        print(f"background: {args.facts} facts ({os.path.getsize('BK.pl')} bytes), "
              f"theory: {len(THEORY)} rules, examples: {len(pos)} + {len(neg)}")
        _evaluate_theory(THEORY, "BK.pl", trivial[:1], [], True, True)  # start the engine
        for run in range(args.repeat):
            t0 = time.perf_counter()
            d = _evaluate_theory(THEORY, "BK.pl", pos, neg, True, True)
            total = time.perf_counter() - t0
            s = d["seconds"]
            # The same number of goals that do nothing: the fixed cost of
            # handing a goal text to the engine and reading the answer.
            base = _evaluate_theory(THEORY, "BK.pl", trivial, [], True, True)["seconds"]["query"]
            ours = s["convert"] + s["write"]
            print(f"run {run + 1}: total {total:.3f} s | load {s['load']:.3f} s | "
                  f"queries {s['query']:.3f} s = {len(examples) / s['query']:,.0f} q/s | "
                  f"convert {s['convert'] * 1e3:.1f} ms, write {s['write'] * 1e3:.1f} ms "
                  f"-> overhead {ours / total:.1%} | per-goal dispatch incl. engine parse "
                  f"{base / len(examples) * 1e6:.1f} us ({(ours + base) / total:.1%} with it) | "
                  f"counts TP,TN,FP,FN {d['counts']}")
        os.chdir("/")


if __name__ == "__main__":
    main()
