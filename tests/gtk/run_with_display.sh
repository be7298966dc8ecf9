#!/bin/bash
# Runs a program on a private Xvfb display (1366x768) and ends the display
# afterwards. Exit code: the program's, or 77 (skipped) without Xvfb.
#
#   run_with_display.sh PROGRAM [ARGS...]
set -u

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "run_with_display: no Xvfb; skipping" >&2
  exit 77
fi

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [[ -n "$xvfb_pid" ]] && kill -TERM "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# -displayfd: the server picks a free display, so runs side by side never clash.
mkfifo "$work/fd"
Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp -noreset \
  3>"$work/fd" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
read -r -t 30 display <"$work/fd"
if [[ -z "$display" ]]; then
  echo "run_with_display: Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

# No accessibility bus here: the tests read GTK's accessible objects directly.
DISPLAY=":$display" NO_AT_BRIDGE=1 "$@"
