"""Derive the constants of constants.hpp (run with mpmath installed):

    python native/mathtools/simd/coefficients.py > native/mathtools/simd/constants.hpp

Polynomials are minimax for relative error (Remez exchange at 50 digits),
with the coefficients rounded to double one at a time, lowest order first,
each rounding followed by a new fit of the remaining ones.  Splits of
constants into parts are exact in binary, so the products the reductions
form with them are exact over the ranges stated in vmath.hpp.
"""

import mpmath as mp

mp.mp.dps = 60


def remez(f, phis, a, b, iters=40, grid=3000):
    """Coefficients c minimising max |f - sum c_k phi_k| on [a, b]."""
    n = len(phis)
    xs = [(a + b) / 2 - (b - a) / 2 * mp.cos(mp.pi * i / n) for i in range(n + 1)]
    for _ in range(iters):
        A = mp.matrix(n + 1, n + 1)
        rhs = mp.matrix(n + 1, 1)
        for i, x in enumerate(xs):
            for k, p in enumerate(phis):
                A[i, k] = p(x)
            A[i, n] = (-1) ** i
            rhs[i] = f(x)
        sol = mp.lu_solve(A, rhs)
        c = [sol[k] for k in range(n)]
        level = abs(sol[n])

        def err(x):
            return f(x) - sum(ck * p(x) for ck, p in zip(c, phis))

        g = [a + (b - a) * mp.mpf(i) / grid for i in range(grid + 1)]
        ev = [err(x) for x in g]
        segments, start = [], 0
        for i in range(1, len(g)):
            if (ev[i] > 0) != (ev[i - 1] > 0):
                segments.append((start, i - 1))
                start = i
        segments.append((start, len(g) - 1))
        points = []
        for s, e in segments:
            j = max(range(s, e + 1), key=lambda i: abs(ev[i]))
            lo, hi = g[max(j - 1, 0)], g[min(j + 1, grid)]
            sign = 1 if ev[j] > 0 else -1
            for _ in range(80):  # golden-section search for the extremum
                m1, m2 = lo + (hi - lo) * 0.382, lo + (hi - lo) * 0.618
                if sign * err(m1) > sign * err(m2):
                    hi = m2
                else:
                    lo = m1
            x = (lo + hi) / 2
            points.append(x if abs(err(x)) >= abs(ev[j]) else g[j])
        while len(points) > n + 1:
            points.pop(0 if abs(err(points[0])) < abs(err(points[-1])) else -1)
        if len(points) < n + 1:
            raise RuntimeError("Remez exchange lost the alternation")
        xs = points
        if max(abs(err(x)) for x in xs) - level < level * mp.mpf("1e-8"):
            break
    return c


def rounded_fit(f, phis, a, b):
    """Double coefficients, fixed lowest order first, refitting the rest."""
    fixed = []
    for k in range(len(phis)):
        def rest(x, fixed=tuple(fixed)):
            return f(x) - sum(mp.mpf(c) * p(x) for c, p in zip(fixed, phis))
        fixed.append(float(remez(rest, phis[k:], a, b)[0]))
    worst = max(abs(f(x) - sum(mp.mpf(c) * p(x) for c, p in zip(fixed, phis)))
                for x in (a + (b - a) * mp.mpf(i) / 5000 for i in range(1, 5001)))
    return fixed, worst


def split(value, bits):
    """value rounded toward zero to `bits` significant bits, and the rest."""
    e = mp.floor(mp.log(abs(value), 2))
    head = mp.floor(value * mp.mpf(2) ** (bits - 1 - e)) * mp.mpf(2) ** (e - bits + 1)
    return head, value - head


def hexd(x):
    return float(x).hex()


def emit(name, x, comment=""):
    tail = f"  // {comment}" if comment else ""
    print(f"inline constexpr double {name} = {hexd(x)};{tail}")
    assert mp.mpf(float(x)) == x or comment.startswith("rounded"), name


def main():
    pio2 = mp.pi / 2
    print("// Constants of vmath.hpp, written by coefficients.py (mpmath); do not edit.")
    print("#pragma once\n\n#include <cstdint>\n")
    print("namespace qv::simd::constants {\n")

    print("// pi/2 in three 33-bit parts and a rounded tail (Cody-Waite reduction).")
    p1, r = split(pio2, 33)
    p2, r = split(r, 33)
    p3, r = split(r, 33)
    emit("pio2_1", p1)
    emit("pio2_2", p2)
    emit("pio2_3", p3)
    emit("pio2_3t", mp.mpf(float(r)), "rounded")
    emit("inv_pio2", mp.mpf(float(2 / mp.pi)), "rounded 2/pi")
    print("// pi/2 as a double-double (Payne-Hanek results, atan2 quadrants).")
    hi = mp.mpf(float(pio2))
    emit("pio2_hi", hi)
    emit("pio2_lo", mp.mpf(float(pio2 - hi)), "rounded")
    hi = mp.mpf(float(mp.pi))
    emit("pi_hi", hi)
    emit("pi_lo", mp.mpf(float(mp.pi - hi)), "rounded")
    hi = mp.mpf(float(mp.pi / 4))
    emit("pio4_hi", hi)
    emit("pio4_lo", mp.mpf(float(mp.pi / 4 - hi)), "rounded")
    at = mp.atan(mp.mpf(1) / 2)
    hi = mp.mpf(float(at))
    emit("atan_half_hi", hi)
    emit("atan_half_lo", mp.mpf(float(at - hi)), "rounded")

    print("// The double nearest 2 pi, the divisor of rem2pi, in two exact parts.")
    two_pi = mp.mpf(float(2 * mp.pi))
    c1, c2 = split(two_pi, 33)
    emit("two_pi", two_pi)
    emit("two_pi_1", c1)
    emit("two_pi_2", c2)
    emit("inv_two_pi", mp.mpf(float(1 / two_pi)), "rounded")
    emit("cbrt2", mp.mpf(float(mp.cbrt(2))), "rounded")
    emit("cbrt4", mp.mpf(float(mp.cbrt(4))), "rounded")

    def poly(name, coeffs, worst, what):
        print(f"// {what}; max relative error {float(worst):.2e}.")
        body = ", ".join(hexd(c) for c in coeffs)
        print(f"inline constexpr double {name}[{len(coeffs)}] = {{{body}}};")

    b = mp.mpf("0.786")
    a = mp.mpf("1e-6")
    s, w = rounded_fit(lambda x: (mp.sin(x) - x) / mp.sin(x),
                       [lambda x, k=k: x ** (2 * k + 1) / mp.sin(x) for k in range(1, 7)], a, b)
    poly("sin_c", s, w, "sin x = x + x^3 (c0 + c1 x^2 + ...), |x| <= 0.786")
    c, w = rounded_fit(lambda x: (mp.cos(x) - 1 + x * x / 2) / mp.cos(x),
                       [lambda x, k=k: x ** (2 * k + 2) / mp.cos(x) for k in range(1, 7)], a, b)
    poly("cos_c", c, w, "cos x = 1 - x^2/2 + x^4 (c0 + c1 x^2 + ...), |x| <= 0.786")
    b = mp.mpf("0.25")
    t, w = rounded_fit(lambda x: (mp.atan(x) - x) / mp.atan(x),
                       [lambda x, k=k: x ** (2 * k + 1) / mp.atan(x) for k in range(1, 10)], b * mp.mpf("1e-6"), b)
    poly("atan_c", t, w, "atan t = t + t^3 (c0 + c1 t^2 + ...), |t| <= 0.25")
    q, w = rounded_fit(lambda x: mp.mpf(1), [lambda x, k=k: x ** k / mp.cbrt(x) for k in range(5)], mp.mpf(1), mp.mpf(2))
    poly("cbrt_c", q, w, "cbrt m = c0 + c1 m + ... + c4 m^4, 1 <= m <= 2")

    print("\n// Bits of 2/pi after the binary point, most significant first (Payne-Hanek).")
    words = 20
    frac = mp.mpf(2) / mp.pi
    mp.mp.prec = 64 * words + 64
    frac = mp.mpf(2) / mp.pi
    scaled = int(mp.floor(frac * mp.mpf(2) ** (64 * words)))
    table = [(scaled >> (64 * (words - 1 - i))) & (2**64 - 1) for i in range(words)]
    print(f"inline constexpr std::uint64_t two_over_pi[{words}] = {{")
    for i in range(0, words, 3):
        print("    " + ", ".join(f"0x{w:016x}" for w in table[i:i + 3]) + ",")
    print("};\n\n}  // namespace qv::simd::constants")


if __name__ == "__main__":
    main()
