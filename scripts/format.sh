#!/usr/bin/env bash
# Applies .clang-format to the project's C/C++ sources (those git tracks;
# nothing generated, nothing in the build folders).
#   bash scripts/format.sh          rewrites the files in place
#   bash scripts/format.sh --check  lists the files it would change; fails if any
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
    changed=0
    for f in "${files[@]}"; do
        if ! clang-format --style=file "$f" | cmp -s - "$f"; then echo "$f"; changed=1; fi
    done
    exit $changed
fi
clang-format --style=file -i "${files[@]}"
