"""Learners fitted in threads of one host program: each fit prints and draws
as it would alone, and the host's sys.stdout and random generator stay its
own."""
import os
import random
import sys
import threading

import pytest

import vantor
from vantor import Learner

HERE = os.path.dirname(__file__)
DATA = {"family": os.path.join(HERE, "..", "examples", "family")}
DATA.update({name: os.path.join(HERE, "data", name)
             for name in ("ancestor", "path", "updown")})


def examples(name):
    pos = vantor.read_example(os.path.join(DATA[name], "pos_example.f"))
    neg = vantor.read_example(os.path.join(DATA[name], "neg_example.n"))
    return pos + neg, [1] * len(pos) + [0] * len(neg)


def fit(name, background=None, **params):
    # max_neg=2 on "path": the theory depends on the draws (seeds give different ones).
    learner = Learner(background or os.path.join(DATA[name], "BK.pl"), max_neg=2, **params)
    return learner.fit(*examples(name)).theory_


def printing_background(tmp_path):
    """The family background with a directive that prints when it is loaded."""
    path = tmp_path / "BK.pl"
    with open(os.path.join(DATA["family"], "BK.pl")) as stream:
        path.write_text(stream.read() + ':- format("loaded~n").\n')
    return str(path)


def in_threads(jobs):
    """Runs every (key, function) at once; results by key."""
    barrier, results, errors = threading.Barrier(len(jobs)), {}, []

    def run(key, function):
        barrier.wait()
        try:
            results[key] = function()
        except Exception as error:  # reported by the test below
            errors.append(error)

    threads = [threading.Thread(target=run, args=job) for job in jobs]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors
    return results


@pytest.mark.filterwarnings("ignore:.*it is a directive")
def test_concurrent_fits_equal_serial_ones_and_leave_stdout_alone(tmp_path, capsys):
    serial = {name: fit(name, random_state=0) for name in DATA}
    stdout = sys.stdout
    printing = printing_background(tmp_path)
    for _ in range(2):
        jobs = [(name, lambda name=name: fit(name, random_state=0)) for name in DATA]
        jobs.append(("printing", lambda: fit("family", printing, verbose=1)))
        assert in_threads(jobs) == dict(serial, printing=serial["family"])
        assert sys.stdout is stdout
    # The same seeded learner three times at once, while the host reseeds
    # Python's generator: every fit draws from its own.
    jobs = [(k, lambda: fit("path", random_state=0)) for k in range(3)]
    jobs.append(("host", lambda: [random.seed(k) for k in range(20000)]))
    results = in_threads(jobs)
    assert [results[k] for k in range(3)] == [serial["path"]] * 3
    assert sys.stdout is stdout and capsys.readouterr().out == ""


def test_seeded_fit_leaves_the_process_generator_alone():
    random.seed(5)
    state = random.getstate()
    fit("path", random_state=1)
    assert random.getstate() == state
    # An unseeded fit takes one draw from it, so random.seed still repeats it.
    random.seed(5)
    first = fit("path", key_size=2)
    random.seed(5)
    assert fit("path", key_size=2) == first
