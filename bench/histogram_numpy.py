"""qor_histogram beside numpy.histogram and numpy.bincount on the same random samples (ns per sample).

    QOR_LIB_PATH=build/bench /usr/bin/python3 bench/histogram_numpy.py
"""
import os
import sys
import timeit

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import qor_lib  # noqa: E402


def per_sample(fn, n, repeat=5):
    number = max(1, int(2e7 // n))
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number / n * 1e9


def main():
    rng = np.random.default_rng(7)
    print(f"{'case':<26}{'n':>10}{'qor':>9}{'np.histogram':>14}{'ratio':>8}{'np.bincount':>13}{'ratio':>8}")
    for n in (65536, 1048576, 16777216):
        for bins in (256, 4096):
            x = rng.uniform(-0.05, 1.05, n).astype(np.float32)  # 5% outside the range
            counts = np.zeros(bins, np.uint32)
            ours = per_sample(lambda: qor_lib.histogram(x, bins, 0.0, 1.0, counts), n)
            hist = per_sample(lambda: np.histogram(x, bins, (0.0, 1.0)), n)
            print(f"{'32f ' + str(bins) + ' bins':<26}{n:>10}{ours:>9.3f}{hist:>14.3f}{hist / ours:>8.1f}{'':>13}{'':>8}")
        s = rng.integers(-32768, 32768, n).astype(np.int16)
        for bins in (256, 1000):
            counts = np.zeros(bins, np.uint32)
            ours = per_sample(lambda: qor_lib.histogram(s, bins, -32768, 32768, counts), n)
            hist = per_sample(lambda: np.histogram(s, bins, (-32768, 32768)), n)
            width = 65536 // bins if 65536 % bins == 0 else None
            if width:
                inc = per_sample(lambda: np.bincount((s.astype(np.int32) + 32768) // width, minlength=bins), n)
                inc_text, inc_ratio = f"{inc:>13.3f}", f"{inc / ours:>8.1f}"
            else:
                inc_text, inc_ratio = f"{'-':>13}", f"{'':>8}"
            print(f"{'16s ' + str(bins) + ' bins':<26}{n:>10}{ours:>9.3f}{hist:>14.3f}{hist / ours:>8.1f}{inc_text}{inc_ratio}")


if __name__ == "__main__":
    main()
