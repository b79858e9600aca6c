import pytest

import vantor
from vantor import _options


def test_every_option_says_what_it_does_and_its_default():
    for option in _options._OPTIONS:
        assert option.doc, f"{option.name} has no doc text"
        assert "Default" in option.doc or "default" in option.doc, option.name


@pytest.mark.parametrize("function", [vantor.vantor_learn, vantor.vantor_cross_validation])
def test_wrapped_functions_list_the_learning_options(function):
    doc = function.__doc__
    section = " ".join(doc[doc.index("Learning options"):].split())
    for option in _options._OPTIONS:
        entry = f"{option.name} : {_options.type_text(option.annotation)}, default {option.default!r}"
        assert f" {entry} {' '.join(option.doc.split())}" in section
    # The function's own text comes first, unchanged.
    assert doc.startswith(function.__wrapped__.__doc__.strip().splitlines()[0])


def test_options_follow_the_parameters():
    @_options.takes_learn_options
    def documented(options):
        """Summary.

        Parameters
        ----------
        options : LearnOptions

        Returns
        -------
        int

        Examples
        --------
        >>> documented()
        """

    doc = documented.__doc__
    place = doc.index("Learning options\n----------------\nconstant_set : ")
    assert doc.index("options : LearnOptions") < place < doc.index("Returns") < doc.index("Examples")
    assert doc.rstrip().endswith(">>> documented()")


def test_body_size_range():
    assert _options.learn_options(max_literals=0).max_literals == 0
    with pytest.raises(ValueError, match=r"max_literals must be at least 0 .*got -2"):
        _options.learn_options(max_literals=-2)
