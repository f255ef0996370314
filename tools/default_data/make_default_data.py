#!/usr/bin/env python3
"""Build the default sample files from the 8x8 optical digits table.

Usage: make_default_data.py DIGITS_CSV_GZ OUTDIR

Input: gzip'd CSV, 1797 rows of 65 integers: 64 pixels (row-major 8x8,
values 0..16) followed by the digit label 0..9.

Output: OUTDIR/Training_set (rows 1..1200) and OUTDIR/Test_set
(rows 1201..1797), one sample per line: 256 features then the label,
separated by single blanks, each line ending in "\n".

Resampling 8x8 -> 16x16 is bilinear with half-pixel centres (the
"align corners = false" convention) and edge clamping: output index j
(0..15) samples source coordinate s = (j + 0.5) / 2 - 0.5 = j/2 - 0.25,
clamped to [0, 7]; with i0 = floor(s), f = s - i0, i1 = min(i0 + 1, 7)
the 1-D weights are (1 - f) on i0 and f on i1.  Rows and columns use the
same rule, so every 2-D weight is a multiple of 1/16 and the resampled
value is k/16 for an integer k in 0..256.  Features are v/8 - 1, i.e.
(k - 128)/128, which lies in [-1, 1] and is a multiple of 1/128.

All arithmetic is done on integers, and each feature is printed as its
exact decimal value (at most 7 fractional digits, trailing zeros and a
bare trailing point dropped: "-1", "0.5", "-0.9921875", "1").  Those
values are exactly representable as 32-bit floats, so strtof() gives
back precisely the intended number, and the output is byte-for-byte
reproducible.
"""

import gzip
import os
import sys

SRC = 8
DST = 16
TRAIN_COUNT = 1200
TOTAL_COUNT = 1797


def quarter_weights():
    """For each output index, [(source index, weight in quarters), ...]."""
    table = []
    for j in range(DST):
        # s = j/2 - 1/4, kept in quarters: s4 = 4*s = 2*j - 1
        s4 = 2 * j - 1
        s4 = max(0, min(4 * (SRC - 1), s4))
        i0, f4 = divmod(s4, 4)
        i1 = min(i0 + 1, SRC - 1)
        table.append([(i0, 4 - f4), (i1, f4)])
    return table


WEIGHTS = quarter_weights()


def format_feature(n):
    """Exact decimal text for n/128, n an integer in -128..128."""
    if n == 0:
        return "0"
    sign = "-" if n < 0 else ""
    m = abs(n) * 78125  # n/128 = n * 78125 / 10**7
    whole, frac = divmod(m, 10 ** 7)
    text = "%s%d" % (sign, whole)
    if frac:
        text += "." + ("%07d" % frac).rstrip("0")
    return text


def features(pixels):
    out = []
    for wy in WEIGHTS:
        for wx in WEIGHTS:
            k = 0  # resampled value times 16
            for (y, a) in wy:
                for (x, b) in wx:
                    k += a * b * pixels[y * SRC + x]
            out.append(format_feature(k - 128))
    return out


def read_samples(path):
    samples = []
    with gzip.open(path, "rt", encoding="ascii", newline="") as fh:
        for lineno, line in enumerate(fh, 1):
            line = line.strip()
            if not line:
                continue
            fields = line.split(",")
            if len(fields) != SRC * SRC + 1:
                raise ValueError("%s:%d: expected %d columns, got %d"
                                 % (path, lineno, SRC * SRC + 1, len(fields)))
            values = [int(v) for v in fields]
            pixels, label = values[:-1], values[-1]
            if any(p < 0 or p > 16 for p in pixels):
                raise ValueError("%s:%d: pixel outside 0..16" % (path, lineno))
            if not 0 <= label <= 9:
                raise ValueError("%s:%d: label outside 0..9" % (path, lineno))
            samples.append((pixels, label))
    if len(samples) != TOTAL_COUNT:
        raise ValueError("%s: expected %d samples, got %d"
                         % (path, TOTAL_COUNT, len(samples)))
    return samples


def write_set(path, samples):
    # Write beside the target and rename, so a failed run never leaves a
    # truncated file in place.
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="\n") as fh:
        for pixels, label in samples:
            fh.write(" ".join(features(pixels) + [str(label)]) + "\n")
    os.replace(tmp, path)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: %s DIGITS_CSV_GZ OUTDIR\n" % argv[0])
        return 2
    src, outdir = argv[1], argv[2]
    try:
        samples = read_samples(src)
        os.makedirs(outdir, exist_ok=True)
        write_set(os.path.join(outdir, "Training_set"), samples[:TRAIN_COUNT])
        write_set(os.path.join(outdir, "Test_set"), samples[TRAIN_COUNT:])
    except (OSError, ValueError, EOFError) as exc:
        sys.stderr.write("make_default_data: %s\n" % exc)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
