#!/usr/bin/python3
"""The numpy way to do what kordanix does, for the benchmark.

    peer.py FILE_IN FILE_OUT [FILE_OBN [OFS_TO OFS_AFTER]]
    peer.py --count-events FILE_KEPT OFS_TO OFS_AFTER

Same arguments and same output bytes as kordanix (FILE_OUT, FILE_OBN, and
stat.txt and stat.pcm in the current directory), written the way a numpy
user would: fromfile, a boolean mask, tofile, and the event windows summed
as one array operation. --count-events prints how many events of a kept
stream qualify for the window.

Run it with the system interpreter (/usr/bin/python3 with python3-numpy).
"""
import sys
from fractions import Fraction

import numpy as np

KEEP_FLAG = 0x0001
EVENT_FLAG = 0x0010
MARKER_MASK = 0xFFFF0010
MARKER_LEVEL = 0x3FFF
PEAK_LEVEL = 32000
# Index entries gathered at once when summing windows: bounds the memory.
GATHER_BLOCK = 1 << 21


def qualifying_events(kept, ofs_to, ofs_after):
    """Kept indices v with the event flag, v > ofs_to and v + ofs_after < len(kept)."""
    events = np.flatnonzero(kept & EVENT_FLAG)
    return events[(events > ofs_to) & (events + ofs_after < len(kept))]


def epoch_sums(kept, ofs_to, ofs_after):
    """Sums and sign balances per window position, shape (W, 2) each: column 0
    is channel 1 (flag bits included in its value), column 1 channel 2."""
    width = ofs_to + ofs_after
    events = qualifying_events(kept, ofs_to, ofs_after)
    samples = kept.view("<i2").reshape(-1, 2)
    offsets = np.arange(width) - ofs_to
    sums = np.zeros((width, 2), np.int64)
    non_negative = np.zeros((width, 2), np.int64)
    block = max(1, GATHER_BLOCK // max(width, 1))
    for start in range(0, len(events), block):
        epochs = samples[events[start:start + block, None] + offsets]  # (events, W, 2)
        sums += epochs.sum(axis=0, dtype=np.int64)
        non_negative += (epochs >= 0).sum(axis=0, dtype=np.int64)
    signs = 2 * non_negative - len(events)  # +1 per sample >= 0, -1 per negative one
    return sums, signs


def bar(percent):
    return ("#" * (percent // 10)).ljust(10)


def percent(value, largest):
    return abs(value) * 100 // largest if largest else 0


def scaled(value, scale):
    """value * scale formed exactly, truncated toward zero."""
    return int(Fraction(float(scale)) * value)


def write_reports(sums, signs):
    sum1 = [int(v) for v in sums[:, 0]]
    sum2 = [int(v) for v in sums[:, 1]]
    sign1 = [int(v) for v in signs[:, 0]]
    sign2 = [int(v) for v in signs[:, 1]]
    max1 = max((abs(v) for v in sum1), default=0)
    max2 = max((abs(v) for v in sum2), default=0)
    lines = []
    for j in range(len(sum1)):
        p1, p2 = percent(sum1[j], max1), percent(sum2[j], max2)
        lines.append("%3d   %9d  %9d  | %4d  %4d" % (j, sum1[j], sum2[j], sign1[j], sign2[j])
                     + "  |  %3d   %3d  " % (p1, p2) + "%s  " % bar(p1) + "%s  \r\n" % bar(p2))
    with open("stat.txt", "wb") as table:
        table.write("".join(lines).encode("ascii"))

    peak = max(max1, max2)
    # The float32 nearest to PEAK_LEVEL / peak, the quotient formed in
    # extended precision.
    scale = np.float32(np.longdouble(PEAK_LEVEL) / np.longdouble(np.int64(peak))) if peak else np.float32(0)
    frames = [(scaled(a, scale) & 0xFFFF) | ((scaled(b, scale) & 0xFFFF) << 16) for a, b in zip(sum1, sum2)]
    np.array(frames, dtype="<u4").tofile("stat.pcm")


def main(argv):
    if len(argv) == 5 and argv[1] == "--count-events":
        kept = np.fromfile(argv[2], dtype="<u4")
        print(len(qualifying_events(kept, int(argv[3]), int(argv[4]))))
        return 0
    if len(argv) not in (3, 4, 6):
        sys.stderr.write(__doc__)
        return 2
    frames = np.fromfile(argv[1], dtype="<u4")
    kept = frames[(frames & KEEP_FLAG) != 0]
    del frames
    kept.tofile(argv[2])
    if len(argv) == 3:
        return 0
    if len(argv) == 6:
        sums, signs = epoch_sums(kept, int(argv[4]), int(argv[5]))
    markers = kept & np.uint32(MARKER_MASK)
    markers[(kept & EVENT_FLAG) != 0] |= np.uint32(MARKER_LEVEL)
    markers.tofile(argv[3])
    if len(argv) == 6:
        write_reports(sums, signs)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
