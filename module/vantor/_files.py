"""File work of the package in one place: file-name parameters, loading a
stored (pickled) object and replacing files so that they hold either their
old or their whole new content, never a part."""
import collections
import errno
import os
import pickle
import shutil
import stat
import tempfile

__all__ = ["path_text", "load_stored", "AtomicFile", "replace_files", "replace_together",
           "refuse_special_file", "not_utf8"]

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


def not_utf8(path, error):
    """The ValueError for a text file that is not UTF-8, naming the file and
    the offending byte (``error`` is the UnicodeDecodeError)."""
    return ValueError(f"{os.fsdecode(path)!r} is not UTF-8 text: invalid byte at offset "
                      f"{error.start}")


def _latin1_bytes(text, encoding):
    """How pickles of protocols 0 to 2 spell a bytes value; any other
    encoding than the one they use is refused (a codec is a lookup by name)."""
    if encoding != "latin1" or not isinstance(text, str):
        raise pickle.UnpicklingError("refused _codecs.encode with encoding %r" % (encoding,))
    return text.encode("latin1")


# The only globals a stored dictionary may name: plain containers and
# scalars. Everything else (a function such as os.system, any class with a
# __reduce__ of its own) would run code while loading.
_DATA_GLOBALS = {
    (module, name): value
    for module in ("builtins", "__builtin__")
    for name, value in (("dict", dict), ("list", list), ("tuple", tuple), ("set", set),
                        ("frozenset", frozenset), ("str", str), ("bytes", bytes), ("int", int),
                        ("float", float), ("bool", bool))
}
_DATA_GLOBALS[("collections", "OrderedDict")] = collections.OrderedDict
_DATA_GLOBALS[("_codecs", "encode")] = _latin1_bytes


class _DataUnpickler(pickle.Unpickler):
    """Loads containers and scalars only, so that a crafted file cannot run
    code; the refusal names the global the file asked for."""

    def __init__(self, stream, path):
        super().__init__(stream)
        self._path = path

    def find_class(self, module, name):
        try:
            return _DATA_GLOBALS[(module, name)]
        except KeyError:
            raise pickle.UnpicklingError(
                f"{os.fsdecode(self._path)!r} asks to load the global {module}.{name}; a stored "
                "bottom-clause dictionary holds only dictionaries, lists, texts and numbers, so "
                "the file is refused (read a trusted file of other objects with read_pickle)"
            ) from None

    def persistent_load(self, pid):
        raise pickle.UnpicklingError(
            f"{os.fsdecode(self._path)!r} refers to a persistent object, which a stored "
            "bottom-clause dictionary never holds"
        )


def load_stored(path, parameter=None, *, if_empty=_RAISE, any_object=False):
    """The one object pickled in the file ``path``.

    Only dictionaries, lists, tuples, sets, texts, bytes, numbers, booleans
    and None are loaded: a file naming any other global raises
    ``pickle.UnpicklingError`` naming it, before anything of it runs. With
    ``any_object`` true every pickle is loaded, which runs whatever code the
    file names; use that only on files one made oneself.

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
        unpickler = pickle.Unpickler(stream) if any_object else _DataUnpickler(stream, path)
        try:
            return unpickler.load()
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


def refuse_special_file(path, parameter):
    """A directory, FIFO, device or socket named as an output is an error,
    not a file to replace: replacing it would remove the directory entry (of
    a system device, say) and put a plain file in its place."""
    try:
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        return
    if stat.S_ISREG(mode):
        return
    if stat.S_ISDIR(mode):
        raise IsADirectoryError(errno.EISDIR, f"{parameter} names a directory", path)
    kind = "a FIFO" if stat.S_ISFIFO(mode) else "a device" if (
        stat.S_ISCHR(mode) or stat.S_ISBLK(mode)) else "a socket or other special file"
    raise FileExistsError(
        errno.EEXIST, f"{parameter} names {kind}, not a regular file; it is left as it is", path
    )


class AtomicFile:
    """A file that replaces ``path`` only once it is complete.

    The temporary file is made up front, beside the target (through a
    symbolic link, where writing in place would go), so that an unwritable
    place, or a target that is a directory, FIFO, device or socket, is
    reported before any work is done. ``finish`` makes sure every byte
    reached the disk; ``replace`` then renames the file over the target, and
    ``commit`` does both. ``discard`` (or leaving a ``with`` block by an
    exception) removes it and leaves an earlier file of that name as it was.
    A write that cannot complete (a full disk) raises OSError naming the
    target. Text files are UTF-8 with line breaks written as given.
    """

    def __init__(self, path, parameter="file", binary=False):
        path = path_text(path, parameter)
        if not path:
            raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), path)
        self.path = os.path.realpath(path) if os.path.islink(path) else path
        self.parameter = parameter
        refuse_special_file(self.path, parameter)
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

    def _failed(self, error):
        """Removes the file and raises the error of a write that did not
        complete, naming the target."""
        self.discard()
        if error.errno is None:
            raise error
        raise OSError(
            error.errno,
            f"{error.strerror or os.strerror(error.errno)} (writing {self.parameter}; "
            "an earlier file of that name is left as it was)",
            self.path,
        ) from error

    def write(self, text):
        """Writes ``text`` (bytes for a binary file)."""
        self.write_with(lambda stream: stream.write(text))

    def write_with(self, writer):
        """Calls ``writer(stream)``; when it fails the file is removed."""
        try:
            writer(self.stream)
        except OSError as error:
            self._failed(error)
        except BaseException:
            self.discard()
            raise

    def finish(self):
        """Flushes, syncs and closes the file, each step checked, and gives
        it the target's mode; on failure the file is removed."""
        try:
            self.stream.flush()
            os.fsync(self.stream.fileno())
            self.stream.close()
            # mkstemp makes the file private to its owner.
            os.chmod(self.temporary, _mode_for(self.path))
        except OSError as error:
            self._failed(error)
        except BaseException:
            self.discard()
            raise

    def keep_old(self):
        """A second name for the file being replaced (None when there is
        none), so that the replacement can be undone."""
        if not os.path.exists(self.path):
            return None
        backup = self.temporary + ".old"
        try:
            os.link(self.path, backup)
        except OSError:
            shutil.copy2(self.path, backup)
        return backup

    def replace(self):
        os.replace(self.temporary, self.path)

    def commit(self):
        self.finish()
        try:
            self.replace()
        except BaseException:
            self.discard()
            raise

    def discard(self):
        try:
            # A close that cannot flush what is left (a full disk) still
            # closes the descriptor; the error is the one already raised.
            self.stream.close()
        except OSError:
            pass
        try:
            os.unlink(self.temporary)
        except FileNotFoundError:
            pass

    def __enter__(self):
        return self

    def __exit__(self, kind, error, trace):
        if kind is None:
            self.commit()
        else:
            self.discard()
        return False


def _undo(replaced):
    """Gives the targets replaced so far their earlier content back (or
    removes them where there was none)."""
    for target, backup in reversed(replaced):
        try:
            if backup is None:
                os.unlink(target.path)
            else:
                os.replace(backup, target.path)
        except OSError:
            pass


def replace_together(files):
    """Puts every finished AtomicFile in place, or, when one step fails,
    none: the files already replaced get their earlier content back."""
    backups = []
    replaced = []  # (file, its backup or None when there was no file)
    try:
        for file in files:
            backup = file.keep_old()
            if backup is not None:
                backups.append(backup)
            file.replace()
            replaced.append((file, backup))
    except BaseException:
        _undo(replaced)
        for file in files:
            file.discard()
        raise
    finally:
        for backup in backups:
            try:
                os.unlink(backup)
            except FileNotFoundError:
                pass


def replace_files(contents, parameters=None):
    """Write ``{path: text}`` so that the files hold either all their old or
    all their new texts: every file is written completely first, then all
    are put in place together. ``parameters`` maps a path to the parameter
    that named it, for error messages."""
    parameters = parameters or {}
    pending = []
    try:
        for path, text in contents.items():
            pending.append(AtomicFile(path, parameters.get(path, "file")))
            pending[-1].write(text)
        for file in pending:
            file.finish()
    except BaseException:
        for file in pending:
            file.discard()
        raise
    replace_together(pending)
