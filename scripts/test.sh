#!/usr/bin/env bash
# Builds and runs every test:
#   1. the GoogleTest suite and the Python suite (through ctest) on CPython 3.10 and on the
#      newest CPython installed, warnings treated as errors;
#   2. the Python suite against the package as `pip install .` installs it into a fresh venv;
#   3. both suites again under AddressSanitizer and UndefinedBehaviorSanitizer.
# Installs what it needs when it is missing: GoogleTest from Debian, Python packages from PyPI.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_apt g++ libgtest-dev

# configure_and_test NAME PYTHON [CMAKE ARGS...]: a venv and a build tree named NAME; runs ctest.
configure_and_test() {
  local name=$1 python=$2
  shift 2
  local venv="$build/venv-$name" tree="$build/$name"
  echo "== $name: $("$python" --version)"
  make_venv "$venv" "$python" -r "$root/requirements-test.txt" cmake==4.4.5 ninja==1.13.2
  "$venv/bin/cmake" -S "$root" -B "$tree" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
    -DPython_EXECUTABLE="$venv/bin/python" -DPBFRED_BUILD_TESTS=ON \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@" >/dev/null
  "$venv/bin/cmake" --build "$tree" -j "$jobs"
  (cd "$tree" && "$venv/bin/ctest" --output-on-failure)
}

python310=$(python_for 10)
[ -n "$python310" ] || { echo "CPython 3.10 is required (pyenv install 3.10)"; exit 1; }
newest=$(newest_python)

configure_and_test py3.10 "$python310"
if [ "$("$newest" -c 'import sys; print(sys.version_info[:2])')" != "(3, 10)" ]; then
  configure_and_test newest "$newest"
fi

echo "== installed package (pip install . into a fresh venv)"
rm -rf "$build/venv-installed"
make_venv "$build/venv-installed" "$python310" -r "$root/requirements-test.txt"
"$build/venv-installed/bin/python" -m pip install -q --disable-pip-version-check "$root"
# Run from outside the source tree so that only the installed package can be imported.
(cd "$build" && env -u PYTHONPATH "$build/venv-installed/bin/python" -m pytest -q \
  -p no:cacheprovider "$root/tests/python")

configure_and_test sanitizers "$python310" -DCMAKE_BUILD_TYPE=Debug \
  -DPBFRED_SANITIZE=address,undefined

echo "== all tests passed"
