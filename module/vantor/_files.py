"""File work of the package in one place: file-name parameters, loading a
stored (pickled) object and replacing files so that they hold either their
old or their whole new content, never a part."""
import errno
import os
import pickle
import stat
import tempfile

__all__ = ["path_text", "load_stored", "AtomicFile", "replace_files"]

_PATH_TYPES = (str, bytes, os.PathLike)

# What load_stored raises for an empty or truncated file unless told otherwise.
_RAISE = object()


def path_text(value, parameter):
    """A file-name parameter as a str (``os.fspath`` of a path object)."""
    if isinstance(value, str):
        return value
    if isinstance(value, os.PathLike):
        path = os.fspath(value)
        if isinstance(path, str):
            return path
    raise TypeError(
        f"{parameter} must be a file name (str or os.PathLike), not {type(value).__name__}"
    )


def load_stored(path, parameter=None, *, if_empty=_RAISE):
    """The one object pickled in the file ``path``.

    A file that ends before a complete object (empty, or cut off) gives
    ``if_empty`` when it is given, and otherwise raises ValueError saying
    how to make the file again. With ``parameter``, a ``path`` that is no
    file name raises TypeError naming it (``open`` would take an integer as
    a file descriptor and close it). A missing file raises
    FileNotFoundError, a file that is no pickle ``pickle.UnpicklingError``.
    """
    if parameter is not None and not isinstance(path, _PATH_TYPES):
        raise TypeError(
            f"{parameter} must be a bottom-clause dictionary (dict) or the name of a file "
            f"holding a stored one, not {type(path).__name__}"
        )
    with open(path, "rb") as stream:
        try:
            return pickle.load(stream)
        except EOFError:
            pass
        except pickle.UnpicklingError as error:
            # Cut off inside an opcode's argument: the file ended early too.
            if str(error) != "pickle data was truncated":
                raise
    if if_empty is not _RAISE:
        return if_empty
    # An empty file is what a failed bottom_clause_generation leaves behind;
    # reading it as "no examples" would hide that failure.
    raise ValueError(
        f"{os.fsdecode(path)!r} holds no stored bottom-clause dictionary (the file is empty "
        "or truncated); build it again with bottom_clause_generation"
    )


def _mode_for(path):
    """The mode the file has, or the one a plain open() would give it."""
    try:
        return stat.S_IMODE(os.stat(path).st_mode)
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask


class AtomicFile:
    """A file that replaces ``path`` only once it is complete.

    The temporary file is made up front, beside the target (through a
    symbolic link, where writing in place would go), so that an unwritable
    place is reported before any work is done. ``commit`` renames it over
    the target; ``discard`` (or leaving a ``with`` block by an exception)
    removes it and leaves an earlier file of that name as it was. Text files
    are UTF-8 with line breaks written as given.
    """

    def __init__(self, path, parameter="file", binary=False):
        path = path_text(path, parameter)
        if not path:
            raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), path)
        self.path = os.path.realpath(path) if os.path.islink(path) else path
        folder = os.path.dirname(os.path.abspath(self.path))
        if not os.path.isdir(folder):
            raise FileNotFoundError(
                errno.ENOENT, f"{os.strerror(errno.ENOENT)} (no directory for {parameter})", path
            )
        fd, self.temporary = tempfile.mkstemp(
            prefix="." + os.path.basename(self.path) + ".", suffix=".tmp", dir=folder
        )
        if binary:
            self.stream = os.fdopen(fd, "wb")
        else:
            self.stream = os.fdopen(fd, "w", encoding="utf-8", newline="")

    def commit(self):
        try:
            self.stream.flush()
            os.fsync(self.stream.fileno())
            self.stream.close()
            # mkstemp makes the file private to its owner.
            os.chmod(self.temporary, _mode_for(self.path))
            os.replace(self.temporary, self.path)
        except BaseException:
            self.discard()
            raise

    def discard(self):
        self.stream.close()
        try:
            os.unlink(self.temporary)
        except OSError:
            pass

    def __enter__(self):
        return self

    def __exit__(self, kind, error, trace):
        if kind is None:
            self.commit()
        else:
            self.discard()
        return False


def replace_files(contents):
    """Write ``{path: text}`` so that each file holds either its old or its
    new text: every temporary file is written first, then each is renamed
    over its target."""
    pending = []
    try:
        for path, text in contents.items():
            pending.append(AtomicFile(path))
            pending[-1].stream.write(text)
        while pending:
            pending[0].commit()
            pending.pop(0)
    finally:
        for file in pending:
            file.discard()
