# service_control.sh: sourced by demo.sh and demo_pages.sh. The state of
# CamTovraService in the prefix of $WINEPREFIX, through $WINE; fail() is the
# caller's.

# The service's state (RUNNING, STOPPED, ...), empty when it is not installed.
state() {
  { "$WINE" sc query CamTovraService 2>/dev/null || true; } | tr -d '\r' | awk '/STATE/ {print $4}'
}

# Waits until the service is in state $1 (RUNNING, STOPPED) or not installed
# when $1 is STOPPED; at most 30 s.
wait_for_state() {
  for _ in $(seq 1 300); do
    current="$(state)"
    if [ "$current" = "$1" ] || { [ "$1" = STOPPED ] && [ -z "$current" ]; }; then
      return 0
    fi
    sleep 0.1
  done
  fail "CamTovraService did not reach $1 (state: ${current:-not installed})"
}

# A registered service starts with the prefix: stop whatever runs first.
stop_service() {
  if [ "$(state)" = RUNNING ] || [ "$(state)" = START_PENDING ]; then
    wait_for_state RUNNING
    "$WINE" sc stop CamTovraService >/dev/null || fail "sc stop CamTovraService failed"
  fi
  wait_for_state STOPPED
}

start_service() {
  "$WINE" sc start CamTovraService >/dev/null || fail "sc start CamTovraService failed"
  wait_for_state RUNNING
}
