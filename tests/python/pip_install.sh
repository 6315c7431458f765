#!/usr/bin/env bash
# pip installs the binding offline into a fresh virtual environment (numpy from the system), then
# uses it from elsewhere with no hint where the library is: it must sit next to the module.
# Usage: pip_install.sh <python> <built library> <work dir>
set -euo pipefail
python=$1 lib=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
# A copy of the sources: pip builds in place and would leave build/ and egg-info/ in the checkout.
cp -r "$here/../../python" "$work/src"
rm -rf "$work/src/build" "$work/src"/*.egg-info
"$python" -m venv --system-site-packages "$work/venv"
QOR_LIB_PATH=$lib "$work/venv/bin/pip" install -q --no-index --disable-pip-version-check "$work/src"
cd "$work"
env -u QOR_LIB_PATH -u PYTHONPATH "$work/venv/bin/python" - <<'PY'
import sys
from pathlib import Path
import numpy as np
import qor_lib

lib = qor_lib.find_library()
assert lib.parent == Path(qor_lib.__file__).parent, lib
assert "site-packages" in str(lib), lib
x = np.array([1, 2, 3], np.float32)
qor_lib.square(x, out=x)
assert x.tolist() == [1, 4, 9], x
print("installed binding works from", lib)
PY
