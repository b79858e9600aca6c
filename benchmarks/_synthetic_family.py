"""A synthetic kinship task of any size: grandparent(X,Y) over parent facts.

Each family has two married grandparents, three children and three
grandchildren per child; every person also has a few attribute facts
(hobbies, a town, an age group) so bottom clauses hold a few dozen literals. Negatives are
parent/child, sibling, cousin and cross-family pairs.
"""
import random


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
            (_, a), (_, b) = rng.sample(grandchildren, 2)
            pair = (a, b)
        else:
            other = rng.choice(families)
            pair = (rng.choice((g1, g2)), rng.choice(other[3])[1])
            if other[0] == g1:
                continue
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
