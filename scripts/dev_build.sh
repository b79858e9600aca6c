#!/usr/bin/env bash
# Fast rebuild for development: builds the extension into build/dev and links
# it into module/vantor, so `PYTHONPATH=module pytest` tests the work tree.
# Usage: scripts/dev_build.sh [python]   (default: the python on PATH)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
py="${1:-python3}"
build="$root/build/dev"
launcher=(); command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" "${launcher[@]}" -DPython_EXECUTABLE="$(command -v "$py")" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2
so="$(ls "$build"/_core*.so | head -n1)"
ln -sf "$so" "$root/module/vantor/$(basename "$so")"
echo "built $so"
