#!/usr/bin/env bash
# The Python binding's tests with pytest, and the Python example on the
# default virtual board.
#
#   python_binding.sh LIBRARY SOURCE_DIR
set -euo pipefail
lib=$1
src=$2
# The first Python that has pytest: a python3 of one's own may come before
# the system's on PATH, which is where Debian's python3-pytest installs.
python=
for p in python3 /usr/bin/python3; do
  if "$p" -c 'import pytest' 2>/dev/null; then python=$p; break; fi
done
if [ -z "$python" ]; then
  echo "SKIPPED: pytest is missing (Debian's python3-pytest, listed in .ci/deps)"
  exit 77
fi
export ZORVIK_LIBRARY=$lib ZRV_SOURCE_DIR=$src PYTHONPATH=$src/bindings/python
"$python" -m pytest -q -p no:cacheprovider "$src/bindings/python/tests"
# Read whole before it is searched: grep -q leaving early would break the
# example's pipe.
out=$(ZORVIK_BOARD=$src/boards/default.json "$python" "$src/examples/keepalive.py" "$src/boards/default.profile.json" 1 0)
grep -qx '  Vcore             1.12 V  min 0.80  max 1.40' <<<"$out"
