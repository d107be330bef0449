# service_control.sh: sourced by demo.sh and demo_pages.sh. The state of
# CamTovraService in the prefix of $WINEPREFIX, through $WINE; fail() is the
# caller's.
#
# Wine's sc prints its refusals (with their Win32 error) only on its "err"
# debug channel: every call here turns that channel on, so a refusal is shown
# as the service control manager gave it.

# Runs `sc "$@"`; its output and its refusal on stdout, its exit code as ours.
sc_answer() {
  WINEDEBUG=-all,err+sc "$WINE" sc "$@" 2>&1 | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# The Win32 error of a refusal in sc's answer $1, empty when it names none.
sc_error() {
  sed -n 's/.*err:sc:.*failed to [a-z ]* \([0-9][0-9]*\)$/\1/p' <<<"$1" | tail -n1
}

# The service's state (RUNNING, STOPPED, ...); empty when it is not installed;
# UNKNOWN when the query gave no state and no "not installed" (1060) either,
# for instance when sc itself did not start.
state() {
  local answer
  answer="$(sc_answer query CamTovraService)" || true
  local current
  current="$(awk '/STATE/ {print $4}' <<<"$answer")"
  if [ -n "$current" ]; then
    echo "$current"
  elif [ "$(sc_error "$answer")" != 1060 ]; then
    echo UNKNOWN
  fi
}

# The state line and the exit code of the service, as sc query gives them.
state_detail() {
  local answer
  answer="$(sc_answer query CamTovraService)" || true
  awk '/STATE|WIN32_EXIT_CODE|CHECKPOINT|WAIT_HINT/ {$1 = $1; printf "%s%s", sep, $0; sep = ", "}' <<<"$answer"
  [ -n "$answer" ] || printf 'sc query printed nothing'
}

# Waits until the service is in state $1 (RUNNING, STOPPED) or not installed
# when $1 is STOPPED; at most 30 s.
wait_for_state() {
  local current=
  for _ in $(seq 1 300); do
    current="$(state)"
    if [ "$current" = "$1" ] || { [ "$1" = STOPPED ] && [ -z "$current" ]; }; then
      return 0
    fi
    sleep 0.1
  done
  fail "CamTovraService did not reach $1 (state: ${current:-not installed}; $(state_detail))"
}

# The state, asked again (at most five times, each said) while sc gives none.
known_state() {
  local current
  for try in 1 2 3 4 5; do
    current="$(state)"
    [ "$current" != UNKNOWN ] && break
    echo "service_control: sc query gave no state (try $try): $(state_detail)" >&2
  done
  echo "$current"
}

# A registered service starts with the prefix: stop whatever runs first. A
# running service takes a stop; a refusal fails with what sc answered.
stop_service() {
  local current
  current="$(known_state)"
  [ "$current" != UNKNOWN ] || fail "the state of CamTovraService cannot be queried"
  if [ "$current" = RUNNING ] || [ "$current" = START_PENDING ]; then
    wait_for_state RUNNING
    local answer status=0
    answer="$(sc_answer stop CamTovraService)" || status=$?
    if [ "$status" -ne 0 ]; then
      local error
      error="$(sc_error "$answer")"
      fail "sc stop CamTovraService failed (exit code $status, error ${error:-none given}: ${answer:-no output};" \
           "just after: $(state_detail))"
    fi
  fi
  wait_for_state STOPPED
}

# A service of automatic start may run already (1056): that is taken as started.
start_service() {
  local answer status=0
  answer="$(sc_answer start CamTovraService)" || status=$?
  local error
  error="$(sc_error "$answer")"
  if [ "$status" -ne 0 ] && [ "$error" != 1056 ]; then
    fail "sc start CamTovraService failed (exit code $status, error ${error:-none given}: ${answer:-no output};" \
         "just after: $(state_detail))"
  fi
  wait_for_state RUNNING
}
