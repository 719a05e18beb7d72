"""Native half of the columnar catalogue reader (private; see catalogue)."""

from typing import Any, TypeAlias

import numpy
from numpy.typing import ArrayLike, NDArray

_Buffer: TypeAlias = bytes | bytearray | memoryview | Any

NAME_LENGTH: int

def read_tle(
    data: _Buffer, *, strict: bool = False, skip: bool = False, threads: int | None = None,
    piece_bytes: int | None = None,
) -> tuple[dict[str, NDArray[Any]], NDArray[numpy.int64]]: ...
def tle_entries(
    data: _Buffer, *, strict: bool = False, piece_bytes: int | None = None
) -> list[tuple[str | None, str, str, int]]: ...
def from_published(
    inc: ArrayLike, raa: ArrayLike, ecc: ArrayLike, arp: ArrayLike, mea: ArrayLike, mnm: ArrayLike, *,
    threads: int | None = None
) -> dict[str, NDArray[numpy.float64]]: ...
def format_tle(columns: dict[str, NDArray[Any]]) -> bytes: ...
def decode_satno(field: str) -> int: ...
