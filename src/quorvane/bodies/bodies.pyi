"""Celestial bodies: Earth constants and low-precision ephemerides of the Sun and the Moon."""

from typing import ClassVar

from typing_extensions import disjoint_base

@disjoint_base
class CelestialBody:
    def __init__(self) -> None: ...

class Earth(CelestialBody):
    GM: ClassVar[float]
    Re: ClassVar[float]

class Sun(CelestialBody): ...
class Moon(CelestialBody): ...
