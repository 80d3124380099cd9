#!/usr/bin/env bash
# Fails when a C++ file of the product, the testbed, the tests, the fuzz
# targets or the benchmarks differs from its formatted form (.clang-format).
# The formatter is the one of Debian's clang-format-14 package, which
# scripts/install-deps.sh installs: another version formats some lines
# differently, so the check names that one.
set -euo pipefail
cd "$(dirname "$0")/.."
FORMAT=${CLANG_FORMAT:-clang-format-14}
if ! command -v "$FORMAT" >/dev/null; then
  echo "format-check: $FORMAT not found (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.cc' '*.hpp' '*.c')
if [ "${#files[@]}" = 0 ]; then
  echo "format-check: no C++ files found" >&2
  exit 1
fi
if ! "$FORMAT" --dry-run --Werror "${files[@]}"; then
  echo "format-check: the files above differ from their formatted form; run" >&2
  echo "  $FORMAT -i <file>   (or git clang-format-14 for the lines you changed)" >&2
  exit 1
fi
echo "format-check: ${#files[@]} files formatted"
