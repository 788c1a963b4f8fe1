#!/usr/bin/env bash
# Builds pbfred, installs it into a virtual environment and runs the demo.
set -euo pipefail
source "$(dirname "$0")/common.sh"

python=$(python_for 10)
[ -n "$python" ] || python=$(newest_python)
venv="$build/venv-demo"
make_venv "$venv" "$python" --upgrade pip
"$venv/bin/python" -m pip install -q --disable-pip-version-check "$root"
"$venv/bin/python" "$root/examples/demo.py"
