#!/usr/bin/env bash
# One-step set-up on a fresh Debian 12 or 13 machine: system packages (when
# missing), a virtualenv in .venv and Vantor installed into it with its test
# and documentation dependencies. Safe to run again; it only installs what is
# missing.
set -euo pipefail
cd "$(dirname "$0")/.."

extras=test,docs

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
        echo "Need root to install system packages: $*" >&2; exit 1; fi
}

missing=()
[ -f /usr/lib/swi-prolog/include/SWI-Prolog.h ] || [ -f /usr/include/SWI-Prolog.h ] \
    || missing+=(swi-prolog-core)
[ -e /usr/lib/cmake/swipl/SWIPLConfig.cmake ] || missing+=(swi-prolog-core)
command -v g++ >/dev/null || missing+=(g++)
command -v python3 >/dev/null || missing+=(python3)
python3 -c 'import venv, ensurepip' 2>/dev/null || missing+=(python3-venv)
python3 -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null \
    || missing+=(python3-dev)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing system packages: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Debian 13 keeps the C header in libswipl-dev.
if [ ! -f /usr/lib/swi-prolog/include/SWI-Prolog.h ] && [ ! -f /usr/include/SWI-Prolog.h ]; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libswipl-dev >/dev/null
fi

[ -x .venv/bin/python ] || python3 -m venv .venv

# Rebuilding takes a minute; skip it while the installed copy was built from
# these very sources (a hash of every file the build reads, and the extras).
stamp=.venv/vantor-source-stamp
source_hash() {
    { echo "$extras"; find CMakeLists.txt pyproject.toml README.md src module -type f \
        ! -name '*.so' ! -name '*.pyc' ! -path '*/__pycache__/*' -print0 \
        | LC_ALL=C sort -z | xargs -0 sha256sum; } | sha256sum | cut -d' ' -f1
}
current=$(source_hash)
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$current" ] \
        && .venv/bin/python -c 'import vantor' 2>/dev/null; then
    echo "Vantor in .venv is up to date"
    exit 0
fi
rm -f "$stamp"
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q ".[$extras]"
echo "$current" > "$stamp"
echo "Vantor is installed in .venv"
