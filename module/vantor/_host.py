"""Where the library prints and which generator it draws from, chosen per
thread of the host program.

By default the library prints through ``sys.stdout`` and draws from Python's
process-wide ``random`` module, so ``redirect_stdout`` and ``random.seed`` in
a script work as usual. A caller that needs its own (the ``Learner``, the
command line) wraps its calls in ``library_run``: the choice lives in context
variables, which every thread holds apart, so a fit in one thread never
changes what another thread prints or draws. The core reads both through
``output()`` and ``generator()`` on the calling thread.
"""
import contextlib
import contextvars
import gc
import random
import sys

__all__ = ["DISCARD", "generator", "library_run", "no_cycle_collection", "output"]

_OUTPUT = contextvars.ContextVar("vantor_output", default=None)
_GENERATOR = contextvars.ContextVar("vantor_generator", default=None)


class _Discard:
    """A text stream that keeps nothing."""

    def write(self, text):
        return len(text)

    def flush(self):
        pass


DISCARD = _Discard()


def output():
    """The stream the library prints to on this thread: the one chosen by
    ``library_run``, else the current ``sys.stdout``."""
    chosen = _OUTPUT.get()
    return sys.stdout if chosen is None else chosen


def generator():
    """The generator the library draws from on this thread: the one chosen
    by ``library_run``, else the ``random`` module itself (both offer
    ``seed``, ``sample`` and ``shuffle``)."""
    chosen = _GENERATOR.get()
    return random if chosen is None else chosen


@contextlib.contextmanager
def library_run(output=None, rng=None):
    """Library calls in this block print to ``output`` and draw from ``rng``
    (a ``random.Random``); None leaves that choice as it was."""
    tokens = []
    if output is not None:
        tokens.append((_OUTPUT, _OUTPUT.set(output)))
    if rng is not None:
        tokens.append((_GENERATOR, _GENERATOR.set(rng)))
    try:
        yield
    finally:
        for variable, token in reversed(tokens):
            variable.reset(token)


@contextlib.contextmanager
def no_cycle_collection():
    """The cycle collector paused while the core makes many containers that
    cannot form cycles (lists and tuples of texts): woken again and again by
    them, it would only walk everything alive, the longer the more the host
    program holds, without freeing anything."""
    collecting = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if collecting:
            gc.enable()
