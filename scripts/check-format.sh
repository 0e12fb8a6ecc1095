#!/usr/bin/env bash
# Fails when any C++ or Objective-C++ file differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then
  echo "check-format: clang-format is not installed; skipped"
  exit 0
fi
git ls-files '*.cpp' '*.h' '*.mm' | xargs -r clang-format --dry-run --Werror
echo "check-format: clean"
