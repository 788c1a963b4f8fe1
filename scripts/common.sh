# Shared by the project's scripts: installs what is missing and finds the interpreters.
# Everything lands under build/ in the repository; nothing is installed system-wide except
# Debian packages.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"
jobs=$(nproc 2>/dev/null || echo 2)

# ensure_apt PACKAGE...: installs the Debian packages that are not installed yet.
ensure_apt() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "== installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

# python_for MINOR: the path of an installed CPython 3.MINOR, or nothing.
python_for() {
  local minor=$1 candidate
  for candidate in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3."$minor".*/bin/python3 \
                   "$(command -v python3."$minor" 2>/dev/null)"; do
    [ -x "$candidate" ] && { echo "$candidate"; return; }
  done
}

# newest_python: the path of the newest CPython 3.x installed under pyenv (or python3).
newest_python() {
  local newest
  newest=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.* 2>/dev/null | sort -V | tail -n 1)
  if [ -n "$newest" ]; then echo "$newest/bin/python3"; else command -v python3; fi
}

# make_venv DIR PYTHON [PIP ARGS...]: a virtual environment at DIR, created once, with the
# given packages installed.
make_venv() {
  local dir=$1 python=$2
  shift 2
  [ -x "$dir/bin/python" ] || "$python" -m venv "$dir"
  "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
}
