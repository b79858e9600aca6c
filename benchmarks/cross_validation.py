"""Cost of k-fold cross-validation against one learning run.

On a synthetic kinship task (grandparent/2 over parent facts, bottom clauses
of about 50 to 90 literals) this times:

- one vantor_learn call on all examples (learning + training evaluation);
- a 10-fold vantor_cross_validation on the same examples, quiet (only the
  test evaluations run) and printing (training evaluations too, output
  discarded);

and prints how each cross-validation call splits between learning (candidate
construction, coverage, filters, selection) and Prolog evaluation, and how
many examples had their coverage computed versus answered from the shared
cache.

Usage: python benchmarks/cross_validation.py [n_examples] [k_fold]
(defaults 1000 and 10). Run with PYTHONPATH=module from the repository.
"""
import contextlib
import io
import os
import random
import sys
import tempfile
import time

import vantor
from vantor.folds import _cross_validation

# A synthetic kinship task of any size: grandparent(X,Y) over parent facts.
# Each family has two married grandparents, three children and three
# grandchildren per child; every person also has a few attribute facts
# (hobbies, a town, an age group) so bottom clauses hold a few dozen
# literals. Negatives are grandparent/child, sibling and reversed pairs.
def write_task(directory, n_examples, seed=0):
    rng = random.Random(seed)
    facts, positives, negatives = [], [], []
    n_pos = n_examples // 2
    family = 0
    towns = ["town%d" % i for i in range(40)]
    hobbies = ["hobby%d" % i for i in range(60)]

    def person(f, role):
        return "f%d_%s" % (f, role)

    def attributes(p):
        facts.append("lives_in(%s,%s)." % (p, rng.choice(towns)))
        for h in rng.sample(hobbies, 3):
            facts.append("likes(%s,%s)." % (p, h))
        facts.append("age(%s,%s)." % (p, rng.choice(("young", "adult", "old"))))

    families = []
    while len(positives) < n_pos:
        g1, g2 = person(family, "ga"), person(family, "gb")
        facts.append("married(%s,%s)." % (g1, g2))
        attributes(g1)
        attributes(g2)
        children, grandchildren = [], []
        for c in range(3):
            child = person(family, "c%d" % c)
            children.append(child)
            attributes(child)
            for g in (g1, g2):
                facts.append("parent(%s,%s)." % (g, child))
            for k in range(3):
                grandchild = person(family, "c%dk%d" % (c, k))
                grandchildren.append((child, grandchild))
                attributes(grandchild)
                facts.append("parent(%s,%s)." % (child, grandchild))
                for g in (g1, g2):
                    positives.append("grandparent(%s,%s)." % (g, grandchild))
        families.append((g1, g2, children, grandchildren))
        family += 1
    positives = positives[:n_pos]
    n_neg = n_examples - n_pos
    seen = set()
    while len(negatives) < n_neg:
        g1, g2, children, grandchildren = rng.choice(families)
        kind = rng.randrange(4)
        if kind == 0:
            pair = (rng.choice((g1, g2)), rng.choice(children))
        elif kind == 1:
            pair = tuple(rng.sample(children, 2))
        elif kind == 2:
            child, grandchild = rng.choice(grandchildren)
            pair = (grandchild, rng.choice((g1, g2)))
        else:
            pair = (rng.choice(children), rng.choice((g1, g2)))
        if pair in seen:
            continue
        seen.add(pair)
        negatives.append("grandparent(%s,%s)." % pair)
    rng.shuffle(facts)
    with open(directory + "/BK.pl", "w") as handle:
        handle.write("\n".join(facts) + "\n")
    with open(directory + "/pos_example.f", "w") as handle:
        handle.write("\n".join(positives) + "\n")
    with open(directory + "/neg_example.n", "w") as handle:
        handle.write("\n".join(negatives) + "\n")
    return len(facts), len(positives), len(negatives)


OPTIONS = dict(
    constant_set=[], meta_rule=[], min_pos=1, max_neg=0, max_literals=2, exact_literals=False,
    key_size=[], distinct=False, optimize=False, eval_fn="accuracy", reduce_bc=False,
    bc_count=20, set_chain=False, pi=False, recursive=False, rule_noise_check=False,
)


def fresh(dictionary):
    """A copy whose bottom-clause lists are new (the arity table sorts them)."""
    return {key: list(clause) for key, clause in dictionary.items()}


def main():
    n_examples = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    k_fold = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    with tempfile.TemporaryDirectory() as work:
        facts, n_pos, n_neg = write_task(work, n_examples)
        os.chdir(work)
        pos, neg = vantor.bottom_clause_generation(container="memory", tqdm_disable=True)
        sizes = [len(c) for c in list(pos.values()) + list(neg.values())]
        print("task: %d facts, %d positive + %d negative examples, bottom clauses %d-%d literals "
              "(mean %.1f)" % (facts, n_pos, n_neg, min(sizes), max(sizes), sum(sizes) / len(sizes)))

        learn_seconds = None
        if hasattr(vantor, "vantor_learn"):
            random.seed(0)
            start = time.perf_counter()
            with contextlib.redirect_stderr(io.StringIO()):
                learned = vantor.vantor_learn(fresh(pos), fresh(neg), file="BK.pl", verbose=True)
            learn_seconds = time.perf_counter() - start
            print("vantor_learn (all examples): %.3f s total, %.3f s learning, theory %s, "
                  "training accuracy %s" % (learn_seconds, learned.time_learn, learned.hypothesis,
                                            learned.accuracy))

        for verbose in (True, False):
            random.seed(0)
            kfolds = vantor.vantor_folds(k_fold, True, fresh(pos), fresh(neg))
            sink = io.StringIO()
            start = time.perf_counter()
            with contextlib.redirect_stdout(sink), contextlib.redirect_stderr(io.StringIO()):
                record, work_done = _cross_validation(
                    kfolds, file="BK.pl", k_fold=k_fold, verbose=verbose, **OPTIONS
                )
            total = time.perf_counter() - start
            label = "quiet (verbose=True)" if verbose else "printing (verbose=False)"
            print("%d-fold cross-validation, %s: %.3f s total" % (k_fold, label, total))
            print("    learning %.3f s (candidates once: %d rules), Prolog evaluation %.3f s "
                  "(%d evaluations), host wrapper %.3f s"
                  % (work_done["seconds_learning"], work_done["candidates"],
                     work_done["seconds_prolog"], work_done["prolog_evaluations"],
                     total - record.time_learn))
            print("    coverage computed for %d examples, answered from the cache %d times "
                  "(%d distinct examples)" % (work_done["coverage_computed"],
                                              work_done["coverage_reused"], len(set(pos) | set(neg))))
            print("    test accuracy per fold: %s" % record.accuracy)
            if learn_seconds:
                print("    cost relative to one vantor_learn call: %.2fx" % (total / learn_seconds))


if __name__ == "__main__":
    main()
