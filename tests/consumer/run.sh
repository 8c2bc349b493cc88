#!/usr/bin/env bash
# Installs the built library into a temporary prefix and proves that the
# installed tree stands on its own, wherever it lies:
#  - it holds exactly the public headers (no internal/ one), each reached from
#    <VLibIncludes.h>, and its package files name no absolute prefix;
#  - the headers compile with -Wpedantic before and after Xlib's;
#  - a small application builds against it with pkg-config and runs, and the
#    installed vtools runs, both without any library path from the environment;
#    the application crashes a child of its own, and the installed crash
#    reporter, found from the installed library, writes the child's report;
#  - after the whole prefix is moved to another folder, the application builds
#    with find_package and with pkg-config and runs, and vtools still runs; the
#    find_package build embeds a resource with the installed resource compiler
#    (vlib_add_resources) and reads it back.
# Usage: run.sh BUILD_DIR CONSUMER_SOURCE_DIR [WITH_VTOOLS (1, default, or 0)]
set -euo pipefail
build_dir=$1
source_dir=$(cd "$2" && pwd)
with_vtools=${3:-1}
project_dir=$(cd "$source_dir/../.." && pwd)
work=$(realpath "$(mktemp -d)")
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH

fail() {
  echo "consumer: $*" >&2
  exit 1
}

prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

header=$(find "$prefix" -name VLibIncludes.h -print -quit)
pc_file=$(find "$prefix" -name vlibincludes.pc -print -quit)
cmake_file=$(find "$prefix" -name VLibIncludesConfig.cmake -print -quit)
[ -n "$header" ] || fail "no VLibIncludes.h installed"
[ -n "$pc_file" ] || fail "no vlibincludes.pc installed"
[ -n "$cmake_file" ] || fail "no CMake package installed"
[ -n "$(find "$prefix" -name vlib-crash-reporter -type f -perm -u+x -print -quit)" ] || fail "no crash reporter installed"
include_root=$(dirname "$header")
# Paths below the prefix, for moving it.
include_rel=${include_root#"$prefix"/}
pc_rel=$(dirname "${pc_file#"$prefix"/}")

# The installed headers are the repository's public ones: every header outside
# internal/ folders, tests and tools.
(cd "$include_root" && find . -name '*.h' | sed 's|^\./||' | sort) >"$work/installed"
if git -C "$project_dir" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$project_dir" ls-files '*.h' | grep -Ev '^(tests|bench|fuzz|tools)/|(^|/)internal/' | sort >"$work/public"
  if ! diff -u "$work/public" "$work/installed" >"$work/headers.diff"; then
    cat "$work/headers.diff" >&2
    fail "the installed headers differ from the public headers (- missing, + extra)"
  fi
fi
if grep -q '/internal/' "$work/installed"; then fail "internal headers installed: $(grep '/internal/' "$work/installed")"; fi

# Package files that name the prefix, the sources or /usr/local cannot move.
for path in "$prefix" "$project_dir" /usr/local; do
  if grep -rlF "$path" "$pc_file" "$(dirname "$cmake_file")" >"$work/absolute"; then
    fail "package files name $path: $(cat "$work/absolute")"
  fi
done

# run_vtools PREFIX: the installed tool, found without a library path, prints
# its help and converts text.
run_vtools() {
  [ "$with_vtools" = 1 ] || return 0
  local vtools=$1/bin/vtools
  # (Outputs are taken whole: grep -q would end a pipe's writer early.)
  local dynamic libraries help bytes
  dynamic=$(readelf -d "$vtools")
  # shellcheck disable=SC2016
  grep -Eq 'R(UN)?PATH.*\$ORIGIN' <<<"$dynamic" || fail "vtools has no \$ORIGIN run path"
  libraries=$(ldd "$vtools")
  grep -q "libVLibIncludes.so.* => $1/" <<<"$libraries" || fail "vtools does not load the library of $1: $libraries"
  help=$("$vtools" --help)
  grep -q '^Commands:' <<<"$help" || fail "vtools --help from $1"
  bytes=$(printf 'Za\305\274\303\263\305\202\304\207' | "$vtools" convert --from utf-8 --to windows-1250 | od -An -tx1 | tr -d ' \n')
  [ "$bytes" = "5a61bff3b3e6" ] || fail "vtools convert from $1 gave $bytes"
}

# pc_consumer PREFIX: the application built with pkg-config (no
# --define-variable: the .pc finds its prefix itself) runs without a library
# path.
pc_consumer() {
  local flags
  flags=$(PKG_CONFIG_PATH="$1/$pc_rel" pkg-config --cflags --libs vlibincludes)
  [[ $flags == *"-I$1/"* ]] || fail "pkg-config names another prefix than $1: $flags"
  # shellcheck disable=SC2086
  g++ "$source_dir/app.cpp" -o "$work/pc-consumer" -MMD -MF "$work/app.d" $flags
  "$work/pc-consumer"
}

pc_consumer "$prefix"
# The headers compile pedantically clean before and after Xlib's (whose
# Status and Bool macros they must survive), and Xlib still works after them.
for order in "VLibIncludes.h X11/Xlib.h X11/Xutil.h" "X11/Xlib.h X11/Xutil.h VLibIncludes.h"; do
  {
    for h in $order; do echo "#include <$h>"; done
    echo 'int main() { Bool b = True; Status s = 0; return (b && s) + static_cast<int>(Gdiplus::Ok) + TRUE; }'
  } >"$work/order.cpp"
  # shellcheck disable=SC2046
  g++ -fsyntax-only -Wall -Wextra -Wpedantic -Werror "$work/order.cpp" \
    $(PKG_CONFIG_PATH="$prefix/$pc_rel" pkg-config --cflags vlibincludes) || fail "the headers do not compile in the order $order"
done
# Every installed header is reached from <VLibIncludes.h>.
# (The .pc's include path holds "..": compare real paths.)
sed -e 's/ /\n/g' "$work/app.d" | grep '\.h$' | xargs realpath -m | grep -F "$include_root/" |
  sed "s|^$include_root/||" | sort -u >"$work/reached"
unreached=$(comm -23 "$work/installed" "$work/reached")
[ -z "$unreached" ] || fail "installed headers that <VLibIncludes.h> does not include: $unreached"
run_vtools "$prefix"

# The same tree moved elsewhere.
moved=$work/elsewhere/moved
mkdir -p "$work/elsewhere"
mv "$prefix" "$moved"
[ -d "$moved/$include_rel" ] || fail "no headers after the move"
cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$moved" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
grep -q "^VLibIncludes_DIR:PATH=$moved/" "$work/cmake-build/CMakeCache.txt" || fail "find_package found another copy"
cmake --build "$work/cmake-build" >/dev/null
grep -q "$moved/bin/vlib-rc" "$work/cmake-build/CMakeFiles/consumer.dir/build.make" ||
  fail "the consumer's resources were not compiled by the installed vlib-rc"
"$work/cmake-build/consumer"
pc_consumer "$moved"
run_vtools "$moved"
echo "consumer: the installed tree works in a temporary prefix and after moving it"
