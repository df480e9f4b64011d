#!/usr/bin/env bash
# The smoke set of one release download, taken as a user takes it: unpacked
# into a fresh folder, its program run from there. The help screen byte for
# byte, a logged entry's bytes, an /E: exit code, and /F with date types
# against the system's own clock. The Linux programs must be fully static;
# the x86-64 one runs a second time in an empty environment, the 64-bit ARM
# one under qemu-user, zarvo.exe under Wine. For the .deb, the files are
# unpacked with dpkg-deb (no installing: the package test does that) and
# checked with lintian and hardening-check. An .rpm is checked with rpmlint,
# installed with rpm into an empty RPM database under a folder of its own
# (rpm --root), run from there, and removed again with rpm -e, which must
# leave nothing of it.
#
# Usage: tests/package/DownloadTest.sh FILE
#   FILE: zarvo_*.deb, zarvo-*-linux-x86_64.tar.gz,
#         zarvo-*-linux-aarch64.tar.gz, zarvo-*-windows-x86_64.zip or
#         zarvo-*-1.x86_64.rpm, zarvo-*-1.aarch64.rpm
# Exit code 0 when every check passes, 1 otherwise.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
file=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
name=$(basename "$file")
failures=0
fail() {
  echo "FAIL: $name: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvo-download.XXXXXX")
wine_state=
cleanup() {
  [ -n "$wine_state" ] && "$root/tests/windows/wine-run" --cleanup "$wine_state"
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

# ------------------------------------------------ unpack, look at the files
runner=()

# The program at $bin is fully static and of the download's processor; the
# 64-bit ARM one then runs under qemu-user.
static_program() {
  local described
  described=$(file -b "$bin")
  case "$described" in
    *"statically linked"* | *"static-pie linked"*) ;;
    *) fail "zarvo is not fully static: $described" ;;
  esac
  case "$described" in
    *interpreter* | *"dynamically linked"*) fail "zarvo needs a loader: $described" ;;
  esac
  case "$name" in
    *aarch64*)
      [[ $described == *"ARM aarch64"* ]] || fail "zarvo is not a 64-bit ARM program: $described"
      runner=(qemu-aarch64)
      ;;
    *) [[ $described == *x86-64* ]] || fail "zarvo is not an x86-64 program: $described" ;;
  esac
}

# rpm on the folder that an .rpm is installed into, with the database where
# RPM distributions keep it (Debian's rpm would use ~/.rpmdb in there).
# Debian's rpm says on standard error that dpkg owns this system: that goes
# to rpm.log, which a failure shows.
rpm_root() { rpm --root "$work/root" --dbpath /var/lib/rpm "$@" 2>>rpm.log; }

# The .rpm as an administrator takes it: its tags, its files, rpmlint with
# the project's settings and filters, then rpm -i into an empty database.
# Sets $bin to the installed program.
rpm_check() {
  local arch=${name%.rpm}
  arch=${arch##*.}
  local version=${name#zarvo-}
  version=${version%%-*}
  local tags
  tags=$(rpm -qp --qf '%{NAME} %{VERSION}-%{RELEASE} %{ARCH}|%{LICENSE}|%{URL}|%{BUILDHOST}\n' "$file" 2>/dev/null)
  [ "$tags" = "zarvo $version-1 $arch|MIT|https://zarvo.dev/|reproducible" ] ||
    fail "the package's tags are '$tags'"
  rpm -qp --changelog "$file" 2>/dev/null | head -n 1 | grep -q -- "> - $version-1\$" ||
    fail "the changelog's newest entry is not $version-1: $(rpm -qp --changelog "$file" 2>&1 | head -n 1)"
  # Nothing to require but what rpm itself provides.
  local requires
  requires=$(rpm -qp --requires "$file" 2>/dev/null | grep -v '^rpmlib(')
  [ -z "$requires" ] || fail "the package requires: $requires"
  # Exactly the program, its manual page, README and licence, and the two
  # folders that hold the last two.
  rpm -qlp "$file" 2>/dev/null >files.txt
  printf '%s\n' /usr/bin/zarvo /usr/share/doc/zarvo /usr/share/doc/zarvo/README.md \
    /usr/share/licenses/zarvo /usr/share/licenses/zarvo/LICENSE \
    /usr/share/man/man1/zarvo.1.gz >files.expected
  cmp -s files.expected files.txt ||
    fail "rpm -qlp lists other files: $(diff files.expected files.txt | grep '^[<>]' | tr '\n' ' ')"
  if ! rpmlint -c "$root/cmake/rpm/rpmlint.toml" -r "$root/cmake/rpm/zarvo.rpmlintrc" \
      "$file" >rpmlint.log 2>&1; then
    fail "rpmlint: $(grep -E '^zarvo|checked;|rror' rpmlint.log)"
  fi

  # Installed into an empty database: no --nodeps (every requirement is
  # rpm's own), and --ignorearch only for the other processor's package.
  local foreign=()
  [ "$arch" = "$(uname -m)" ] || foreign=(--ignorearch)
  mkdir root
  rpm_root --initdb || { fail "rpm --initdb: $(cat rpm.log)"; exit 1; }
  rpm_root -i "${foreign[@]}" "$file" || { fail "rpm -i: $(cat rpm.log)"; exit 1; }
  [ "$(rpm_root -q zarvo)" = "zarvo-$version-1.$arch" ] || fail "rpm -q zarvo: $(rpm_root -q zarvo)"
  bin=$work/root/usr/bin/zarvo
  # The manual page is where man looks under the root's /usr/share/man, and
  # it renders.
  local page=$work/root/usr/share/man/man1/zarvo.1.gz
  [ "$(man -M "$work/root/usr/share/man" -w zarvo 2>&1)" = "$page" ] ||
    fail "man -w zarvo gave '$(man -M "$work/root/usr/share/man" -w zarvo 2>&1)'"
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q 'ZARVO_LOG' || fail "man does not render $page"
}

# rpm -e removes every file and folder of the package: only the database and
# the folders that the package shares with the system (/usr/bin, ...) stay.
rpm_remove() {
  rpm_root -e zarvo || fail "rpm -e zarvo: $(cat rpm.log)"
  if rpm_root -q zarvo >/dev/null; then fail "zarvo is still installed after rpm -e"; fi
  local left
  left=$(cd root && find . ! -type d ! -path './var/lib/rpm/*'; find . -type d -name zarvo)
  [ -z "$left" ] || fail "rpm -e left: $(echo "$left" | tr '\n' ' ')"
}
line_end=$'\n'
# Bytes above 127 in the message, where the command line carries them as
# they are (Wine turns them into the ANSI code page).
message=$'Build caf\xc3\xa9 \xff done'
case "$name" in
  *.deb)
    dpkg-deb -x "$file" unpacked || exit 1
    bin=$work/unpacked/usr/bin/zarvo
    # As a distribution checks a package (see PackageTest.sh).
    lintian --fail-on error,warning "$file" >lintian.log 2>&1 ||
      fail "lintian: $(grep -v 'running with root privileges' lintian.log)"
    hardening-check --nocfprotection "$bin" >hardening.log 2>&1 ||
      fail "hardening-check: $(cat hardening.log)"
    ;;
  *-linux-x86_64.tar.gz | *-linux-aarch64.tar.gz)
    tar -xzf "$file" || exit 1
    folder=${name%.tar.gz}
    bin=$work/$folder/zarvo
    [ "$(cd "$folder" && ls -A | tr '\n' ' ')" = "LICENSE README.md zarvo zarvo.1 " ] ||
      fail "the archive holds: $(cd "$folder" && ls -A | tr '\n' ' ')"
    static_program
    ;;
  *.x86_64.rpm | *.aarch64.rpm)
    rpm_check
    static_program
    ;;
  *-windows-x86_64.zip)
    # CMake's tar reads zip files too: no unzip needed.
    cmake -E tar xf "$file" || exit 1
    folder=${name%.zip}
    bin=$work/$folder/zarvo.exe
    [ "$(cd "$folder" && ls -A | tr '\n' ' ')" = "LICENSE.txt README.txt zarvo.exe zarvo.txt " ] ||
      fail "the archive holds: $(cd "$folder" && ls -A | tr '\n' ' ')"
    grep -q $'\r$' "$folder/README.txt" || fail "README.txt does not end its lines with CR LF"
    grep -q 'ZARVO_LOG' "$folder/zarvo.txt" || fail "zarvo.txt is not the manual"
    if grep -q $'\b' "$folder/zarvo.txt"; then fail "zarvo.txt holds overstrikes"; fi
    dlls=$(x86_64-w64-mingw32-objdump -p "$bin" | sed -n 's/^\tDLL Name: //p' | sort | tr '\n' ' ')
    [ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || fail "zarvo.exe imports $dlls"
    # The stack protector's failure report is in only when its check is.
    grep -aq 'stack smashing detected' "$bin" || fail "zarvo.exe has no stack protector"
    # The application manifest, as resource 1 of type 24 (RT_MANIFEST).
    x86_64-w64-mingw32-windres -i "$bin" -O rc 2>/dev/null | grep -A40 '^1 24 ' |
      grep -q 'longPathAware[^>]*>true<' || fail "zarvo.exe has no manifest naming longPathAware"
    wine_state=$work/wine.state
    "$root/tests/windows/wine-run" --setup "$wine_state" >/dev/null || exit 1
    export ZARVO_WINE_STATE=$wine_state
    runner=("$root/tests/windows/wine-run")
    line_end=$'\r\n'
    message="Build 42 done"
    ;;
  *)
    echo "DownloadTest.sh: which download is $name?" >&2
    exit 1
    ;;
esac
[ -x "$bin" ] || { fail "no program at ${bin#"$work"/}"; exit 1; }

# ------------------------------------------------------------ the smoke set
# Each run starts the program in its own folder, under the env command
# line given before "--", with stdout to out.txt.
run() {
  local env_args=()
  while [ "$1" != -- ]; do env_args+=("$1"); shift; done
  shift
  (cd "$(dirname "$bin")" && "${env_args[@]}" "${runner[@]}" "$bin" "$@" </dev/null >"$work/out.txt" 2>"$work/err.txt")
}

# The bytes of a file as hex, for messages and comparisons.
hex() { od -An -tx1 -v "$1" | tr -d ' \n'; }

smoke() {
  local label=$1
  shift
  local envs=("$@")

  # The help screen, byte for byte (a console program's line ends).
  run "${envs[@]}" -- '/?'
  local status=$?
  [ "$status" -eq 0 ] || fail "$label: /? ended with $status"
  sed "s/\$/${line_end%$'\n'}/" "$root/tests/windows/expected/usage.txt" >help.expected
  cmp -s help.expected out.txt || fail "$label: the help screen differs: $(diff <(cat -A help.expected) <(cat -A out.txt) | head -n 6)"

  # A logged entry: shown as typed, stored with CR LF; /F turns \t and \n.
  # The log's name is relative to the program's folder, for Wine's sake.
  local log
  log=$(dirname "$bin")/run.log
  rm -f "$log"
  run "${envs[@]}" ZARVO_LOG=run.log -- "$message"
  printf '%s%s' "$message" "$line_end" >expected.out
  cmp -s expected.out out.txt || fail "$label: the message shows as $(hex out.txt)"
  run "${envs[@]}" ZARVO_LOG=run.log -- /LO /F "$message"'\tb\nc'
  [ ! -s out.txt ] || fail "$label: /LO showed $(hex out.txt)"
  printf '%s\r\n%s\tb\r\nc\r\n' "$message" "$message" >expected.log
  [ -f "$log" ] && cmp -s expected.log "$log" ||
    fail "$label: the log holds $(hex "$log" 2>/dev/null), not $(hex expected.log)"
  rm -f "$log"

  # An exit code of /E:.
  run "${envs[@]}" -- "last step" /E:7
  status=$?
  [ "$status" -eq 7 ] || fail "$label: /E:7 ended with $status"

  # /F with date types against the clock of date(1), read before and after
  # (a run across midnight matches one of the two). English names always.
  local before after
  before=$("${envs[@]}" LC_ALL=C date '+%Y-%m-%d|%A, %B %d, %Y|%Y%m%d')
  run "${envs[@]}" -- /F '%6d|%1d|%9d'
  after=$("${envs[@]}" LC_ALL=C date '+%Y-%m-%d|%A, %B %d, %Y|%Y%m%d')
  local shown
  shown=$(cat out.txt)
  shown=${shown%$'\r'}
  [ "$shown" = "$before" ] || [ "$shown" = "$after" ] ||
    fail "$label: /F '%6d|%1d|%9d' gave '$shown', the clock says '$after'"
}

case "$name" in
  *.rpm) smoke "as installed" env ;;
  *) smoke "as unpacked" env ;;
esac
case "$name" in
  *.rpm) rpm_remove ;;
  *-linux-x86_64.tar.gz)
    smoke "env -i" env -i
    # No locale data at all (LOCPATH names an empty folder) and a German
    # locale asked for: the names stay English.
    mkdir -p no-locales
    smoke "no locale files" env -i LOCPATH="$work/no-locales" LC_ALL=de_DE.UTF-8
    ;;
esac

if [ "$failures" -gt 0 ]; then
  echo "$name: $failures check(s) failed" >&2
  exit 1
fi
echo "PASS: $name"
