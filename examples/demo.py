"""qor_lib at work, as a picture: one PNG with four panels, every number computed by the library.

Usage: demo.py [output.png]   (default: qor_demo.png in the current folder)"""
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import qor_lib  # noqa: E402


def needs(ax, *names):
    """True when the binding has every operation the panel uses; otherwise says which are missing."""
    missing = [n for n in names if not hasattr(qor_lib, n)]
    if missing:
        ax.text(0.5, 0.5, "not available yet:\n" + "\n".join(missing), ha="center", va="center",
                transform=ax.transAxes, color="grey")
    return not missing


def spectrum_panel(ax):
    ax.set_title("Amplitude spectrum of two noisy tones")
    if not needs(ax, "vector_tone", "gaussian_rand", "dft_fwd"):
        return
    n = 1024
    tones = ((1.0, 50 / n, 0.0), (0.5, 205 / n, 1.0))  # magnitude, cycles per sample (on a bin), phase
    signal = qor_lib.gaussian_rand(n, 0.0, 0.4, seed=7)
    for magnitude, rfreq, phase in tones:
        signal += qor_lib.vector_tone(n, magnitude, rfreq, phase)
    amplitude = qor_lib.dft_fwd(signal)[: n // 2 + 1]
    freq = np.arange(n // 2 + 1) / n
    ax.plot(freq, amplitude, lw=0.8, color="tab:blue", label="|X[k]|: 2|X|/N, noise sd 0.4")
    for magnitude, rfreq, _ in tones:
        k = int(round(rfreq * n))
        ax.plot(freq[k], amplitude[k], "o", ms=7, mfc="none", color="tab:red")
        ax.annotate(f"{amplitude[k]:.3f} at {freq[k]:.4f}\n(tone {magnitude} at {rfreq:.4f})", (freq[k], amplitude[k]),
                    xytext=(12, -8), textcoords="offset points", fontsize=8)
    ax.set_xlabel("frequency (cycles per sample)")
    ax.set_ylabel("amplitude")
    ax.set_xlim(0, 0.5)
    ax.legend(loc="upper right", fontsize=8)


def histogram_panel(ax):
    ax.set_title("Histogram of Gaussian noise")
    if not needs(ax, "gaussian_rand", "histogram", "gaussian_plot"):
        return
    n, mean, sd, bins, lower, upper = 100_000, 2.0, 1.5, 60, -4.0, 8.0
    noise = qor_lib.gaussian_rand(n, mean, sd, seed=11)
    counts = qor_lib.histogram(noise, bins, lower, upper)
    width = (upper - lower) / bins
    centres = lower + width * (np.arange(bins) + 0.5)
    # The count each bin should hold: n * width * normal density at the bin's centre.
    expected = qor_lib.gaussian_plot(bins, mean, sd, n * width / (sd * np.sqrt(2 * np.pi)), centres[0], width)
    ax.bar(centres, counts, width=width * 0.9, color="tab:green", alpha=0.6,
           label=f"{counts.sum()} of {n} samples, {bins} bins")
    ax.plot(centres, expected, color="black", lw=1.5, label=f"expected: N·Δ·φ(x; μ={mean}, σ={sd})")
    ax.set_xlabel("value")
    ax.set_ylabel("count per bin")
    ax.legend(loc="upper right", fontsize=8)


def quadratic_panel(ax):
    ax.set_title("Quadratic fit of the noisy test signal")
    if not needs(ax, "test_rand", "quadratic_fit", "quadratic_plot"):
        return
    n, truth = 200, (0.004, -0.9, 60.0)
    samples = qor_lib.test_rand(n, *truth)  # the curve plus uniform noise in [-5, 5]
    a, b, c = qor_lib.quadratic_fit(samples)
    fitted = qor_lib.quadratic_plot(n, a, b, c)
    x = np.arange(n)
    ax.plot(x, samples, ".", ms=3, color="tab:gray", label=f"test signal: {truth[0]}x² {truth[1]:+}x {truth[2]:+} + noise")
    ax.plot(x, fitted, color="tab:orange", lw=2, label=f"fit: {a:.5f}x² {b:+.4f}x {c:+.3f}")
    ax.set_xlabel("x (sample index)")
    ax.set_ylabel("y")
    ax.legend(loc="upper center", fontsize=8)


def gaussian_panel(ax):
    ax.set_title("Gaussian fit of a sampled bell curve")
    if not needs(ax, "gaussian_plot", "gaussian_rand", "gaussian_fit"):
        return
    # The fit models 1 + y as A exp(-(x - centre)^2 / (2 sigma^2)); a bell of counts, sampled out to
    # 2.5 widths, is that within a fraction of a percent.
    n, x0, dx = 81, -1.5, 0.1
    centre, width, height = 2.5, 1.6, 1000.0
    samples = qor_lib.gaussian_plot(n, centre, width, height, x0, dx)
    samples += qor_lib.gaussian_rand(n, 0.0, 10.0, seed=5)  # measurement noise
    c, s, a = qor_lib.gaussian_fit(samples, x0, dx)
    fine = 4 * n
    fitted = qor_lib.gaussian_plot(fine, c, s, a, x0, dx / 4) - 1
    ax.plot(x0 + dx * np.arange(n), samples, "o", ms=3, color="tab:purple", alpha=0.7,
            label=f"samples: centre {centre}, width {width}, height {height:g}, noise sd 10")
    ax.plot(x0 + dx / 4 * np.arange(fine), fitted, color="black", lw=1.5,
            label=f"fit: centre {c:.3f}, sigma {s:.3f}, amplitude {a:.1f}")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.legend(loc="upper left", fontsize=8)


def main(argv):
    out = Path(argv[1] if len(argv) > 1 else "qor_demo.png").resolve()
    fig, axes = plt.subplots(2, 2, figsize=(13, 9))
    for panel, ax in zip((spectrum_panel, histogram_panel, quadratic_panel, gaussian_panel), axes.flat):
        panel(ax)
    fig.suptitle(f"qor_lib {qor_lib.__version__}")
    fig.tight_layout()
    out.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(out, dpi=100)
    assert not qor_lib.live_handles(), "the demo left arrays alive"
    print(f"picture written to {out}")


if __name__ == "__main__":
    main(sys.argv)
