#!/usr/bin/env bash
# Makes a universal static library that ld64.lld can read: one archive per architecture, joined
# with llvm-lipo. (clang makes universal objects; an archive of those has no index a linker uses.)
#
# usage: macos-universal-archive.sh LLVM_LIPO LLVM_AR ARCHIVE OBJECT...
set -euo pipefail
lipo=$1 ar=$2 archive=$3
shift 3
work=$(mktemp -d "$archive.XXXXXX")
trap 'rm -rf "$work"' EXIT
slices=()
for arch in $("$lipo" -archs "$1"); do
  mkdir "$work/$arch"
  thin=()
  n=0
  for object in "$@"; do
    n=$((n + 1))
    # Numbered: two objects may share a file name.
    out="$work/$arch/$n-$(basename "$object")"
    "$lipo" "$object" -thin "$arch" -output "$out"
    thin+=("$out")
  done
  "$ar" qcs "$work/$arch.a" "${thin[@]}"
  slices+=("$work/$arch.a")
done
rm -f "$archive"
"$lipo" -create "${slices[@]}" -output "$archive"
