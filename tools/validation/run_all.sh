#!/usr/bin/env bash
# Regenerates every figure of docs/validation.md from a Release build
# (build/release/velunor) and prints each case's measured error.
set -euo pipefail
cd "$(dirname "$0")"
for script in *.py; do
    case "$script" in vlib.py | solid_common.py) continue ;; esac
    echo "== $script"
    /usr/bin/python3 "$script"
done
