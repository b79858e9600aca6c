"""Reading example files, background constants and stored objects."""
import os
from typing import Any, Optional, Union

from ._core import _collect_constants, read_example
from ._files import load_stored

__all__ = ["read_example", "read_pickle", "read_constants_bk"]


def read_pickle(pos: Union[str, bytes, os.PathLike]) -> Any:
    """Load the one object stored in a pickle file.

    Bottom-clause dictionaries written by bottom_clause_generation in stored
    mode are read back with this.

    Parameters
    ----------
    pos : str, bytes or os.PathLike
        The file name.

    Returns
    -------
    object
        The stored object; a file that ends before a complete object (an
        empty or truncated file) gives an empty list.

    Raises
    ------
    pickle.UnpicklingError
        For a file that is not a pickle.
    FileNotFoundError
        For a missing file.

    Warnings
    --------
    Any pickle is loaded, whatever objects it holds, and loading a pickle
    runs the code it names: a crafted file can do anything the calling
    program may do. Read only files you made yourself or trust. The
    functions that take the name of a stored dictionary (split_examples,
    vantor_folds, vantor_abduction, ...) load only plain containers, texts
    and numbers and refuse any other file.

    Examples
    --------
    >>> bottom_clause_generation(tqdm_disable=True)
    ('positive_bottom_clause', 'negative_bottom_clause')
    >>> read_pickle("positive_bottom_clause")["grandparent(arthur,diana)."]
    ['parent(A,C)', 'parent(C,B)', 'male(A)', 'male(C)', 'female(B)']
    """
    return load_stored(pos, if_empty=[], any_object=True)


def read_constants_bk(file: Union[str, os.PathLike, list[str]] = "BK.pl",
                      constants: Optional[list] = None,
                      relation: Optional[dict[str, list[int]]] = None) -> list:
    """Collect the values at chosen argument positions of background facts.

    Parameters
    ----------
    file : str, os.PathLike or list of str, default 'BK.pl'
        Background file name, or a list of fact texts.
    constants : list, optional
        The list to extend in place and return; a new empty list when
        omitted (calls that omit it do not share one).
    relation : dict, optional
        Predicate -> list of 0-based argument positions whose values are
        collected; nothing is collected when omitted.

    Returns
    -------
    list
        `constants`, with the values appended in order of discovery, each at
        most once (a value already in `constants` is not added again).

    Raises
    ------
    IndexError
        For a position beyond a fact's arguments (`constants` is left
        unchanged).
    TypeError
        When `constants` is no list.

    Examples
    --------
    >>> read_constants_bk(["colour(c1,red).", "colour(c2,red)."], [], {"colour": [1]})
    ['red']
    """
    if constants is None:
        constants = []
    elif not isinstance(constants, list):
        raise TypeError(
            "constants must be a list (it is extended in place), not "
            + type(constants).__name__
        )
    found = _collect_constants(file, relation)
    if not found:
        return constants
    if all(type(item) is str for item in constants):
        present = set(constants)
        for value in found:
            if type(value) is str:
                if value in present:
                    continue
                present.add(value)
            elif value in constants:
                continue
            constants.append(value)
    else:
        for value in found:
            if value not in constants:
                constants.append(value)
    return constants
