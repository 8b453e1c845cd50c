# Shared helpers for the project's scripts; sourced, not run.

# Prints the path of a CPython 3.12 interpreter: $PYTHON if set, else a working
# python3.12 on the PATH, else the newest 3.12.x that pyenv installed.
find_python312() {
    local candidate
    if [ -n "${PYTHON:-}" ]; then
        candidate=$PYTHON
    elif python3.12 -c '' >/dev/null 2>&1; then
        candidate=$(command -v python3.12)
    else
        local root
        root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
        candidate=$(ls -d "$root"/versions/3.12.*/bin/python3.12 2>/dev/null | sort -V | tail -n 1)
    fi
    if [ -z "$candidate" ] || ! "$candidate" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' >/dev/null 2>&1; then
        echo "error: CPython 3.12 not found. Install it (for example 'pyenv install 3.12') or set PYTHON=/path/to/python3.12." >&2
        return 1
    fi
    echo "$candidate"
}

# apt-get install as root or through sudo. The package lists are updated at
# most once per run of a top-level command: the flag is exported, so the
# scripts that one command starts share it.
apt_install() {
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "error: apt-get is not available; install $* by hand." >&2
        return 1
    fi
    if [ -z "${ZEF_APT_UPDATED:-}" ]; then
        $sudo apt-get update -qq
        export ZEF_APT_UPDATED=1
    fi
    echo "Installing $* with apt-get..."
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >/dev/null
}

# Installs Debian's GoogleTest package when its headers or CMake package are missing.
ensure_gtest() {
    if [ -f /usr/include/gtest/gtest.h ] && ls /usr/lib/*/cmake/GTest/GTestConfig.cmake >/dev/null 2>&1; then
        return 0
    fi
    apt_install libgtest-dev
}

# Creates the virtual environment $1 with CPython 3.12, unless it is there.
make_venv() {
    local python venv=$1
    python=$(find_python312) || return 1
    if ! "$venv/bin/python" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' >/dev/null 2>&1; then
        rm -rf "$venv"
        "$python" -m venv "$venv"
    fi
}

# Creates (or reuses) the project's virtual environment in .venv with CPython
# 3.12, installs the build and test requirements, then builds and installs the
# extension into it. Prints nothing on success but pip's own errors.
ensure_venv() {
    local venv=.venv
    make_venv "$venv" || return 1
    # The requirements are installed again only when they or their pins change.
    local stamp="$venv/.requirements.sha256" sum
    sum=$(cat requirements-dev.txt constraints.txt | sha256sum | cut -d' ' -f1)
    if [ "$(cat "$stamp" 2>/dev/null)" != "$sum" ]; then
        "$venv/bin/python" -m pip install -q --disable-pip-version-check -c constraints.txt -r requirements-dev.txt
        echo "$sum" >"$stamp"
    fi
    echo "Building and installing the extension module..."
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation -c constraints.txt \
        -C build-dir=build/module "${PIP_INSTALL_TARGET:-.}"
}

# Creates (or reuses) .venv-demo, which holds the package and what it needs at
# run time, nothing else: pip builds the extension in an isolated environment
# from the build requirements of pyproject.toml. PIP_CONSTRAINT, unlike -c,
# reaches that environment too, so that the build tools are the pinned ones.
ensure_demo_venv() {
    local venv=.venv-demo
    make_venv "$venv" || return 1
    echo "Building and installing zef with its run-time dependencies..."
    PIP_CONSTRAINT="$PWD/constraints.txt" "$venv/bin/python" -m pip install -q --disable-pip-version-check \
        -C build-dir=build/demo-module .
}
