"""Theories on disk: a Prolog file that plain SWI-Prolog consults together
with the background (``swipl BK.pl theory.pl``), whose comment header keeps
the options, the data set name and the training scores of the run."""
import json
import os
import re
from typing import Any, Optional, Union

from ._files import AtomicFile, not_utf8, path_text
from ._lint import _split_arguments

__all__ = ["save_theory", "load_theory", "read_theory_header"]

_MAGIC = "% Vantor theory"
# Header keys, in the order they are written; each value is one JSON text.
_KEYS = ("dataset", "background", "options", "training")
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
                background: Optional[str] = None) -> None:
    """Write ``theory`` (rule texts, body joined by "," or "&") to ``path``.

    The file starts with comment lines holding ``dataset`` (a name),
    ``background`` (the background file it was learned with), ``options``
    (the learning settings) and ``scores`` (training measures), each as JSON,
    then the directives that silence singleton and discontiguous warnings,
    a ``table`` directive for every predicate that calls itself, and one
    clause per line. The file is replaced only once it is complete.
    Raises ValueError for a rule that is no text or empty.
    """
    target = path_text(path, "path")
    clauses = [_prolog_rule(rule) for rule in theory]
    header = {"dataset": dataset, "background": background, "options": options,
              "training": scores}
    lines = [_MAGIC]
    for key in _KEYS:
        if header[key] is not None:
            lines.append(f"% {key}: {json.dumps(header[key], sort_keys=True, default=repr)}")
    lines += [":- style_check(-singleton).", ":- style_check(-discontiguous)."]
    lines += [f":- table {key}." for key in recursive_predicates(clauses)]
    lines += clauses
    with AtomicFile(target, "path") as out:
        out.stream.write("\n".join(lines) + "\n")


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
    """The rules of a theory file (as ``save_theory`` writes it, or any file
    of clauses one per line or spanning lines, each ending with "."), in
    file order, without the final "."; comments and directives are skipped."""
    try:
        with open(path_text(path, "path"), encoding="utf-8") as stream:
            return list(_clauses(stream))
    except UnicodeDecodeError as e:
        raise not_utf8(path, e) from None


def read_theory_header(path: Path) -> dict[str, Any]:
    """The header values of a theory file (``dataset``, ``background``,
    ``options``, ``training``); keys the file lacks are absent."""
    header = {}
    try:
        with open(path_text(path, "path"), encoding="utf-8") as stream:
            for line in stream:
                if not line.startswith("%"):
                    break
                key, _, value = line[1:].strip().partition(": ")
                if key in _KEYS and value:
                    header[key] = json.loads(value)
    except UnicodeDecodeError as e:
        raise not_utf8(path, e) from None
    return header
