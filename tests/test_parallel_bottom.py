"""Bottom clauses built by worker threads equal the serial build, and the
engine's load beside the search still refuses what the engine refuses."""
import os
import random
import warnings

import pytest

import vantor
from vantor import _core, _proving
from vantor._options import learn_options


@pytest.fixture(scope="module")
def kinship(tmp_path_factory):
    """A background of 400 people and 1,100 examples: enough for several
    shares, with an example repeated across shares."""
    rnd = random.Random(5)
    people = [f"p{i}" for i in range(400)]
    facts = [f"{rnd.choice(['male', 'female'])}({p})." for p in people]
    facts += [f"parent({rnd.choice(people[:i])},{p})." for i, p in enumerate(people) if i > 0]
    facts += [f"rel({rnd.choice(people)},{rnd.choice(people)})." for _ in range(400)]
    path = tmp_path_factory.mktemp("kinship") / "BK.pl"
    path.write_text("\n".join(facts) + "\n")
    examples = [f"gp({rnd.choice(people)},{rnd.choice(people)})." for _ in range(1100)]
    examples[900] = examples[3]
    return str(path), examples


def build(background, examples, n_jobs, **options):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        pos, neg = vantor.bottom_clause_generation(
            background, container="memory", positive_example=examples, negative_example=examples[:50],
            depth=2, tqdm_disable=True, reach="hops", size_warning=20, n_jobs=n_jobs, **options)
    return pos, neg, [str(w.message) for w in caught]


@pytest.mark.parametrize("options", [{}, {"follow": "any", "recall": 3}])
def test_shares_give_the_serial_dictionaries_and_warnings(kinship, options):
    background, examples = kinship
    serial = build(background, examples, 1, **options)
    assert any("size_warning=20" in message for message in serial[2])
    shared = build(background, examples, 2, **options)
    assert shared == serial
    assert list(shared[0]) == list(serial[0])  # the order of the keys too
    one_set = vantor.bottom_clauses_for_set(background, [], 2, examples, "unused", "memory", True,
                                            reach="hops", n_jobs=-1, **options)
    assert list(one_set.items()) == list(serial[0].items())


def test_shares_report_a_bad_example_as_the_serial_build_does(kinship):
    background, examples = kinship
    broken = examples[:700] + [" "] + examples[700:]
    messages = []
    for n_jobs in (1, 2):
        with pytest.raises(ValueError) as error:
            build(background, broken, n_jobs)
        messages.append(str(error.value))
    assert messages[0] == messages[1] and "example 701 of 1101" in messages[0]
    with pytest.raises(ValueError, match="n_jobs"):
        build(background, examples, 0)


def test_a_background_the_engine_refuses_fails_the_search_with_any_n_jobs(tmp_path, monkeypatch):
    # atom/1 is a built-in: facts of it read as facts here, but the engine
    # refuses the file, and the search must say so rather than answer.
    background = tmp_path / "BK.pl"
    background.write_text("atom(a).\np(a).\np(b).\nq(c).\n")
    pos = {"t(a).": ["p(A)"], "t(b).": ["p(A)"]}
    neg = {"t(c).": ["q(A)"]}
    for n_jobs in (1, 2):
        options = learn_options(search="refine", verbose=True, n_jobs=n_jobs)
        with pytest.raises(_core.PrologError, match="atom"):
            _core._refine_learn(pos, neg, str(background), options)  # the search alone
    # Workers answer from the facts without loading the file themselves:
    # the load beside the search still refuses it.
    monkeypatch.setattr(_proving, "_SMALLEST_SHARED_BATCH", 0)
    with pytest.raises(_core.PrologError, match="atom"):
        _core._refine_learn(pos, neg, str(background), options, _proving.proving_service(2))
