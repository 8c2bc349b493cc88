#!/usr/bin/env bash
# Makes the Debian package with cpack, checks its control fields and
# contents, unpacks it into a temporary root and builds and runs the
# consumer application (tests/consumer) against the unpacked tree.
# Usage: run.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
consumer=$(cd "$2" && pwd)
work=$(realpath "$(mktemp -d)")
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH

fail() {
  echo "package: $*" >&2
  exit 1
}

(cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out" >/dev/null) ||
  fail "cpack -G DEB failed"
deb=$(find "$work/out" -maxdepth 1 -name '*.deb' -print -quit)
[ -n "$deb" ] || fail "no .deb made"
depends=$(dpkg-deb -f "$deb" Depends)
# Worked out from the binaries: the C library, the C++ runtime and the
# libraries the platform links (libcurl, fontconfig, X11...).
for library in libc6 libstdc++6 libcurl4 libfontconfig1 libx11-6 libdw1 libmsgsl-dev; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/vtools usr/bin/vlib-rc usr/include/vlibincludes/VLibIncludes.h \
  usr/include/vlibincludes/VLibExport.h usr/lib/pkgconfig/vlibincludes.pc \
  usr/lib/cmake/VLibIncludes/VLibIncludesConfig.cmake usr/libexec/vlibincludes/vlib-crash-reporter \
  usr/share/doc/VLibIncludes/LICENSE; do
  grep -q " ./$file\$" <<<"$contents" || fail "the package lacks $file"
done

dpkg-deb -x "$deb" "$work/root"
cmake -S "$consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/root/usr" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  >/dev/null
grep -q "^VLibIncludes_DIR:PATH=$work/root/usr/" "$work/build/CMakeCache.txt" || fail "find_package found another copy"
cmake --build "$work/build" >/dev/null
"$work/build/consumer"
"$work/root/usr/bin/vtools" --help | grep -q '^Commands:' || fail "the packaged vtools does not run"
echo "package: $(basename "$deb") unpacks into a tree that builds and runs the consumer"
