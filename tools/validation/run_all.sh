#!/usr/bin/env bash
# Regenerates every figure of docs/validation.md from a Release build
# (build/release/velunor) and prints each case's measured error.
set -euo pipefail
cd "$(dirname "$0")"
for script in *.py; do
    [ "$script" = vlib.py ] && continue
    echo "== $script"
    /usr/bin/python3 "$script"
done
