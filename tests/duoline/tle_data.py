"""Element sets and line helpers shared by the duoline tests."""

# Published element sets (textbook and library examples; the Vanguard and
# Molniya ones from the standard SGP4 verification set).
ISS_2008 = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
ISS_2019 = (
    "1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
    "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482",
)
VANGUARD = (
    "1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
    "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667",
)
MOLNIYA_2_14 = (
    "1 08195U 75081A   06176.33215444  .00000099  00000-0  11873-3 0   813",
    "2 08195  64.1586 279.0717 6877146 264.7651  20.2257  2.00491383225656",
)
MOLNIYA_1_36 = (
    "1 09880U 77021A   06176.56157475  .00000421  00000-0  10000-3 0  9814",
    "2 09880  64.5968 349.3786 7069051 270.0229  16.3320  2.00813614112380",
)
PUBLISHED = {
    "iss-2008": ISS_2008,
    "iss-2019": ISS_2019,
    "vanguard": VANGUARD,
    "molniya-2-14": MOLNIYA_2_14,
    "molniya-1-36": MOLNIYA_1_36,
}


def splice(line, column, text):
    """`line` with `text` written from 1-based `column` on (padded if short)."""
    line = line.ljust(column - 1 + len(text))
    return line[: column - 1] + text + line[column - 1 + len(text) :]


def with_epoch(line1, epoch):
    """Line 1 with the 14-character epoch field (yyddd.dddddddd) replaced."""
    return splice(line1, 19, epoch)
