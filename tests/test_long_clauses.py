"""Five-literal rules: a chain of five relations learned from its bottom clauses."""
import random
import time

import vantor


def chain_task(positives=12, negatives=10, distractors=150, seed=3):
    """t(X,Y) when X reaches Y through r1..r5 in order; each negative has one
    wrong relation at one step, so every shorter rule covers negatives."""
    rng = random.Random(seed)
    facts, names = [], iter(range(10**6))

    def chain(start, end, wrong):
        nodes = [start] + [f"m{next(names)}" for _ in range(4)] + [end]
        for k in range(5):
            relation = k + 1 if k != wrong else rng.choice([r for r in range(1, 6) if r != k + 1])
            facts.append(f"r{relation}({nodes[k]},{nodes[k + 1]}).")
        return nodes

    nodes = []
    for i in range(positives):
        nodes += chain(f"a{i}", f"b{i}", None)
    for i in range(negatives):
        nodes += chain(f"c{i}", f"d{i}", i % 5)
    for _ in range(distractors):
        node = rng.choice(nodes)
        facts.append(rng.choice([f"r{rng.randrange(1, 6)}({node},x{next(names)}).",
                                 f"near({node},x{next(names)}).", f"colour({node},red)."]))
    rng.shuffle(facts)
    return (facts, [f"t(a{i},b{i})." for i in range(positives)],
            [f"t(c{i},d{i})." for i in range(negatives)])


def test_a_five_relation_chain_is_learned_quickly(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    facts, pos_examples, neg_examples = chain_task()
    (tmp_path / "BK.pl").write_text("\n".join(facts) + "\n")
    pos, neg = vantor.bottom_clause_generation(
        file=facts, container="memory", positive_example=pos_examples,
        negative_example=neg_examples, depth=5, tqdm_disable=True)
    start = time.perf_counter()
    result = vantor.vantor_learn(pos, neg, max_literals=5, verbose=True)
    elapsed = time.perf_counter() - start
    assert [rule.replace(" ", "") for rule in result.hypothesis] == [
        "t(A,B):-r1(A,C),r2(C,D),r3(D,E),r4(E,F),r5(F,B)"]
    assert result.accuracy == 1.0
    # Well under a second on a quiet machine; generous for a shared one.
    assert elapsed < 10


def test_four_literals_cannot_separate_the_chain(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    facts, pos_examples, neg_examples = chain_task()
    (tmp_path / "BK.pl").write_text("\n".join(facts) + "\n")
    pos, neg = vantor.bottom_clause_generation(
        file=facts, container="memory", positive_example=pos_examples,
        negative_example=neg_examples, depth=5, tqdm_disable=True)
    result = vantor.vantor_learn(pos, neg, max_literals=4, verbose=True)
    assert result.accuracy < 1.0
