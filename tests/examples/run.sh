#!/usr/bin/env bash
# Builds every program of examples/ against the library installed into a
# temporary prefix (one CMake build of examples/, each example a consumer
# through find_package) and runs them: the mail example against the tests'
# SMTP server, the desktop example under an X server of its own, the others
# as they are.
# Usage: run.sh BUILD_DIR EXAMPLES_DIR SMTP_SERVER_SCRIPT
set -euo pipefail
build_dir=$1
examples=$(cd "$2" && pwd)
smtp_server=$3
work=$(realpath "$(mktemp -d)")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
unset LD_LIBRARY_PATH

fail() {
  echo "examples: $*" >&2
  exit 1
}

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$examples" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" "${launcher[@]}" >/dev/null
cmake --build "$work/build" -j2 >/dev/null || fail "the examples do not build against the installed package"

# run NAME EXPECTED [ARGS...]: the example ends with 0 and prints EXPECTED;
# its output is left in $out.
run() {
  local name=$1 expected=$2
  shift 2
  out=$(cd "$work" && timeout 60 "$work/build/$name/example_$name" "$@" 2>&1) || fail "$name failed: $out"
  grep -qF -- "$expected" <<<"$out" || fail "$name printed no '$expected': $out"
}

(
  unset DISPLAY
  run text "scrambled: 047080"
  run log_and_crash "log written to"
  run settings "Window/Rect = 10 20 300 400, columns: 2"
  run executors "message 7 seen on the loop thread"
  grep -qF "sum computed on the worker: 55" <<<"$out" || fail "executors: $out"
  run encoding "SHA-256: 8316c7dc8c3af3d30a730904832977df687c147cb3b6b1f5afbe437ef78dcfe2"
  run system "first alone: 1, second sees it: 1"
  run gdi "40 px: '1 235k'"
  run resources "Notowania: WIG20 2345,67"
)

# The mail example: one message with its attachment reaches the server.
mkdir -p "$work/smtp"
coproc SMTP { exec /usr/bin/python3 "$smtp_server" --state "$work/smtp"; }
pids+=("$SMTP_PID")
read -r word port <&"${SMTP[0]}"
[ "$word" = PORT ] || fail "the SMTP server did not start"
run mail "sent" 127.0.0.1 "$port" anna@example.com
[ -f "$work/smtp/1.json" ] || fail "the mail example's message did not arrive"
grep -q 'filename="vlib-example-kursy.csv"' "$work/smtp/1.eml" || fail "the message has no attachment"

# The desktop example, on an X server of its own.
Xvfb -displayfd 1 -nolisten tcp -screen 0 1280x1024x24 >"$work/display" 2>/dev/null &
pids+=("$!")
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
DISPLAY=":$(head -n1 "$work/display")" run desktop "clipboard: WIG20 2345,67 zł"
echo "examples: every example builds against the installed package and runs"
