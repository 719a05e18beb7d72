"""Catalogue sources as bytes, and which format they hold.

A source is a path, ``bytes`` (or another bytes-like object), a ``str``
holding text, an open file, or an iterable of lines.  Every one becomes one
bytes-like object that the native reader indexes without copying again.

A path is read into memory, not mapped: a mapped file that another process
truncates meanwhile (a download in progress, a log rotation) kills the
interpreter with SIGBUS at the first touch of a page past its new end, while
reading gives the bytes the file held, never a fault.  What a path names
decides how it is read:

- a regular file is read to its end, whatever size the system reports
  (files under /proc report 0);
- a FIFO or pipe (``/dev/fd/N``, a shell's ``<(...)``) is read to its end,
  up to ``STREAM_LIMIT`` bytes (a source that goes on longer is refused, not
  held in memory).  A named FIFO is opened without waiting for a writer: when
  none has opened it and it holds no data, it is refused rather than waited
  for forever;
- anything else (a character or block device such as /dev/zero, a socket,
  a directory) is refused with ValueError.
"""

from __future__ import annotations

import contextlib
import fcntl
import io
import mmap
import os
import re
import stat
from collections.abc import Iterable, Iterator
from typing import Union

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, Iterable[str], Iterable[bytes]]

FORMATS = ("auto", "tle", "csv", "json")

_BOM = b"\xef\xbb\xbf"

# Most bytes a FIFO or pipe is read for (endless producers are refused).
STREAM_LIMIT = 1 << 32

# Bytes read from a stream at a time, and the first allocation for a file
# whose size is not known.
_CHUNK = 1 << 20


def _read_to_end(
    handle: io.RawIOBase, size_hint: int, limit: int | None, name: str | os.PathLike[str], first: bytes = b""
) -> bytearray:
    """Every byte of an open file up to its end (after `first`, already read),
    in one buffer grown as needed; ValueError past `limit` bytes."""
    size = max(size_hint + 1, len(first) + _CHUNK)
    if limit is not None:
        if len(first) > limit:
            raise ValueError(f"{os.fspath(name)!r} goes on past {limit} bytes, the most read from a stream")
        size = max(min(size, limit), len(first))
    buffer = bytearray(size)
    buffer[: len(first)] = first
    length = len(first)
    while True:
        if length == len(buffer):
            if limit is not None and length >= limit:
                if not handle.read(1):
                    break
                raise ValueError(f"{os.fspath(name)!r} goes on past {limit} bytes, the most read from a stream")
            grow = len(buffer) if limit is None else min(len(buffer), limit - length)
            buffer.extend(bytes(grow))
        view = memoryview(buffer)
        try:
            count = handle.readinto(view[length:])
        finally:
            view.release()
        if not count:
            break
        length += count
    del buffer[length:]
    return buffer


def _kind_of(mode: int) -> str:
    if stat.S_ISCHR(mode):
        return "a character device"
    if stat.S_ISBLK(mode):
        return "a block device"
    if stat.S_ISDIR(mode):
        return "a directory"
    if stat.S_ISSOCK(mode):
        return "a socket"
    return "a special file"


def read_path(path: str | os.PathLike[str]) -> bytearray:
    """The content of the file at `path`, read into memory (see the module's docstring)."""
    mode = os.stat(path).st_mode
    if not (stat.S_ISREG(mode) or stat.S_ISFIFO(mode)):
        raise ValueError(f"cannot read a catalogue from {os.fspath(path)!r}: it is {_kind_of(mode)}, not a file or pipe")
    fifo = stat.S_ISFIFO(mode)
    # O_NONBLOCK: a FIFO's open returns at once, writer or not.
    fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC | (os.O_NONBLOCK if fifo else 0))
    with open(fd, "rb", buffering=0) as handle:
        status = os.fstat(fd)
        if stat.S_ISFIFO(status.st_mode):
            try:
                first = os.read(fd, _CHUNK)
            except BlockingIOError:
                first = None  # a writer holds it open, no data yet
            if first == b"":
                raise ValueError(
                    f"cannot read a catalogue from {os.fspath(path)!r}: it is a FIFO or pipe that no writer holds "
                    "open and that holds no data"
                )
            fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) & ~os.O_NONBLOCK)
            return _read_to_end(handle, 0, STREAM_LIMIT, path, first or b"")
        if not stat.S_ISREG(status.st_mode):
            raise ValueError(f"cannot read a catalogue from {os.fspath(path)!r}: it is {_kind_of(status.st_mode)}")
        return _read_to_end(handle, status.st_size, None, path)


def _is_path(source: object) -> bool:
    # A str without any line break is a file name; text always has one.
    return isinstance(source, os.PathLike) or (isinstance(source, str) and "\n" not in source and "\r" not in source)


def _joined(lines: Iterable[str | bytes]) -> bytes:
    """Lines (with or without their line ends) as one LF-separated text."""
    parts = []
    for line in lines:
        if isinstance(line, str):
            line = line.encode("utf-8")
        elif not isinstance(line, (bytes, bytearray)):
            raise TypeError(f"a catalogue line must be str or bytes, not {type(line).__name__}")
        parts.append(bytes(line).rstrip(b"\r\n"))
    return b"\n".join(parts)


@contextlib.contextmanager
def source_bytes(source: Source) -> Iterator[bytes | bytearray | memoryview | mmap.mmap]:
    """The text of a source as a bytes-like object, valid inside the block."""
    if isinstance(source, (bytes, bytearray, memoryview)):
        yield source
    elif _is_path(source):
        yield read_path(source)  # type: ignore[arg-type]
    elif isinstance(source, str):
        yield source.encode("utf-8")
    elif hasattr(source, "read"):
        text = source.read()
        yield text.encode("utf-8") if isinstance(text, str) else text
    elif isinstance(source, Iterable):
        yield _joined(source)
    else:
        raise TypeError(f"cannot read a catalogue from {type(source).__name__}")


def sniff(data: bytes | bytearray | memoryview | mmap.mmap) -> str:
    """The format of a text: "json", "csv" or "tle"."""
    head = bytes(data[:4096])
    if head.startswith(_BOM):
        head = head[len(_BOM) :]
    stripped = head.lstrip()
    if stripped[:1] in (b"{", b"["):
        return "json"
    if stripped.startswith(b"CCSDS_OMM_VERS") or (stripped[:1] == b"<" and _XML_OMM.search(head)):
        raise ValueError("OMM in XML or KVN form is not supported; read OMM as CSV or JSON")
    first = stripped.split(b"\n", 1)[0].split(b"\r", 1)[0].upper()
    if b"," in first and (b"NORAD_CAT_ID" in first or b"MEAN_MOTION" in first or b"EPOCH" in first):
        return "csv"
    return "tle"


# The elements that open an OMM in XML (alone or inside an NDM).
_XML_OMM = re.compile(rb"<\s*(?:omm|ndm)\b|CCSDS_OMM_VERS", re.IGNORECASE)

# What str.strip removes in ASCII (the reader trims lines so).
_STRIP = b" \t\n\r\x0b\x0c\x1c\x1d\x1e\x1f"


def no_sets_found(data: bytes | bytearray | memoryview | mmap.mmap) -> str | None:
    """For markup in which no line is an element line (an HTML page or
    another document saved as .tle): a message saying that no element sets
    were found and what the text looks like; None for any other text, whose
    faults the reader reports line by line."""
    text = bytes(data)
    lines = [line.strip(_STRIP) for line in text.removeprefix(_BOM).splitlines()]
    lines = [line for line in lines if line and not line.startswith(b"#")]
    if not lines or not lines[0].startswith(b"<"):
        return None
    if any(line[:1] in (b"1", b"2") and line[1:2] in (b"", b" ") for line in lines):
        return None
    head = text[:4096].lower()
    kind = "an HTML page" if b"<!doctype html" in head or b"<html" in head else "XML or other markup"
    first = lines[0][:40].decode("utf-8", "replace")
    return f"no element sets found: the text looks like {kind}, not element sets (it starts with {first!r})"


def text_of(data: bytes | bytearray | memoryview | mmap.mmap) -> str:
    """The text of an OMM source: UTF-8 with or without a byte-order mark."""
    raw = bytes(data)
    try:
        return raw.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise ValueError(f"OMM text is not UTF-8 (byte {error.start})") from None
