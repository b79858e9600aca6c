"""Theories on disk: a Prolog file that plain SWI-Prolog consults together
with the background (``swipl BK.pl theory.pl``), whose comment header keeps
the options, the data set name and the training scores of the run."""
import hashlib
import json
import os
import re
from typing import Any, Optional, Union

from ._files import AtomicFile, not_utf8, path_text
from ._lint import _split_arguments

__all__ = ["save_theory", "load_theory", "read_theory_header"]

_MAGIC = "% Vantor theory"
# Header keys, in the order they are written; each value is one JSON text.
_KEYS = ("dataset", "background", "background_sha256", "options", "chosen", "training")
Path = Union[str, os.PathLike]


def _prolog_rule(rule):
    if not isinstance(rule, str) or not rule.strip():
        raise ValueError(f"a theory holds rule texts, got {rule!r}")
    text = rule.strip().replace("&", ",")
    return text if text.endswith(".") else text + "."


def _head(rule):
    """(name, arity) of a rule's head."""
    head = rule.split(":-", 1)[0].strip()
    if "(" not in head:
        return head, 0
    name, inner = head.split("(", 1)
    return name.strip(), len(_split_arguments(inner.rsplit(")", 1)[0]))


def recursive_predicates(theory):
    """``name/arity`` of every head predicate that a rule body calls: the
    engine tables these so that a cyclic background cannot loop forever."""
    found = []
    for rule in theory:
        if ":-" not in rule:
            continue
        name, arity = _head(rule)
        body = rule.split(":-", 1)[1]
        if re.search(r"(^|[^A-Za-z0-9_])" + re.escape(name) + r"\(", body):
            key = f"{name}/{arity}"
            if key not in found:
                found.append(key)
    return found


def save_theory(theory: list[str], path: Path, *, options: Optional[dict] = None,
                dataset: Optional[str] = None, scores: Optional[dict] = None,
                background: Optional[Path] = None, chosen: Optional[str] = None) -> None:
    """Write a theory to a Prolog file with a comment header.

    The file starts with comment lines holding ``dataset``, ``background``
    (written as its path relative to the theory file, with the SHA-256 of
    its content as ``background_sha256``), ``options``, ``chosen`` and
    ``scores`` (as the ``training`` key), each as JSON, then the directives that silence
    singleton and discontiguous warnings, a ``table`` directive for every
    predicate that calls itself, and one clause per line. The file is
    replaced only once it is complete.

    Parameters
    ----------
    theory : list of str
        Rule texts, body joined by "," or "&".
    path : str or os.PathLike
        The theory file.
    options : dict, optional
        Keyword only: the learning settings.
    dataset : str, optional
        Keyword only: a data set name.
    scores : dict, optional
        Keyword only: the training measures.
    background : str or os.PathLike, optional
        Keyword only: the background file the theory was learned with.
    chosen : str, optional
        Keyword only: which settings the learner chose and which were given.

    Raises
    ------
    ValueError
        For a rule that is no text or empty.
    OSError
        When the background cannot be read.

    Examples
    --------
    >>> save_theory(["path(A,B):-edge(A,C)&path(C,B)", "path(A,B):-edge(A,B)"], "theory.pl",
    ...             dataset="path")
    >>> print(open("theory.pl").read())
    % Vantor theory
    % dataset: "path"
    :- style_check(-singleton).
    :- style_check(-discontiguous).
    :- table path/2.
    path(A,B):-edge(A,C),path(C,B).
    path(A,B):-edge(A,B).
    <BLANKLINE>
    """
    target = path_text(path, "path")
    clauses = [_prolog_rule(rule) for rule in theory]
    header = {"dataset": dataset, "background": None, "background_sha256": None,
              "options": options, "chosen": chosen, "training": scores}
    if background is not None:
        source = path_text(background, "background")
        header["background_sha256"] = file_sha256(source)
        header["background"] = os.path.relpath(os.path.abspath(source),
                                               os.path.dirname(os.path.abspath(target)))
    lines = [_MAGIC]
    for key in _KEYS:
        if header[key] is not None:
            lines.append(f"% {key}: {json.dumps(header[key], sort_keys=True, default=repr)}")
    lines += [":- style_check(-singleton).", ":- style_check(-discontiguous)."]
    lines += [f":- table {key}." for key in recursive_predicates(clauses)]
    lines += clauses
    with AtomicFile(target, "path") as out:
        out.stream.write("\n".join(lines) + "\n")


def file_sha256(path: Path) -> str:
    """The SHA-256 of a file's bytes, in hexadecimal."""
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 16), b""):
            digest.update(block)
    return digest.hexdigest()


def _clauses(stream):
    """Clause texts of a Prolog file; a clause may span lines and ends with
    "." at the end of a line. Comments and directives are skipped."""
    pending = ""
    for line in stream:
        text = line.strip()
        if not pending and (not text or text.startswith("%")):
            continue
        pending = (pending + " " + text).strip() if pending else text
        if pending.endswith("."):
            if not pending.startswith(":-"):
                yield pending[:-1].strip()
            pending = ""
    if pending:
        raise ValueError(f"the last clause does not end with '.': {pending!r}")


def load_theory(path: Path) -> list[str]:
    """The rules of a theory file.

    Parameters
    ----------
    path : str or os.PathLike
        A file as ``save_theory`` writes it, or any file of clauses one per line
        or spanning lines, each ending with ".".

    Returns
    -------
    list of str
        The rules in file order, without the final "."; comments and
        directives are skipped.

    Raises
    ------
    ValueError
        When the last clause does not end with ".".

    Examples
    --------
    >>> save_theory(["grandparent(A,B):-parent(A,C)&parent(C,B)"], "theory.pl")
    >>> load_theory("theory.pl")
    ['grandparent(A,B):-parent(A,C),parent(C,B)']
    """
    try:
        with open(path_text(path, "path"), encoding="utf-8") as stream:
            return list(_clauses(stream))
    except UnicodeDecodeError as e:
        raise not_utf8(path, e) from None


def read_theory_header(path: Path) -> dict[str, Any]:
    """The header values of a theory file.

    Parameters
    ----------
    path : str or os.PathLike
        A theory file.

    Returns
    -------
    dict
        ``dataset``, ``background``, ``background_sha256``, ``options``,
        ``chosen`` and ``training``, read from JSON; keys the file lacks are
        absent.

    Raises
    ------
    ValueError
        For a value that is no JSON, naming the file and line.

    Examples
    --------
    >>> save_theory(["g(A):-p(A)"], "theory.pl", dataset="toy", scores={"accuracy": 1.0})
    >>> read_theory_header("theory.pl")
    {'dataset': 'toy', 'training': {'accuracy': 1.0}}
    """
    header = {}
    name = path_text(path, "path")
    try:
        with open(name, encoding="utf-8") as stream:
            for number, line in enumerate(stream, 1):
                if not line.startswith("%"):
                    break
                key, _, value = line[1:].strip().partition(": ")
                if key in _KEYS and value:
                    try:
                        header[key] = json.loads(value)
                    except ValueError:
                        raise ValueError(f"{name}, line {number}: the header's {key} is no JSON "
                                         f"value: {value[:80]!r}") from None
    except UnicodeDecodeError as e:
        raise not_utf8(name, e) from None
    return header


def header_background(path: Path, header: Optional[dict] = None) -> str:
    """The background file named in the header of theory file ``path``, as a
    path from the working directory: the header's path is taken relative to
    the theory file, and the file found there is used only when its content
    has the SHA-256 the header records. Raises ValueError asking for the
    background otherwise: also for an absolute path or a header without a
    SHA-256, as older files have (their path could name any file)."""
    name = path_text(path, "path")
    header = read_theory_header(name) if header is None else header
    stored, digest = header.get("background"), header.get("background_sha256")
    if stored is None:
        raise ValueError(f"{name!r} names no background file; pass background=")
    if not isinstance(stored, str) or not isinstance(digest, str):
        raise ValueError(f"{name!r} names the background {stored!r} without the SHA-256 of "
                         "its content (an older or hand-written theory file), so it could "
                         "be any file; pass background= with the file to use")
    if os.path.isabs(stored):
        raise ValueError(f"{name!r} names the background by the absolute path {stored!r}; "
                         "saved theories name it relative to themselves: pass background=")
    found = os.path.join(os.path.dirname(name), stored)
    try:
        matches = file_sha256(found) == digest
    except OSError as error:
        raise ValueError(f"{name!r} names the background {stored!r}, which cannot be read "
                         f"at {found!r} ({error.strerror}); pass background=") from None
    if not matches:
        raise ValueError(f"{found!r} is not the background {name!r} was saved with (its "
                         "SHA-256 differs); pass background= to use a background anyway")
    return found
