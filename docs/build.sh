#!/usr/bin/env bash
# Build the HTML documentation into docs/_build/html, executing the tutorial.
# Any warning fails the build (-W); --keep-going reports all of them first.
# Usage: bash docs/build.sh [python]   (default: .venv/bin/python, else python3)
set -euo pipefail
python=${1:-}
# A path given from the caller's folder stays valid after the cd below.
case "$python" in */*) python=$(cd "$(dirname "$python")" && pwd)/$(basename "$python") ;; esac
cd "$(dirname "$0")"
if [ -z "$python" ]; then
    if [ -x ../.venv/bin/python ]; then python=../.venv/bin/python; else python=python3; fi
fi
rm -rf _build api/generated
start=$(date +%s)
"$python" -m sphinx -q -W --keep-going -b html -d _build/doctrees . _build/html
pages=$(find _build/html -name '*.html' -not -path '*/_static/*' | wc -l)
echo "docs: $pages pages in $(( $(date +%s) - start )) s: $(pwd)/_build/html/index.html"
