#!/usr/bin/env bash
# Builds the Debian package of a release build with CPack, checks it as a
# distribution would (lintian: no error, no warning; hardening-check on the
# program), installs it with dpkg, runs the installed program, finds its
# manual page, removes the package and checks that nothing of it is left.
#
# Usage: tests/package/PackageTest.sh BUILD_DIR [COMPILER_ID]
#   COMPILER_ID: CMake's id of the compiler that built BUILD_DIR (GNU, Clang);
#   fortified calls are checked for GCC builds only (see the check below).
# Exit codes: 0 passed, 1 failed, 77 skipped (not root, no dpkg, or a zarvo
# that this test did not install is already on the system).
#
# The package is installed into the running system, so the test guards it:
# it refuses to run over an existing zarvo, holds a lock so that two runs do
# not meet, and removes its package on every way out, failure included.
set -uo pipefail

build=${1:?usage: PackageTest.sh BUILD_DIR [COMPILER_ID]}
compiler=${2:-GNU}
build=$(cd "$build" && pwd)
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
skip() {
  echo "SKIP: $*"
  exit 77
}

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
for tool in dpkg dpkg-deb cpack flock; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
# The checkers are part of the test: without them it fails, never passes.
command -v lintian >/dev/null || { echo "FAIL: lintian is missing (apt-get install lintian)" >&2; exit 1; }
command -v hardening-check >/dev/null || { echo "FAIL: hardening-check is missing (apt-get install devscripts)" >&2; exit 1; }
[ -f "$build/CPackConfig.cmake" ] || { echo "no CPackConfig.cmake in $build" >&2; exit 1; }

# One run at a time on this machine. A second run waits for the lock: on a
# busy machine a run of another clone can hold it for minutes, so the wait
# gives up only shortly before ctest would end the test.
exec 9>/tmp/zarvo-package-test.lock
flock -w 1200 9 || { echo "another package test has held the lock for 20 minutes" >&2; exit 1; }

# Never disturb a zarvo that someone else installed.
if dpkg-query -W -f='${Status}' zarvo 2>/dev/null | grep -q 'installed'; then
  skip "a zarvo package is already installed"
fi
for path in /usr/bin/zarvo /usr/share/man/man1/zarvo.1.gz /usr/share/man/man1/zarvo.1; do
  [ ! -e "$path" ] || skip "$path already exists"
done

work=$(mktemp -d /tmp/zarvo-package-test.XXXXXX)
installed=0
cleanup() {
  if [ "$installed" = 1 ] || dpkg-query -W -f='${Status}' zarvo 2>/dev/null | grep -q 'installed'; then
    dpkg --purge zarvo >/dev/null 2>&1 || echo "could not remove zarvo: run dpkg --purge zarvo" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# ---------------------------------------------------------------- build it
if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack -G DEB" >&2
  exit 1
fi
debs=("$work"/out/zarvo_*.deb)
[ -f "${debs[0]}" ] || { echo "FAIL: no zarvo_*.deb in $work/out" >&2; exit 1; }
deb=${debs[0]}
echo "built $(basename "$deb")"

# The control fields and the files that the package carries.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zarvo ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
case "$(field Maintainer)" in
  *@*.*) ;;
  *) fail "Maintainer is '$(field Maintainer)'" ;;
esac
field Maintainer | grep -Eq '@example\.(org|com|net)>' && fail "Maintainer is a placeholder: $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no Description"
field Depends | grep -q '^libc6' || fail "Depends is '$(field Depends)', not libc6"
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
for path in ./usr/bin/zarvo ./usr/share/man/man1/zarvo.1.gz ./usr/share/doc/zarvo/copyright ./usr/share/doc/zarvo/changelog.gz; do
  grep -qx "$path" "$work/contents" || fail "the package lacks $path"
done
if grep -Ev '^\./((usr|usr/bin|usr/share|usr/share/man|usr/share/man/man1|usr/share/doc|usr/share/doc/zarvo)/|usr/bin/zarvo|usr/share/man/man1/zarvo\.1\.gz|usr/share/doc/zarvo/(copyright|changelog\.gz))$' "$work/contents"; then
  fail "the package carries files besides the program, its manual page, copyright and changelog"
fi
# The changelog's newest entry is this version.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/zarvo/changelog.gz | gzip -dc >"$work/changelog"
first=$(head -n 1 "$work/changelog")
[ "$first" = "zarvo ($(field Version)) unstable; urgency=medium" ] || fail "the changelog starts '$first', not version $(field Version)"

# lintian, as a distribution checks a package: no error and no warning
# (informational tags are shown, and overrides carry their reasons).
if ! lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1; then
  fail "lintian:"
  grep -v 'running with root privileges' "$work/lintian.log" >&2
else
  grep -v 'running with root privileges' "$work/lintian.log" || true
  echo "lintian: no error, no warning"
fi

# -------------------------------------------------------------- install it
installed=1
if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log" >&2
  echo "FAIL: dpkg -i" >&2
  exit 1
fi
[ "$(dpkg-query -W -f='${Status}' zarvo)" = "install ok installed" ] || fail "dpkg does not list zarvo as installed"

# The installed program is hardened. Control-flow protection is left out of
# the check: Debian's static C++ runtime, linked in, is built without it.
# Fortified calls are checked where the package comes from, a GCC build.
# Clang gets the same flags, but Debian 12's glibc fortifies the printf
# family in C++ only with GCC's __va_arg_pack, and those are the only calls
# that GCC fortifies here, so a Clang build has no fortified call at all.
checks=(--nocfprotection)
if [ "$compiler" != GNU ]; then
  checks+=(--nofortify)
  echo "fortified calls not checked: built by $compiler, the package by GCC"
fi
if ! hardening-check "${checks[@]}" /usr/bin/zarvo >"$work/hardening.log" 2>&1; then
  cat "$work/hardening.log" >&2
  fail "hardening-check /usr/bin/zarvo"
fi

# The installed program runs: display, exit code, log bytes.
out=$(/usr/bin/zarvo "Hello from the package")
[ "$out" = "Hello from the package" ] || fail "zarvo printed '$out'"
/usr/bin/zarvo /E:3 >/dev/null
rc=$?
[ "$rc" -eq 3 ] || fail "/E:3 gave exit code $rc"
ZARVO_LOG="$work/run.log" /usr/bin/zarvo /F /DO 'a\nb' >/dev/null
[ ! -e "$work/run.log" ] || fail "/DO wrote the log"
ZARVO_LOG="$work/run.log" /usr/bin/zarvo /F /LO 'a\nb' >"$work/display"
[ ! -s "$work/display" ] || fail "/LO wrote to the display"
[ "$(od -An -tx1 "$work/run.log" | tr -d ' \n')" = 610d0a620d0a ] || fail "log bytes are $(od -An -tx1 "$work/run.log")"
/usr/bin/zarvo '/?' | grep -q '^Usage\.\.\.$' || fail "/? shows no usage screen"

# The manual page is where man looks, and it renders. A zarvo built from
# source may sit in /usr/local beside it, and man lists that one first.
page=/usr/share/man/man1/zarvo.1.gz
if command -v man >/dev/null; then
  man -aw zarvo 2>/dev/null | grep -qx "$page" || fail "man -aw zarvo gave '$(man -aw zarvo 2>&1)'"
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q 'ZARVO_LOG' || fail "man does not render $page"
else
  [ -f /usr/share/man/man1/zarvo.1.gz ] || fail "no /usr/share/man/man1/zarvo.1.gz"
fi
gzip -dc /usr/share/man/man1/zarvo.1.gz | grep -q '^\.TH ZARVO 1' || fail "the installed manual page is not zarvo(1)"

# --------------------------------------------------------------- remove it
if ! dpkg -r zarvo >"$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log" >&2
  fail "dpkg -r zarvo"
fi
if dpkg-query -W -f='${Status}' zarvo 2>/dev/null | grep -q 'installed'; then
  fail "zarvo is still installed after dpkg -r"
else
  installed=0
fi
for path in /usr/bin/zarvo /usr/share/man/man1/zarvo.1.gz /usr/share/doc/zarvo/copyright; do
  [ ! -e "$path" ] || fail "$path is left after dpkg -r"
done
if command -v zarvo >/dev/null && [ "$(command -v zarvo)" = /usr/bin/zarvo ]; then
  fail "zarvo is still on the PATH"
fi
command -v man >/dev/null && man -aw zarvo 2>/dev/null | grep -qx "$page" && fail "man still finds $page"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package test passed"
