"""Fortune databases: draw, search, read and append fortunes with tallowmere.

    import tallowmere

    print(tallowmere.Collection().draw(short=True).text)

    with tallowmere.FortuneFile("mine", writable=True) as mine:
        mine.append("Never trust a quiet printer.")
        print(len(mine), mine[-1])

A Collection is the set of fortune files a program draws from (those along the search path of
a kind, or those that command-line operands name: "30% wisdom", a directory, a file); a
FortuneFile is one text file with its index. Both are thread-safe. Every failure raises a
subclass of tallowmere.Error, which carries the reason and the path of the file concerned.
This module wraps the C interface of the shared library libtallowmere.so (tallowmere.h).
"""

import collections
import ctypes
import enum

from . import _native

__all__ = [
    "Collection", "Fortune", "FortuneFile", "IndexReport", "IndexState", "Kind", "Reason",
    "Error", "NotFoundError", "PermissionDeniedError", "OutOfRangeError", "BadArgumentError",
    "BadPatternError", "UsageError", "version",
]

_lib = _native.lib


class Reason(enum.IntEnum):
    """Why a call failed: the C interface's tm_status."""

    OTHER = 1
    NOT_FOUND = 2
    PERMISSION_DENIED = 3
    NOT_A_FILE = 4
    NOT_TEXT = 5
    OUT_OF_RANGE = 6
    INVALID_UTF8 = 7
    DAMAGED_INDEX = 8
    STALE_INDEX = 9
    NOTHING_TO_DRAW = 10
    TOO_MANY_OPEN_FILES = 11
    NO_SPACE = 12
    BAD_PATTERN = 13
    TOO_LARGE = 14
    BAD_ARGUMENT = 15
    USAGE = 16

    def __str__(self):
        return _lib.tm_status_string(self.value).decode()


class Error(Exception):
    """A failure of the library: `reason` (a Reason), `path` (the file it concerns, "" when
    none) and the library's message as str()."""

    def __init__(self, message, reason, path=""):
        super().__init__(message)
        self.message = message
        self.reason = reason
        self.path = path


class NotFoundError(Error, FileNotFoundError):
    """No such file or directory, or an operand that names nothing."""


class PermissionDeniedError(Error, PermissionError):
    """The file may not be read or written."""


class OutOfRangeError(Error, IndexError):
    """A fortune number beyond the file's fortunes."""


class BadArgumentError(Error, ValueError):
    """A malformed argument, such as a share above 100%."""


class BadPatternError(Error, ValueError):
    """A regular expression that does not compile."""


class UsageError(Error, ValueError):
    """A fault of the calling program, such as a delimiter that is a newline."""


_ERRORS = {
    Reason.NOT_FOUND: NotFoundError,
    Reason.PERMISSION_DENIED: PermissionDeniedError,
    Reason.OUT_OF_RANGE: OutOfRangeError,
    Reason.BAD_ARGUMENT: BadArgumentError,
    Reason.BAD_PATTERN: BadPatternError,
    Reason.USAGE: UsageError,
}


def _check(status):
    """Raises the calling thread's last error when `status` is not TM_OK."""
    if status == 0:
        return
    message = _lib.tm_last_error_message().decode("utf-8", "replace")
    path = _lib.tm_last_error_path().decode("utf-8", "surrogateescape")
    reason = Reason(status)
    raise _ERRORS.get(reason, Error)(message, reason, path)


def version():
    """The library's version, "0.1.0"."""
    return _lib.tm_version().decode()


class Kind(enum.IntEnum):
    """The kinds of fortune, each with its own search path."""

    ALL = 0
    NORMAL = 1
    OFFENSIVE = 2


# Named tuples rather than data classes: importing dataclasses costs more than a draw.
class Fortune(collections.namedtuple("Fortune", ["path", "number", "text"])):
    """A fortune: its file, its number there and its text."""

    __slots__ = ()

    def __str__(self):
        return self.text


def _text(fortune):
    return ctypes.string_at(fortune.text, fortune.text_length).decode("utf-8")


def _fortune(pointer):
    """A Fortune from what the library handed out, which is freed."""
    try:
        fortune = pointer.contents
        return Fortune(fortune.path.decode("utf-8", "surrogateescape"), fortune.number,
                       _text(fortune))
    finally:
        _lib.tm_free(pointer)


def _filter(short, long, limit, by_file):
    if short and long:
        raise ValueError("a fortune is either short or long")
    if limit is not None and limit <= 0:
        raise ValueError("the length limit is a number of characters above 0")
    length = 1 if short else 2 if long else 0
    return _native.Filter(length, limit or 0, 1 if by_file else 0)


def _encode(path):
    return path.encode("utf-8", "surrogateescape") if isinstance(path, str) else bytes(path)


class Collection:
    """The fortune files a program draws from and searches, kept open.

    Collection() is the collection of the kind (Kind.NORMAL by default): the fortune files
    along its search path. Collection("30%", "wisdom", "~/fortunes") takes operands as the
    command does: files, directories and names along the kind's collection, each optionally
    after a share of the draws. Any number of threads may use one collection at once.
    """

    def __init__(self, *operands, kind=Kind.NORMAL):
        words = [_encode(operand) for operand in operands]
        array = (ctypes.c_char_p * max(len(words), 1))(*words)
        handle = ctypes.c_void_p()
        _check(_lib.tm_collection_open_operands(int(kind), array, len(words),
                                                ctypes.byref(handle)))
        self._handle = handle

    def close(self):
        """Frees the collection; it may not be used afterwards."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            _lib.tm_collection_close(handle)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # at interpreter exit the library may be gone already
            pass

    def _live(self):
        if not self._handle:
            raise UsageError("the collection is closed", Reason.USAGE)
        return self._handle

    @property
    def file_count(self):
        """The number of fortune files in the collection."""
        count = ctypes.c_size_t()
        _check(_lib.tm_collection_file_count(self._live(), ctypes.byref(count)))
        return count.value

    def draw(self, *, short=False, long=False, limit=None, by_file=False, seed=None):
        """A random fortune: every fortune equally likely, or every file with `by_file`;
        only short ones (at most `limit` characters, by default 160) or only long ones; the
        same one every time for the same `seed` and files."""
        options = _filter(short, long, limit, by_file)
        seed_value = None if seed is None else ctypes.byref(ctypes.c_uint64(seed))
        pointer = ctypes.POINTER(_native.Fortune)()
        _check(_lib.tm_collection_draw(self._live(), ctypes.byref(options), seed_value,
                                       ctypes.byref(pointer)))
        return _fortune(pointer)

    def read(self, path, number):
        """Fortune `number` of the collection's file at `path`, as a draw gives it."""
        pointer = ctypes.POINTER(_native.Fortune)()
        _check(_lib.tm_collection_read(self._live(), _encode(path), number,
                                       ctypes.byref(pointer)))
        return _fortune(pointer)

    def count(self, *, short=False, long=False, limit=None):
        """The number of fortunes (short or long ones only, if asked) in all files."""
        options = _filter(short, long, limit, False)
        count = ctypes.c_int64()
        _check(_lib.tm_collection_count(self._live(), ctypes.byref(options), ctypes.byref(count)))
        return count.value

    def __len__(self):
        return self.count()

    def fortunes(self, *, short=False, long=False, limit=None):
        """An iterator over every fortune, file by file. The files are read when it starts."""
        return iter(self._visit(None, False, _filter(short, long, limit, False)))

    def matches(self, pattern, *, ignore_case=False, short=False, long=False, limit=None):
        """An iterator over the fortunes that match `pattern`, a POSIX extended regular
        expression. The files are searched when it starts; BadPatternError for a pattern that
        does not compile."""
        return iter(self._visit(_encode(pattern), ignore_case, _filter(short, long, limit, False)))

    def __iter__(self):
        return self.fortunes()

    def _visit(self, pattern, ignore_case, options):
        found = []
        failure = []

        def visit(pointer, _context):
            try:
                fortune = pointer.contents
                found.append(Fortune(fortune.path.decode("utf-8", "surrogateescape"),
                                     fortune.number, _text(fortune)))
                return 0
            except BaseException as error:  # raised again once the visit is over
                failure.append(error)
                return 1

        visitor = _native.VISITOR(visit)
        if pattern is None:
            status = _lib.tm_collection_visit(self._live(), ctypes.byref(options), visitor,
                                              None, None)
        else:
            status = _lib.tm_collection_visit_matches(self._live(), pattern, int(ignore_case),
                                                      ctypes.byref(options), visitor, None, None)
        if failure:
            raise failure[0]
        _check(status)
        return found


class IndexState(enum.IntEnum):
    """How an index file stands against its text."""

    SOUND = 0
    MISSING = 1
    DAMAGED = 2
    STALE = 3
    DIFFERS_FROM_TEXT = 4
    STATS_DIFFER = 5
    INTERRUPTED_APPEND = 6
    OTHER = 7


class IndexReport(collections.namedtuple(
        "IndexReport", ["state", "detail", "first_difference", "num_fortunes"])):
    """What FortuneFile.check() found: the state, what is wrong (for DAMAGED), the first
    fortune that differs (for DIFFERS_FROM_TEXT) and the number of fortunes (for SOUND)."""

    __slots__ = ()


class FortuneFile:
    """One fortune file, a text file with its index FILE.ix: len(), indexing (negative numbers
    count from the end), iteration, append(). Read-only unless `writable`; a writable file and
    its index are created when first needed. Any number of threads may use one at once."""

    def __init__(self, path, writable=False, delimiter="%"):
        if len(delimiter) != 1:
            raise ValueError("the delimiter is one character")
        handle = ctypes.c_void_p()
        _check(_lib.tm_fortune_file_open(_encode(path), 1 if writable else 0, ord(delimiter),
                                         ctypes.byref(handle)))
        self._handle = handle
        self.path = path
        self.writable = writable

    def close(self):
        """Closes the file; it may not be used afterwards."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            _check(_lib.tm_fortune_file_close(handle))

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # a failing close, or the library gone already at interpreter exit
            pass

    def _live(self):
        if not self._handle:
            raise UsageError("Fortune file is closed", Reason.USAGE, str(self.path))
        return self._handle

    def __len__(self):
        count = ctypes.c_int64()
        _check(_lib.tm_fortune_file_count(self._live(), ctypes.byref(count)))
        return count.value

    def __getitem__(self, number):
        """The text of fortune `number`; OutOfRangeError (an IndexError) beyond the last."""
        if isinstance(number, slice):
            return [self[i] for i in range(*number.indices(len(self)))]
        if number < 0:
            number += len(self)
            if number < 0:
                raise OutOfRangeError(f"getEntry: index out of range: {number}",
                                      Reason.OUT_OF_RANGE, str(self.path))
        return self.fortune(number).text

    def fortune(self, number):
        """Fortune `number` as a Fortune (path, number, text)."""
        pointer = ctypes.POINTER(_native.Fortune)()
        _check(_lib.tm_fortune_file_get(self._live(), number, ctypes.byref(pointer)))
        return _fortune(pointer)

    def __iter__(self):
        for number in range(len(self)):
            yield self[number]

    def append(self, text):
        """Appends `text` as a new fortune and keeps the index current; returns once both are
        on the disk."""
        data = text.encode("utf-8")
        _check(_lib.tm_fortune_file_append(self._live(), data, len(data)))

    def rebuild_index(self):
        """Rebuilds the index from the text."""
        _check(_lib.tm_fortune_file_rebuild_index(self._live()))

    def check(self):
        """How the index file on disk stands against the text, as an IndexReport."""
        report = _native.IndexReport()
        _check(_lib.tm_fortune_file_check(self._live(), ctypes.byref(report)))
        try:
            detail = ctypes.string_at(report.detail).decode("utf-8", "replace")
        finally:
            _lib.tm_free(report.detail)
        return IndexReport(IndexState(report.state), detail, report.first_difference,
                           report.num_fortunes)
