# Shared helpers of the demo chapters (sourced, not run).

demo_pids=()

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
note() { printf '   %s\n' "$*"; }

# Remembers a process so that the demo ends it, whatever happens.
demo_track() { demo_pids+=("$1"); }

demo_cleanup() {
  local pid
  for pid in "${demo_pids[@]:-}"; do
    [ -n "$pid" ] || continue
    kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
  done
  sleep 0.3
  for pid in "${demo_pids[@]:-}"; do
    [ -n "$pid" ] || continue
    kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
  done
  # Processes started from inside the demo's bundle (host apps opened by the launcher).
  if [ -n "${DEMO_ROOT:-}" ]; then
    pkill -KILL -f "$DEMO_ROOT/" 2>/dev/null || true
  fi
  if [ -n "${DEMO_BUS_PID:-}" ]; then kill "$DEMO_BUS_PID" 2>/dev/null || true; fi
  if [ -n "${DEMO_ROOT:-}" ] && [ -z "${DEMO_KEEP:-}" ]; then rm -rf "$DEMO_ROOT"; fi
}

demo_begin() {
  DEMO_ROOT=$(mktemp -d /tmp/quorvel-demo-XXXXXX)
  export DEMO_ROOT
  export HOME="$DEMO_ROOT/home"
  export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache"
  mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
  export QUORVEL_LOG=stderr
  trap demo_cleanup EXIT
  trap 'exit 130' INT TERM
  local bus
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null)
  export DBUS_SESSION_BUS_ADDRESS=$(printf '%s\n' "$bus" | sed -n 1p)
  DEMO_BUS_PID=$(printf '%s\n' "$bus" | sed -n 2p)
  say "Quorvel shell bridge demo"
  note "temporary HOME: $HOME"
  note "private session bus: $DBUS_SESSION_BUS_ADDRESS"
}

demo_end() {
  say "Demo finished; every process it started is being ended."
}

# Filters for the chapters' pipelines. Under pipefail a pipeline fails when any stage does: grep
# fails when nothing matches, and head closes the pipe early, so that the stage before it dies of
# SIGPIPE once its output outgrows what head reads. These read all their input and never fail.
#   first_lines N           at most N lines of standard input
#   lines_matching ERE [FILE...]  the lines that match the extended regular expression
first_lines() { awk -v n="$1" 'NR <= n'; }
lines_matching() { local pattern=$1; shift; awk -v re="$pattern" '$0 ~ re' "$@" 2>/dev/null || true; }

# Waits until a command succeeds, for at most N seconds (fractions allowed).
wait_for() {
  local timeout=$1; shift
  local deadline=$(( $(date +%s%N) + ${timeout%.*} * 1000000000 ))
  until "$@"; do
    if [ "$(date +%s%N)" -ge "$deadline" ]; then return 1; fi
    sleep 0.05
  done
}
