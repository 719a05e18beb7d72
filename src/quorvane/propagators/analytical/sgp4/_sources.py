"""Catalogue sources as bytes, and which format they hold.

A source is a path, ``bytes`` (or another bytes-like object), a ``str``
holding text, an open file, or an iterable of lines.  Every one becomes one
bytes-like object that the native reader indexes without copying again; a
path is mapped into memory rather than read, so a large file is not held
twice.
"""

from __future__ import annotations

import contextlib
import mmap
import os
from collections.abc import Iterable, Iterator
from typing import Union

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, Iterable[str], Iterable[bytes]]

FORMATS = ("auto", "tle", "csv", "json")

_BOM = b"\xef\xbb\xbf"


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
        with open(source, "rb") as handle:  # type: ignore[arg-type]
            if os.fstat(handle.fileno()).st_size == 0:
                yield b""
                return
            with mmap.mmap(handle.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
                yield mapped
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
    if stripped[:1] == b"<" or stripped.startswith(b"CCSDS_OMM_VERS"):
        raise ValueError("OMM in XML or KVN form is not supported; read OMM as CSV or JSON")
    first = stripped.split(b"\n", 1)[0].split(b"\r", 1)[0].upper()
    if b"," in first and (b"NORAD_CAT_ID" in first or b"MEAN_MOTION" in first or b"EPOCH" in first):
        return "csv"
    return "tle"


def text_of(data: bytes | bytearray | memoryview | mmap.mmap) -> str:
    """The text of an OMM source: UTF-8 with or without a byte-order mark."""
    raw = bytes(data)
    try:
        return raw.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise ValueError(f"OMM text is not UTF-8 (byte {error.start})") from None
