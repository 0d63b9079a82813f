#!/usr/bin/env bash
# Fails when a C++ source file does not follow .clang-format, naming each one.
# With --fix, reformats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=(--dry-run --Werror)
if [ "${1:-}" = "--fix" ]; then mode=(-i); fi

mapfile -t files < <(find src tests bench -name '*.h' -o -name '*.cpp' | sort)
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no sources found" >&2
  exit 1
fi
if ! clang-format --style=file "${mode[@]}" "${files[@]}"; then
  echo "check-format: the files above do not follow .clang-format (scripts/check-format.sh --fix)" >&2
  exit 1
fi
