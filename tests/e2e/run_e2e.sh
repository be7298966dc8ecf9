#!/bin/bash
# Runs one end-to-end test file in a world of its own: a private session bus,
# a private virtual display, the accessibility bus, and Debian's python3 (the
# one with pyatspi). Nothing it starts outlives it.
#
#   run_e2e.sh [--updater PATH] [--source DIR] [--screen WxHxD] TEST.py [unittest args...]
#
# --updater  the built executable (default: $TAVRIX_UPDATER)
# --source   the source tree (default: the tree this script lives in)
# --screen   the virtual screen (default: $E2E_SCREEN, else 1366x768x24)
#
# The test sees TAVRIX_UPDATER, TAVRIX_SOURCE_DIR, DISPLAY, E2E_SCREEN and
# E2E_RUN_ID. Every process started below carries E2E_RUN_ID in its
# environment; on exit, whatever way the run ends, each process that still
# carries this run's id is ended by its pid.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [[ "${1:-}" == "--inner" ]]; then
  # Inside dbus-run-session: display, accessibility bus, the test.
  shift
  test_file=$1
  shift
  pids=()
  test_pid=""
  stop_started() {
    local pid
    [[ -n "$test_pid" ]] && kill -TERM "$test_pid" 2>/dev/null
    # The accessibility bus before the display it announced itself on.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
      kill -TERM "${pids[i]}" 2>/dev/null
      wait "${pids[i]}" 2>/dev/null
    done
    [[ -n "$test_pid" ]] && wait "$test_pid" 2>/dev/null
  }
  trap stop_started EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT

  # -displayfd lets the server pick a free display number itself, so tests
  # that CTest runs side by side never fight over one.
  fifo_dir=$(mktemp -d)
  mkfifo "$fifo_dir/fd"
  Xvfb -displayfd 3 -screen 0 "$E2E_SCREEN" -nolisten tcp -noreset \
    3>"$fifo_dir/fd" >"$fifo_dir/xvfb.log" 2>&1 &
  pids+=($!)
  display=""
  read -r -t 30 display <"$fifo_dir/fd"
  if [[ -z "$display" ]]; then
    echo "run_e2e: Xvfb did not start:" >&2
    cat "$fifo_dir/xvfb.log" >&2
    rm -rf "$fifo_dir"
    exit 1
  fi
  rm -rf "$fifo_dir"
  export DISPLAY=":$display"

  export NO_AT_BRIDGE=0 GTK_A11Y=atspi
  /usr/libexec/at-spi-bus-launcher --launch-immediately &
  pids+=($!)

  /usr/bin/python3 "$test_file" "$@" &
  test_pid=$!
  wait "$test_pid"
  exit $?
fi

updater=${TAVRIX_UPDATER:-}
source_dir=$(cd "$here/../.." && pwd)
screen=${E2E_SCREEN:-1366x768x24}
while [[ $# -gt 0 ]]; do
  case "$1" in
    --updater) updater=$2; shift 2 ;;
    --source) source_dir=$2; shift 2 ;;
    --screen) screen=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "run_e2e: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [[ $# -lt 1 ]]; then
  echo "usage: run_e2e.sh [--updater PATH] [--source DIR] [--screen WxHxD] TEST.py [args...]" >&2
  exit 2
fi
test_file=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
if [[ -n "$updater" ]]; then
  updater=$(cd "$(dirname "$updater")" && pwd)/$(basename "$updater")
fi

export TAVRIX_UPDATER=$updater TAVRIX_SOURCE_DIR=$source_dir E2E_SCREEN=$screen
export E2E_RUN_ID="e2e-$$-$(date +%s%N)"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export PYTHONDONTWRITEBYTECODE=1 PYTHONUNBUFFERED=1

# Ends, by pid, every process that carries this run's id, except this shell.
# Reads /proc with bash built-ins only, so the scan never finds itself.
run_pids() {
  local env_file pid entry
  for env_file in /proc/[0-9]*/environ; do
    pid=${env_file#/proc/}
    pid=${pid%/environ}
    [[ "$pid" == "$$" ]] && continue
    {
      while IFS= read -r -d '' entry; do
        if [[ "$entry" == "E2E_RUN_ID=$E2E_RUN_ID" ]]; then
          echo "$pid"
          break
        fi
      done <"$env_file"
    } 2>/dev/null
  done
}
sweep() {
  local round pids
  for round in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    mapfile -t pids < <(run_pids)
    [[ ${#pids[@]} -eq 0 ]] && return 0
    if [[ $round -le 10 ]]; then
      kill -TERM "${pids[@]}" 2>/dev/null
    else
      kill -KILL "${pids[@]}" 2>/dev/null
    fi
    sleep 0.2
  done
  echo "run_e2e: some processes of this run would not end: ${pids[*]}" >&2
}

child=""
on_signal() {
  [[ -n "$child" ]] && kill -TERM "$child" 2>/dev/null
  sweep
  exit "$1"
}
trap 'on_signal 143' TERM
trap 'on_signal 130' INT
trap sweep EXIT

# dbus-run-session prints a harmless "Failed to set fd limit" line as root.
dbus-run-session -- bash "$here/run_e2e.sh" --inner "$test_file" "$@" &
child=$!
wait "$child"
rc=$?
exit "$rc"
