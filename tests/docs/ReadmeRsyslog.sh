#!/usr/bin/env bash
# Runs the rsyslog recipe of README.md ("Shipping the log with rsyslog") with
# the real daemon. The configuration between <!-- rsyslog-recipe --> and
# <!-- /rsyslog-recipe --> is taken as it stands, with only the log's path,
# the server's name and its port changed, and run by a private rsyslogd
# (its own configuration, work folder and pid file in a temporary folder).
# A second private rsyslogd on 127.0.0.1 is the central server: it takes TCP
# and writes what it receives to a file.
#
# zarvo writes 100 numbered entries. The log is renamed after the 25th, as
# logrotate's create does (zarvo starts the new file); once the first 50
# have arrived the server is stopped, the other 50 are written (the last
# two as one /F entry of two lines), and the server is started again on the
# same port. Every entry must then arrive exactly once, as a message of its
# own and without a carriage return. Both daemons are stopped by their pid.
# Every wait polls for its event and gives up after 60 s.
#
# Usage: tests/docs/ReadmeRsyslog.sh ZARVO README.md
# Exit codes: 0 passed, 1 failed, 77 skipped (no rsyslogd).
set -uo pipefail

zarvo=$(realpath "$1")
readme=$(realpath "$2")
# rsyslogd is in /usr/sbin, which the PATH of a user often leaves out.
rsyslogd=$(PATH=$PATH:/usr/sbin:/sbin command -v rsyslogd) ||
  { echo "SKIP: rsyslogd is missing (Debian package rsyslog)"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvo-rsyslog.XXXXXX")
mkdir "$work/client" "$work/server"
log=$work/backup.log
received=$work/received.log
client_pid= server_pid=

# ------------------------------------------------------------- the daemons
# True while process PID runs. A zombie has ended: it only waits for this
# shell to collect its status.
running() {
  [ -n "$1" ] && [ -e "/proc/$1" ] &&
    [ "$(sed 's/^.*) \(.\).*/\1/' "/proc/$1/stat" 2>/dev/null)" != Z ]
}

# Stops the daemon of pid PID with SIGTERM and waits for it to end (SIGKILL
# after 60 s). Fails when it had to be killed.
stop() {
  local pid=$1 name=$2 deadline=$((SECONDS + 60))
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null
  while running "$pid"; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      kill -KILL "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
      echo "FAIL: the $name rsyslogd (pid $pid) did not end within 60 s of SIGTERM" >&2
      return 1
    fi
    sleep 0.1
  done
  wait "$pid" 2>/dev/null
  return 0
}

cleanup() {
  stop "$client_pid" client >/dev/null 2>&1
  stop "$server_pid" server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# What the two daemons said, and what arrived: for the report of a failure.
report() {
  local file
  for file in "$work"/client/out "$work"/client/rsyslog.log "$work"/server/out "$received"; do
    [ -s "$file" ] || continue
    echo "--- ${file#"$work"/}:" >&2
    tail -n 20 "$file" | cat -A >&2
  done
}
fail() {
  echo "FAIL: $*" >&2
  report
  exit 1
}

# Starts rsyslogd in the foreground (-n), in the background of this shell,
# with the configuration and pid file of folder NAME; sets NAME_pid. Its
# pid file needs a full path: rsyslogd works in /.
start() {
  local name=$1
  "$rsyslogd" -n -f "$work/$name/rsyslog.conf" -i "$work/$name/pid" \
    >>"$work/$name/out" 2>&1 </dev/null &
  printf -v "${name}_pid" %s "$!"
}

# Waits until the command given after WHAT succeeds, for at most 60 s.
wait_for() {
  local what=$1 deadline=$((SECONDS + 60))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "no $what within 60 s"
    sleep 0.1
  done
}

# The central server: TCP on 127.0.0.1, each message as its tag and text.
# Port 0 lets the system choose a free port, which rsyslogd writes to the
# file "port" once it listens; the second start takes the same port again.
server_config() {
  cat >"$work/server/rsyslog.conf" <<EOF
global(workDirectory="$work/server")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="$1" ruleset="received"
      listenPortFileName="$work/server/port")
template(name="received" type="string" string="%syslogtag%%msg%\\n")
ruleset(name="received") {
  action(type="omfile" file="$received" template="received")
}
EOF
}
server_config 0
start server
wait_for "port from the server" test -s "$work/server/port"
port=$(cat "$work/server/port")
case "$port" in '' | *[!0-9]*) fail "the server wrote '$port' as its port" ;; esac

# ------------------------------------------- the client: the README's recipe
sed -n '/^<!-- rsyslog-recipe -->$/,/^<!-- \/rsyslog-recipe -->$/p' "$readme" |
  sed '/^<!--/d; /^```/d' >"$work/recipe.conf"
[ -s "$work/recipe.conf" ] || fail "README.md has no <!-- rsyslog-recipe --> block"
# Only the machine-specific names change, and each must be there to change.
for name in 'file="/var/log/backup.log"' 'target="logs.example.com"' 'port="514"'; do
  grep -qF "$name" "$work/recipe.conf" || fail "the recipe in README.md has no $name"
done
sed -e "s|/var/log/backup.log|$log|g" -e 's|"logs\.example\.com"|"127.0.0.1"|g' \
  -e "s|port=\"514\"|port=\"$port\"|g" "$work/recipe.conf" >"$work/client/recipe.conf"
# rsyslogd's own messages go to a file of their own (the recipe's input has
# its own ruleset, so no entry lands there).
cat >"$work/client/rsyslog.conf" <<EOF
global(workDirectory="$work/client")
*.* action(type="omfile" file="$work/client/rsyslog.log")
include(file="$work/client/recipe.conf")
EOF
"$rsyslogd" -N1 -f "$work/client/rsyslog.conf" >"$work/client/out" 2>&1 ||
  fail "rsyslogd refuses the recipe of README.md: $(grep -v 'version\|End of config' "$work/client/out")"
start client

# ------------------------------------------------------------- the entries
lines() { [ -f "$received" ] && wc -l <"$received" || echo 0; }
# Waits until N lines have arrived at the server, for at most 60 s.
wait_arrived() {
  local n=$1 deadline=$((SECONDS + 60))
  until [ "$(lines)" -ge "$n" ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$(lines) of $n entries arrived $2 within 60 s"
    sleep 0.1
  done
}
entry() { ZARVO_LOG=$log "$zarvo" /LO "$@" || fail "zarvo /LO $* ended with $?"; }

for i in $(seq 1 50); do
  entry "entry $i"
  # Rotated as logrotate's create does; zarvo creates the new file.
  [ "$i" -ne 25 ] || mv "$log" "$log.1" || fail "cannot rename the log"
done
wait_arrived 50 "across the rotation"

# The server goes down; the client must keep what comes meanwhile.
stop "$server_pid" server || fail "the server did not stop"
server_pid=
for i in $(seq 51 98); do entry "entry $i"; done
entry /F 'entry 99\nentry 100'
server_config "$port"
start server
wait_arrived 100 "once the server was back"

# ------------------------------------------------------------- the checks
for i in $(seq 1 100); do echo "backup: entry $i"; done | sort >"$work/expected"
sort "$received" >"$work/sorted"
echo "entries written: 100, arrived: $(lines)"
status=0
if ! cmp -s "$work/expected" "$work/sorted"; then
  status=1
  echo "FAIL: the server did not get each entry once, as written" >&2
  missing=$(comm -23 "$work/expected" "$work/sorted" | sed 's/^backup: entry //' | tr '\n' ' ')
  [ -z "$missing" ] || echo "  lost: $missing" >&2
  extra=$(comm -13 "$work/expected" "$work/sorted" | head -n 5 | cat -A)
  [ -z "$extra" ] || echo "  unexpected or repeated (first 5, cat -A):"$'\n'"$extra" >&2
fi
if grep -q $'\r\|#015' "$received"; then
  status=1
  echo "FAIL: $(grep -c $'\r\|#015' "$received") messages arrived with a carriage return" >&2
fi

stop "$client_pid" client || status=1
client_pid=
stop "$server_pid" server || status=1
server_pid=
[ "$status" -eq 0 ] || { report; exit 1; }
echo "PASS: 100 entries, each once and without CR, across a rotation and a stopped server"
