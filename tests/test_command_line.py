import json
import os
import shutil
import subprocess
import sys

import pytest

import vantor
from vantor import _options, cli

FAMILY = os.path.join(os.path.dirname(__file__), "..", "examples", "family")
# Where the imported package lives (the work tree or an installed copy).
MODULE = os.path.dirname(os.path.dirname(os.path.abspath(vantor.__file__)))
RULE = "grandparent(A,B):-parent(A,C),parent(C,B)"


@pytest.fixture
def family(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return ["BK.pl", "pos_example.f", "neg_example.n"]


def run(capsys, *argv):
    code = cli.main(list(argv))
    captured = capsys.readouterr()
    return code, captured.out, captured.err


def test_learn_save_predict_explain(family, capsys):
    code, out, err = run(capsys, "learn", *family, "-o", "theory.pl", "--dataset", "family")
    assert code == 0 and err == ""
    assert out.splitlines()[0].startswith("% setting: chosen")
    assert out.splitlines()[1].startswith(RULE + ".")
    assert "% training: accuracy 1" in out
    code, out, _ = run(capsys, "predict", "theory.pl", "BK.pl", "neg_example.n")
    assert code == 0
    assert out.splitlines()[0] == "grandparent(quentin,tina).\t0\t"
    code, out, _ = run(capsys, "predict", "theory.pl", "BK.pl", "pos_example.f", "--json")
    rows = json.loads(out)
    assert {row["label"] for row in rows} == {1} and rows[0]["rule"] == RULE
    code, out, _ = run(capsys, "explain", "theory.pl", "BK.pl", "grandparent(arthur,diana)",
                       "grandparent(diana,arthur)")
    assert out.splitlines() == ["grandparent(arthur,diana): proved",
                                f"  {RULE}   with A=arthur, B=diana, C=charles",
                                "grandparent(diana,arthur): not proved"]
    # Nothing but the theory is left in the working directory.
    assert sorted(os.listdir()) == sorted(family + ["theory.pl"])


def test_learning_flags_reach_the_learner(family, capsys):
    code, out, _ = run(capsys, "learn", *family, "--max-literals", "1", "--json")
    result = json.loads(out)
    assert code == 0 and RULE not in result["theory"]
    assert all(set(row) == {"rule", "positives", "negatives", "precision"}
               for row in result["rules"])
    code, out, _ = run(capsys, "learn", *family, "--meta-rule", "A(A,B):-B(A,C)&C(C,B)",
                       "--json")
    assert json.loads(out)["theory"] == [RULE]


def test_every_learning_option_has_a_flag():
    parser = cli.build_parser()
    learn = parser._subparsers._group_actions[0].choices["learn"]
    destinations = {action.dest for action in learn._actions}
    for option in _options._OPTIONS:
        if option.name != "verbose":
            assert option.name in destinations, option.name
    assert "--jobs" in learn.format_help() and "--quiet" in learn.format_help()


def test_errors_are_one_line_with_exit_codes(family, capsys):
    code, out, err = run(capsys, "learn", "missing.pl", "pos_example.f", "neg_example.n")
    assert code == 1 and out == ""
    assert err == "vantor: error: missing.pl: No such file or directory\n"
    code, _, err = run(capsys, "learn", *family, "--max-literals", "-1")
    assert code == 1 and err.count("\n") == 1 and "max_literals must be at least 0" in err
    with pytest.raises(SystemExit) as stop:
        cli.main(["learn", "BK.pl"])
    assert stop.value.code == 2
    with pytest.raises(FileNotFoundError):
        cli.main(["learn", "missing.pl", "pos_example.f", "neg_example.n", "--debug"])


def test_warnings_name_the_line_on_stderr(family, capsys):
    with open("pos_example.f", "a") as stream:
        stream.write("grandparent(Arthur,diana).\n")
    code, _, err = run(capsys, "learn", *family)
    assert code == 0
    assert err.startswith("vantor: warning: pos_example.f, line 9 ")
    code, _, err = run(capsys, "learn", *family, "--quiet")
    assert err == ""


def test_cross_validation_with_seed_repeats_and_plots(family, capsys):
    code, first, _ = run(capsys, "cv", *family, "--folds", "4", "--seed", "7", "--json")
    code2, second, _ = run(capsys, "cv", *family, "--folds", "4", "--seed", "7", "--json",
                           "--plot", "cv.png")
    assert code == code2 == 0 and json.loads(first) == json.loads(second)
    assert len(json.loads(first)["accuracy"]) == 4
    with open("cv.png", "rb") as stream:
        assert stream.read(4) == b"\x89PNG"


def test_bottom_stores_both_sets(family, capsys):
    code, out, _ = run(capsys, "bottom", *family, "--pos-out", "p.bc", "--neg-out", "n.bc",
                       "--json")
    summary = json.loads(out)
    assert code == 0 and summary["p.bc"]["examples"] == 8 and summary["n.bc"]["examples"] == 8
    import vantor

    assert len(vantor.read_pickle("p.bc")) == 8


def test_tabular_writes_files_that_learn_from(tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    rows = ["size,colour,label"] + [f"{n},red,yes" for n in range(1, 7)] + \
        [f"{n},blue,no" for n in range(7, 13)]
    (tmp_path / "table.csv").write_text("\n".join(rows) + "\n")
    code, out, err = run(capsys, "tabular", "table.csv", "--target", "label", "--json")
    assert code == 0, err
    assert json.loads(out)["examples"] == ["pos_example.f", "neg_example.n"]
    assert "colour(e_0,red)." in (tmp_path / "BK.pl").read_text()
    code, _, err = run(capsys, "tabular", "table.csv", "--target", "nope")
    assert code == 1 and "column 'nope' is not in 'table.csv'" in err


def test_python_dash_m_runs_the_command(family):
    environment = dict(os.environ, PYTHONPATH=os.path.abspath(MODULE))
    run = subprocess.run([sys.executable, "-m", "vantor", "learn", *family, "--json"],
                         capture_output=True, text=True, env=environment, timeout=120)
    assert run.returncode == 0, run.stderr
    assert json.loads(run.stdout)["theory"] == [RULE]
    run = subprocess.run([sys.executable, "-m", "vantor"], capture_output=True, text=True,
                         env=environment, timeout=120)
    assert run.returncode == 2 and "usage: vantor" in run.stderr


def test_outputs_never_replace_inputs(family, capsys):
    before = {name: open(name).read() for name in family}
    os.symlink("pos_example.f", "link.f")
    os.link("neg_example.n", "hard.n")
    for argv in (["learn", *family, "-o", "BK.pl"], ["learn", *family, "-o", "link.f"],
                 ["cv", *family, "--plot", "hard.n"], ["bottom", *family, "--pos-out", "BK.pl"],
                 ["bottom", *family, "--neg-out", "./pos_example.f"]):
        code, out, err = run(capsys, *argv)
        assert code == 1 and "would replace that input" in err, argv
    assert {name: open(name).read() for name in family} == before
    assert sorted(os.listdir()) == sorted(family + ["link.f", "hard.n"])


def test_usage_errors_exit_2_and_json_errors_reach_stdout(family, capsys):
    for flags in (["--min-pos", "nan"], ["--max-neg", "-1"], ["--max-neg", "-1", "--json"]):
        with pytest.raises(SystemExit) as stop:
            cli.main(["learn", *family, *flags])
        out, err = capsys.readouterr()
        assert stop.value.code == 2 and "error:" in err
        assert json.loads(out)["error"] if "--json" in flags else out == ""
    code, out, err = run(capsys, "cv", *family, "--folds", "9", "--json")
    assert code == 2 and "at most 8" in err and "at most 8" in json.loads(out)["error"]
    code, out, _ = run(capsys, "learn", "missing.pl", "pos_example.f", "neg_example.n", "--json")
    assert code == 1 and json.loads(out) == {"error": "vantor: error: missing.pl: No such "
                                                      "file or directory"}
