"""Two-line element sets for the benchmark, made from a few published ones.

Each generated pair is a template with its epoch (line 1, columns 19-32) and
mean anomaly (line 2, columns 44-51) replaced and both checksums (column 69)
recomputed, so every pair is a valid set that any TLE reader accepts.
"""

from __future__ import annotations

import datetime as dt

import numpy as np

# Element sets of four satellites in different orbits: the ISS (the widely
# reproduced published set of 2008-09-20) and sets modelled on published ones
# of the Hubble Space Telescope (near-circular LEO), a GPS satellite (MEO,
# e ≈ 0.005) and a Molniya satellite (HEO, e ≈ 0.71).
TEMPLATES = {
    "ISS": (
        "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
        "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
    ),
    "HST": (
        "1 20580U 90037B   20250.56036608  .00000764  00000-0  34357-4 0  9990",
        "2 20580  28.4690 143.1466 0002681 312.7280 153.4197 15.09295757475153",
    ),
    "GPS": (
        "1 24876U 97035A   20250.47003102 -.00000037  00000-0  00000+0 0  9997",
        "2 24876  55.5183 123.4567 0045123 124.5678 235.6789  2.00563213169561",
    ),
    "MOLNIYA": (
        "1 28163U 04005A   20250.84562371  .00000150  00000-0  00000+0 0  9999",
        "2 28163  62.8567 245.6543 7123456 270.1234  15.4321  2.00612345123456",
    ),
}


def checksum(line: str) -> int:
    """Modulo-10 sum of the digits of columns 1-68, each minus sign counting 1."""
    total = 0
    for ch in line[:68]:
        if ch.isdigit():
            total += ord(ch) - 48
        elif ch == "-":
            total += 1
    return total % 10


def _with_checksum(line: str) -> str:
    body = line[:68]
    assert len(body) == 68, line
    return body + str(checksum(body))


def epoch_field(when: dt.datetime) -> str:
    """Columns 19-32: two-digit year, then day of year with 8 decimals (1.0 = 1 January, 00:00)."""
    start = dt.datetime(when.year, 1, 1)
    day = (when - start).total_seconds() / 86400.0 + 1.0
    text = f"{when.year % 100:02d}{day:012.8f}"
    assert len(text) == 14, text
    return text


def make(template: tuple[str, str], epoch: dt.datetime, mea_deg: float) -> tuple[str, str]:
    line1, line2 = template
    line1 = line1[:18] + epoch_field(epoch) + line1[32:]
    line2 = line2[:43] + f"{mea_deg:8.4f}" + line2[51:]
    return _with_checksum(line1), _with_checksum(line2)


def generate(n: int, names: list[str], seed: int, start=dt.datetime(2008, 1, 1), step_days: float = 0.5):
    """`n` pairs cycling through the templates `names`, epochs ascending.

    Epochs advance by `step_days` with a random jitter of up to a tenth of a
    step (as an archive of one satellite's sets comes, in time order); mean
    anomalies are uniform in [0, 360) degrees.
    """
    rng = np.random.default_rng(seed)
    jitter = rng.uniform(0.0, 0.1 * step_days, n)
    mea = rng.uniform(0.0, 360.0, n)
    pairs = []
    for i in range(n):
        when = start + dt.timedelta(days=i * step_days + float(jitter[i]))
        pairs.append(make(TEMPLATES[names[i % len(names)]], when, float(mea[i]) % 360.0))
    return pairs


def validate(pairs) -> None:
    """Each line is 69 characters and carries a correct checksum."""
    for line1, line2 in pairs:
        for line in (line1, line2):
            if len(line) != 69 or int(line[68]) != checksum(line):
                raise ValueError(f"bad generated line: {line!r}")
