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


def histogram_panel(ax):
    ax.set_title("Histogram of Gaussian noise")
    if not needs(ax, "gaussian_rand", "histogram", "gaussian_plot"):
        return


def quadratic_panel(ax):
    ax.set_title("Quadratic fit of the noisy test signal")
    if not needs(ax, "test_rand", "quadratic_fit", "quadratic_plot"):
        return


def gaussian_panel(ax):
    ax.set_title("Gaussian fit of a sampled bell curve")
    if not needs(ax, "gaussian_plot", "gaussian_rand", "gaussian_fit"):
        return


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
