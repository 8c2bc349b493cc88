#!/usr/bin/env bash
# Installs the built library into a temporary prefix and builds the consumer
# application against it twice: with find_package and with pkg-config.
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null

cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/cmake-build/consumer"

pc_dir=$(dirname "$(find "$work/prefix" -name vlibincludes.pc | head -n 1)")
# The installed .pc names the prefix given at configure time; point it at the
# temporary one.
# shellcheck disable=SC2046
g++ "$source_dir/app.cpp" -o "$work/pc-consumer" \
  $(PKG_CONFIG_PATH="$pc_dir" pkg-config --define-variable=prefix="$work/prefix" --cflags --libs vlibincludes)
"$work/pc-consumer"
