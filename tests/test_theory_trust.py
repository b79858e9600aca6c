"""A theory file is data from elsewhere: its header never picks the
background, loosens the caller's settings or passes unchecked values, and
its rules run only as the caller allows."""
import json
import os
import shutil

import pytest

from vantor import Learner, cli

FAMILY = os.path.join(os.path.dirname(__file__), "..", "examples", "family")
RULE = "grandparent(A,B):-parent(A,C),parent(C,B)"
# Proves what RULE proves, after running a shell command.
HOSTILE = 'grandparent(A,B) :- shell("touch ran"), parent(A,C), parent(C,B).'


@pytest.fixture
def family(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def theory_file(name, rule=RULE, **header):
    lines = ["% Vantor theory"] + [f"% {key}: {json.dumps(value)}"
                                   for key, value in header.items()]
    with open(name, "w") as stream:
        stream.write("\n".join(lines + [rule + "."]) + "\n")
    return name


def test_header_background_is_used_only_with_its_digest(family):
    pos = ["grandparent(arthur,diana)"]
    Learner("BK.pl").fit(pos + ["grandparent(diana,arthur)"], [1, 0]).save("theory.pl")
    os.mkdir("elsewhere")
    os.chdir("elsewhere")
    assert list(Learner.load("../theory.pl").predict(pos)) == [1]
    with open("../BK.pl", "a") as stream:
        stream.write("parent(zed,zoe).\n")
    with pytest.raises(ValueError, match="SHA-256 differs.*background="):
        Learner.load("../theory.pl")
    assert list(Learner.load("../theory.pl", background="../BK.pl").predict(pos)) == [1]
    # Hand-written or older headers could name any file.
    for header, message in (({"background": "/etc/passwd"}, "without the SHA-256"),
                            ({"background": "/etc/passwd", "background_sha256": "0" * 64},
                             "absolute path")):
        with pytest.raises(ValueError, match=message):
            Learner.load(theory_file("hand.pl", **header))


def test_header_options_are_checked_and_never_outrank_the_caller(family):
    for options, error in (({"max_literals": -5}, ValueError), ({"n_jobs": "x"}, TypeError)):
        with pytest.raises(error, match="'bad.pl', header options: (max_literals|n_jobs)"):
            Learner.load(theory_file("bad.pl", options=options), background="BK.pl")
    limits = {None: 300.0, 1e9: 300.0, 5: 5}
    for header, loaded in limits.items():
        path = theory_file("t.pl", options={"time_limit": header})
        assert Learner.load(path, background="BK.pl").time_limit == loaded
    assert Learner.load(path, background="BK.pl", time_limit=None).time_limit is None
    path = theory_file("hostile.pl", HOSTILE, options={"sandbox": False})
    learner = Learner.load(path, background="BK.pl", sandbox=True)
    with pytest.raises(Exception, match="sandbox"):
        learner.predict(["grandparent(arthur,diana)"])
    assert not os.path.exists("ran")


def test_predict_and_explain_take_sandbox_and_time_limit(family, capsys):
    theory_file("hostile.pl", HOSTILE, options={"sandbox": False})
    for command in ("predict", "explain"):
        target = "pos_example.f" if command == "predict" else "grandparent(arthur,diana)"
        code = cli.main([command, "hostile.pl", "BK.pl", target, "--sandbox"])
        assert code == 1 and "sandbox" in capsys.readouterr().err
    assert not os.path.exists("ran")
    theory_file("slow.pl", "grandparent(A,B) :- sleep(5), parent(A,C), parent(C,B).",
                options={"time_limit": None})
    code = cli.main(["predict", "slow.pl", "BK.pl", "pos_example.f", "--time-limit", "0.05"])
    out, err = capsys.readouterr()
    assert code == 0 and out.splitlines()[0].endswith("\t0\t")
    assert "time bound of 0.05 s" in err
