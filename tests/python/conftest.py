import gc
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
try:
    import qor_lib  # noqa: F401  (an installed package, or PYTHONPATH)
except ImportError:
    sys.path.insert(0, str(ROOT / "python"))
import qor_lib


@pytest.fixture(autouse=True)
def no_leaked_handles():
    """Every test leaves the registry holding exactly what it held before."""
    gc.collect()
    before = qor_lib.live_handles()
    yield
    gc.collect()
    assert qor_lib.live_handles() == before, "the test left arrays alive in the registry"
