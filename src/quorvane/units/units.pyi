"""Unit constants: the size of each unit in SI units (s, m, rad, kg)."""

__pyx_capi__: dict[str, object]

s: float
sec: float
second: float
minute: float
hour: float
day: float
sday: float
m: float
km: float
rad: float
deg: float
rev: float
kg: float
