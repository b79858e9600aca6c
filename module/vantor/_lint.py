"""Lines that the learner and the Prolog engine read differently.

Bottom clauses are built from the text of the background file: every
argument is a term, whatever its spelling, and only facts are read. The
engine consults the same file as Prolog: a capitalised argument is a
variable there, an argument such as ``new york`` or ``3rd`` is a syntax
error or another term, and rules and directives run. A theory learned from
such a file scores differently in the engine than the learner expected, so
the first such line of a file is reported once, with what to do about it.
"""
import heapq
import os
import re
import threading
import warnings

__all__ = ["first_problem", "lint_lines", "lint_file", "lint_odd_lines", "warn_file"]

_ATOM = re.compile(r"[a-z][A-Za-z0-9_]*\Z")
_NUMBER = re.compile(r"[+-]?(\d+(\.\d+)?([eE][+-]?\d+)?|\d+\.\d*|\.\d+)\Z")
_QUOTED = re.compile(r"'([^'\\]|\\.|'')*'\Z")
_LITERAL = re.compile(r"([^(]*)\((.*)\)\s*\.?\s*\Z", re.S)


def _split_arguments(text):
    """Top-level arguments of ``text`` (commas inside quotes, brackets and
    parentheses do not split)."""
    parts, depth, quote, start = [], 0, None, 0
    for i, ch in enumerate(text):
        if quote:
            if ch == quote:
                quote = None
        elif ch in "'\"":
            quote = ch
        elif ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        elif ch == "," and depth == 0:
            parts.append(text[start:i].strip())
            start = i + 1
    parts.append(text[start:].strip())
    return parts


def _outside_quotes(text):
    return re.sub(r"'([^'\\]|\\.)*'|\"([^\"\\]|\\.)*\"", "''", text)


def _term_problem(term, role):
    """What is wrong with one argument (or predicate name), or None."""
    if not term:
        return f"an empty {role}"
    if _ATOM.match(term) or _QUOTED.match(term):
        return None
    if role == "argument" and (_NUMBER.match(term) or term[0] in "[(" or
                               re.match(r"[a-z][A-Za-z0-9_]*\(.*\)\Z", term, re.S)):
        return None
    if term[0].isupper() or term[0] == "_":
        return (f"the {role} {term!r} starts with a capital letter or '_': the learner "
                f"keeps it as a term but Prolog reads it as a variable; write it in lower "
                f"case or quote it ('{term}')")
    return (f"the {role} {term!r} is no plain Prolog atom or number: the engine reads it "
            f"as another term or fails with a syntax error; quote it ('{term}') or write "
            f"it with letters, digits and '_' only, starting with a lower-case letter")


def first_problem(line):
    """What Prolog would read differently in one line, or None."""
    text = line.strip()
    if not text or text.startswith("%"):
        return None
    bare = _outside_quotes(text)
    if bare.startswith(":-") or bare.startswith("?-"):
        return ("it is a directive: the learner skips it but the engine runs it when the file is "
                "consulted; move it to a file of its own")
    if ":-" in bare:
        return ("it is a rule: bottom clauses are built from facts only, so the learner never sees "
                "what it derives while the engine uses it; write the facts it derives "
                "instead, or keep rules out of the background")
    match = _LITERAL.match(text)
    if not match:
        name = text.rstrip(".").strip()
        return _term_problem(name, "predicate name") if name else None
    problem = _term_problem(match.group(1).strip(), "predicate name")
    if problem:
        return problem
    for argument in _split_arguments(match.group(2)):
        problem = _term_problem(argument, "argument")
        if problem:
            return problem
    return None


def lint_lines(lines, name):
    """The message for the first line of ``lines`` that Prolog reads
    differently (``name`` says where the lines come from), or None."""
    for number, line in enumerate(lines, 1):
        problem = first_problem(line)
        if problem:
            return f"{name}, line {number} ({line.strip()!r}): {problem}"
    return None


# A line of plain facts holds only lower-case names, digits, "_", brackets,
# commas, full stops and blanks; any other character, or a term that starts
# with a capital letter or "_", marks a line worth the full check.
_ODD_CHARACTER = re.compile(r"[^a-z0-9_(),.\s]")
# A term that starts with "_" (the only capital-free way to write a variable).
_UNDERSCORE_STARTS = ("(_", ",_", " _", "\n_")


def _positions(content, needle):
    at = content.find(needle)
    while at >= 0:
        yield at
        at = content.find(needle, at + 1)


def _suspect_positions(content):
    """Positions of marks, ascending: any character plain facts never hold
    (capitals, quotes, operators; one fast scan) and terms that start with
    "_" (plain substring searches), merged."""
    odd = (m.start() for m in _ODD_CHARACTER.finditer(content))
    underscores = [_positions(content, needle) for needle in _UNDERSCORE_STARTS]
    if content[:1] == "_":
        yield 0
    yield from heapq.merge(odd, *underscores)


# lint_file's answers by (path, size, modification time): a learner fitted
# again and again on one background checks it once.
_CHECKED = {}
_CHECKED_KEPT = 16
_CHECKED_LOCK = threading.Lock()


def lint_file(path):
    """``lint_lines`` for the lines of a text file. Only the lines a quick
    scan of the whole text marks are checked in full, so a large file of
    plain facts costs one pass of a regular expression."""
    try:
        status = os.stat(path)
        key = (os.path.abspath(os.fsdecode(path)), os.fsdecode(path), status.st_size,
               status.st_mtime_ns)
    except OSError:
        key = None
    with _CHECKED_LOCK:
        if key is not None and key in _CHECKED:
            return _CHECKED[key]
    message = _lint_text_file(path)
    if key is not None:
        with _CHECKED_LOCK:
            if len(_CHECKED) >= _CHECKED_KEPT:
                _CHECKED.pop(next(iter(_CHECKED)))
            _CHECKED[key] = message
    return message


def _lint_text_file(path):
    with open(path, encoding="utf-8-sig", errors="replace") as stream:
        content = stream.read()
    name = os.fsdecode(path)
    number, counted_to, checked_to = 1, 0, -1
    for at in _suspect_positions(content):
        if at <= checked_to:
            continue
        start = content.rfind("\n", 0, at) + 1
        end = content.find("\n", at)
        end = len(content) if end < 0 else end
        number += content.count("\n", counted_to, start)
        counted_to = start
        line = content[start:end]
        problem = first_problem(line)
        if problem:
            return _message(name, number, line, problem)
        checked_to = end
    return None


def _message(name, number, line, problem):
    return f"{name}, line {number} ({line.strip()!r}): {problem}"


def lint_odd_lines(odd_lines, path):
    """``lint_file`` from the candidate lines the core found while reading
    the file for bottom clauses: ((number, text, certain) tuples in line
    order, whether that list is complete). A line marked only by non-ASCII
    characters is a candidate when one of them is no blank, as in the quick
    scan of ``lint_file``, which reads the file itself when the core kept
    only the first of very many candidates."""
    lines, complete = odd_lines
    name = os.fsdecode(path)
    for number, line, certain in lines:
        if certain or _ODD_CHARACTER.search(line):
            problem = first_problem(line)
            if problem:
                return _message(name, number, line, problem)
    return None if complete else lint_file(path)


def warn_file(source, name=None, stacklevel=2):
    """One UserWarning for the first line of ``source`` (a file name or a
    list of line texts) that Prolog reads differently; returns the message
    or None."""
    if isinstance(source, (str, os.PathLike)):
        message = lint_file(source)
    else:
        message = lint_lines(source, name or "the given lines")
    if message:
        warnings.warn(message, UserWarning, stacklevel=stacklevel + 1)
    return message
