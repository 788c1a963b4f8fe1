#!/usr/bin/env bash
# Builds pbfred, installs it into a virtual environment with what the demo needs (scikit-image,
# which brings its photograph and an image writer) and runs the demo: it restores a noisy
# photograph and writes the pictures under build/demo.
set -euo pipefail
source "$(dirname "$0")/common.sh"

python=$(python_for 10)
[ -n "$python" ] || python=$(newest_python)
venv="$build/venv-demo"
make_venv "$venv" "$python" --upgrade pip
"$venv/bin/python" -m pip install -q --disable-pip-version-check "$root" \
  -r "$root/examples/requirements.txt"
"$venv/bin/python" "$root/examples/demo.py" --out "$build/demo"
