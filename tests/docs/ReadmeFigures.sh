#!/usr/bin/env bash
# Checks the figures that README.md gives of the installed program against
# the built one: its size once stripped, the C library functions it binds,
# the newest glibc version it needs, its stack clash probes, and the number
# of memcheck tests registered. Prints every figure as README.md gives it
# and as this build has it, so that the text can be brought up to date.
#
# Usage: tests/docs/ReadmeFigures.sh ZARVO SOURCE_DIR STRIP BUILD
#   BUILD: "COMPILER_ID COMPILER_VERSION BUILD_TYPE PROCESSOR HARDEN STATIC
#   SANITIZED", as CMake describes this build.
# Exit codes: 0 every figure holds, 1 one differs, 77 skipped: the figures
# describe GCC's hardened, dynamic Release build for x86-64 of the version
# that README.md names, and this build is another.
set -uo pipefail

zarvo=$1
source=$2
strip=$3
read -r compiler version type processor harden static sanitized <<<"$4"
readme=$source/README.md

# What PATTERN matches in README.md, read as one line with single blanks
# (a figure may stand at a line break); "" unless it matches exactly once.
said() {
  local found
  found=$(tr -s '\n ' '  ' <"$readme" | grep -oP "$1")
  [ "$(printf '%s\n' "$found" | grep -c .)" -eq 1 ] && printf '%s\n' "$found"
}

gcc_major=$(said "are those of GCC \K[0-9]+(?='s release build for x86-64)")
this="$compiler $version $type build for $processor (hardening $harden, static $static, sanitizers $sanitized)"
if [ "$compiler $type $processor $harden $static $sanitized" != "GNU Release x86_64 ON OFF OFF" ] ||
   [ "${version%%.*}" != "$gcc_major" ]; then
  echo "SKIP: README.md's figures are those of GCC ${gcc_major:-?}'s release build for x86-64; this is the $this"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvo-figures.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Installed as "cmake --install --strip" and the package leave it.
cp "$zarvo" "$work/zarvo" && "$strip" "$work/zarvo" || { echo "FAIL: cannot strip a copy of $zarvo"; exit 1; }

bytes=$(stat -c %s "$work/zarvo")
functions=$(nm -D --undefined-only "$work/zarvo" | grep -c '@GLIBC_')
glibc=$(objdump -T "$work/zarvo" | grep -oP 'GLIBC_\K[0-9.]+' | sort -V | tail -n 1)
probes=$(objdump -d -M intel "$zarvo" | grep -c 'or     QWORD PTR \[rsp\],0x0')
probed=$(objdump -d -M intel "$zarvo" | awk '/^[0-9a-f]+ <.*>:$/ { name = $1 }
  /or +QWORD PTR \[rsp\],0x0/ { seen[name] = 1 } END { print length(seen) }')
memchecks=$(grep -c '^zarvo_memcheck(' "$source/tests/valgrind/CMakeLists.txt")

failures=0
# check WHAT README_VALUE BUILD_VALUE
check() {
  if [ "$2" = "$3" ]; then
    printf 'ok    %-40s %s\n' "$1" "$3"
  else
    printf 'FAIL  %-40s README.md says %s, this build has %s\n' "$1" "${2:-nothing}" "$3"
    failures=$((failures + 1))
  fi
}

echo "figures of the $this; stripped: $bytes bytes"
check "installed size, KiB" "$(said 'The installed program is \K[0-9]+(?= KiB)')" \
  "$(((bytes + 512) / 1024))"
check "C library functions bound at start" "$(said 'binding its \K[0-9]+(?= C library functions)')" \
  "$functions"
check "newest glibc version needed" "$(said 'glibc \K[0-9.]+[0-9](?= or newer)')" "$glibc"
check "stack clash probes" "$(said 'zarvo has \K[0-9]+(?= stack clash probes)')" "$probes"
check "functions with stack clash probes" "$(said 'stack clash probes in \K[0-9]+(?= functions)')" \
  "$probed"
check "memcheck tests" "$(said 'register \K[0-9]+(?= `memcheck_\*` tests)')" "$memchecks"
[ "$failures" -eq 0 ] || echo "$failures figure(s) of README.md differ from this build: update the text"
[ "$failures" -eq 0 ]
