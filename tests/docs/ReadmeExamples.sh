#!/usr/bin/env bash
# Runs the shell sessions of README.md with the built zarvo and checks that
# they print exactly what the README shows. A session is a fenced block whose
# first line starts with "$ ": every "$ " line is a command, the lines after
# it up to the next one are what it prints (standard error included). Each
# session runs in one shell, in an empty folder, with the clock stopped at
# the examples' date, Sunday, December 31, 2006, 16:12:13 UTC.
#
# Usage: tests/docs/ReadmeExamples.sh ZARVO README.md
set -uo pipefail

zarvo=$(realpath "$1")
readme=$2
command -v faketime >/dev/null || { echo "FAIL: faketime is missing (package faketime)"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/zarvo-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$zarvo" "$work/bin/zarvo"

# One file per session: session.1, session.2, ...
awk -v dir="$work" '
  /^```/ { if (open) { open = 0; if (file != "") close(file); file = "" } else { open = first = 1 }; next }
  open && first { first = 0; if (/^\$ /) file = dir "/session." ++n }
  file != "" { print > file }
' "$readme"

sessions=0 failures=0
for expected in "$work"/session.*; do
  [ -f "$expected" ] || continue
  sessions=$((sessions + 1))
  # Each command echoes its own line, then runs with stderr on stdout.
  while IFS= read -r line; do
    [[ $line == '$ '* ]] || continue
    printf 'printf "%%s\\n" %q\n{\n%s\n} 2>&1\n' "$line" "${line#\$ }"
  done <"$expected" >"$expected.sh"
  mkdir "$expected.dir"
  (cd "$expected.dir" && env -i PATH="$work/bin:/usr/bin:/bin" HOME="$expected.dir" \
    TZ=UTC LC_ALL=C FAKETIME_DONT_FAKE_MONOTONIC=1 ASAN_OPTIONS=verify_asan_link_order=0 \
    timeout 60 faketime -f '2006-12-31 16:12:13' bash "$expected.sh" </dev/null >"$expected.out")
  if ! diff -u --label "README.md: $(head -n 1 "$expected")" --label "printed" \
      "$expected" "$expected.out"; then
    failures=$((failures + 1))
  fi
done
echo "$sessions sessions run, $failures differ"
[ "$sessions" -gt 0 ] && [ "$failures" -eq 0 ]
