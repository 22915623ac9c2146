#!/usr/bin/env bash
# Builds the Debian package, installs it with dpkg, and checks the installed
# commands and manual pages the way an administrator meets them: lays out
# installations with the installed qv-mkinstall, runs the installed qvsetup on
# them and reads the databases back with the sqlite3 shell. Removes the package
# again at the end (and on any failure).
#
#   scripts/package-check.sh [BUILD_DIR]      # default build-pkg
#
# Needs root (or sudo) for apt-get and dpkg. Exits non-zero with a message
# naming the first check that failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd -P)

package=quorvia-setup
build=$(realpath -m "${1:-build-pkg}")
jobs=${JOBS:-2}
prefix=/usr

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

step() { printf '== %s\n' "$*"; }
fail() {
  printf 'package-check: FAIL: %s\n' "$1" >&2
  shift
  for file in "$@"; do
    [ -s "$file" ] && { printf -- '--- %s\n' "${file##*/}" >&2; sed 's/^/  /' "$file" >&2; }
  done
  exit 1
}
installed() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; }

work=$(mktemp -d)
we_installed=0
cleanup() {
  status=$?
  if [ "$we_installed" -eq 1 ] && installed; then
    echo "== removing $package after a failure" >&2
    "${as_root[@]}" dpkg -r "$package" >/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# --- Build ------------------------------------------------------------------
step "build tools"
# dpkg-dev for dpkg-shlibdeps; man-db, groff-base and mandoc to render and lint the pages.
scripts/install-deps.sh dpkg-dev man-db groff-base mandoc

step "configure and build in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs"

step "cpack"
rm -f "$build/${package}"_*.deb
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || fail "cpack did not build the package" "$work/cpack.log"
debs=("$build/${package}"_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one ${package}_*.deb in $build, found: ${debs[*]}"
fi
deb=${debs[0]}
echo "$deb"

# --- The package as built ------------------------------------------------------
step "package metadata"
field() { dpkg-deb -f "$deb" "$1"; }
project_version=$(sed -n 's/^project(qvsetup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$project_version" ] || fail "cannot read the project version from CMakeLists.txt"
[ "$(field Package)" = "$package" ] || fail "Package is '$(field Package)', expected $package"
[ "$(field Version)" = "$project_version-1" ] || fail "Version is '$(field Version)', expected $project_version-1"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = admin ] || fail "Section is '$(field Section)', expected admin"
depends=$(field Depends)
echo "Depends: $depends"
tr ',' '\n' <<<"$depends" | awk '{print $1}' >"$work/depends"
for dep in libsqlite3-0 libpq5 tzdata libstdc++6 libc6; do
  grep -qxF "$dep" "$work/depends" || fail "Depends lacks $dep: $depends"
done
[ -n "$(field Maintainer)" ] || fail "no Maintainer field"
[ "$(field Description | wc -l)" -gt 3 ] || fail "the Description has no extended text"

dpkg-deb -c "$deb" >"$work/listing"
awk '{print $6}' "$work/listing" | sed 's|^\./|/|; s|/$||' | grep . >"$work/contents"
awk '$1 !~ /^d/ {print $6}' "$work/listing" | sed 's|^\./|/|' >"$work/files"
for path in $prefix/bin/qvsetup $prefix/bin/qv-mkinstall \
            $prefix/share/man/man1/qvsetup.1.gz $prefix/share/man/man1/qv-mkinstall.1.gz \
            $prefix/share/doc/$package/copyright; do
  grep -qx "$path" "$work/files" || fail "the package lacks $path" "$work/listing"
done
grep -Eq "^$prefix/share/$package/schema/[^/]+\.sql$" "$work/files" ||
  fail "the package holds no schema under $prefix/share/$package/schema" "$work/listing"
grep -qx "$prefix/share/$package/schema/postgresql/main_fresh.sql" "$work/files" ||
  fail "the package holds no server schema under $prefix/share/$package/schema/postgresql" "$work/listing"
allowed="^$prefix/bin/(qvsetup|qv-mkinstall)$|^$prefix/share/man/man1/(qvsetup|qv-mkinstall)\.1\.gz$"
allowed+="|^$prefix/share/doc/$package/(copyright|changelog\.Debian\.gz)$|^$prefix/share/$package/schema/(postgresql/)?[^/]+\.sql$"
if grep -Ev "$allowed" "$work/files" >"$work/unexpected"; then
  fail "the package holds files outside the installed layout (test programs?)" "$work/unexpected"
fi
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm config; do
  [ ! -e "$work/control/$script" ] || fail "the package has a $script script: it must not run anything on installation"
done

# --- Installation ----------------------------------------------------------------
if installed; then
  step "removing an earlier installation of $package"
  "${as_root[@]}" dpkg -r "$package" >/dev/null
fi
for cmd in qvsetup qv-mkinstall; do
  [ ! -e "$prefix/bin/$cmd" ] || fail "$prefix/bin/$cmd exists but belongs to no installed $package; remove it first"
done

step "dpkg -i"
# Container images may exclude manual pages from dpkg; the pages of this
# package are wanted here, so they are let through explicitly.
dpkg_paths=(--path-include="$prefix/share/man/man1/qv*" --path-include="$prefix/share/doc/$package/*")
we_installed=1
if ! "${as_root[@]}" dpkg "${dpkg_paths[@]}" -i "$deb" >"$work/dpkg.log" 2>&1; then
  echo "dpkg -i left dependencies open; completing them with apt-get -f install"
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -f install -y --no-install-recommends \
    >>"$work/dpkg.log" 2>&1 || fail "apt-get -f install could not complete the installation" "$work/dpkg.log"
fi
installed || fail "$package is not installed after dpkg -i" "$work/dpkg.log"
while read -r path; do
  [ -e "$path" ] || fail "$path of the package is missing after installation"
done <"$work/contents"
[ "$(command -v qvsetup)" = "$prefix/bin/qvsetup" ] || fail "qvsetup on PATH is '$(command -v qvsetup)'"
[ "$(command -v qv-mkinstall)" = "$prefix/bin/qv-mkinstall" ] || fail "qv-mkinstall on PATH is '$(command -v qv-mkinstall)'"
for cmd in qvsetup qv-mkinstall; do
  if grep -aqF -e "$root/" -e "$build/" "$prefix/bin/$cmd"; then
    fail "$prefix/bin/$cmd refers to the source or build tree ($root, $build)"
  fi
done

# Everything below runs the installed commands from a folder of its own, so
# nothing of the source or build tree is at hand.
cd "$work"
q() { sqlite3 -batch -noheader "$1" "$2"; }
expect_sql() {  # database, query, expected value, what
  local got
  got=$(q "$1" "$2" 2>&1) || fail "$4: query failed: $got"
  [ "$got" = "$3" ] || fail "$4: expected '$3', got '$got' ($2)"
}
reg_value() {  # registry file, value name -> its data
  sed -n "s/^\"$2\"=\"\(.*\)\"\r\{0,1\}\$/\1/p" "$1" | sed 's/\\\\/\\/g; s/\\"/"/g' | head -n 1
}

# --- The help screen ------------------------------------------------------------
step "qvsetup /?"
printf '%s\n' '[QvSetup]' 'QvSetup.exe options' '' '/L: Language Identifier' '/S: Station Identifier' \
  '/D: Debug mode execution' '/A: Sample data insert switch' '/P: Database Password (Optional)' \
  '/N: Database UserName (Optional)' '/B: Back up qv_main.mdb' '/?, -?: Help screen' '' \
  '(All the switches are non-case sensitive.)' '' '' >"$work/help.expected"
qvsetup '/?' /i Initialize >"$work/help.out" 2>"$work/help.err" || fail "qvsetup /? exited with $?"
cmp -s "$work/help.expected" "$work/help.out" || {
  diff -u "$work/help.expected" "$work/help.out" >"$work/help.diff" || true
  fail "the help screen differs from the documented one" "$work/help.diff"
}

# --- A fresh installation with English sample data --------------------------------
step "fresh installation: qv-mkinstall, qvsetup /i Initialize /a /d"
inst=$work/fresh
company="Artisan's Guild"
qv-mkinstall --company "$company" "$inst" >"$work/mkinstall.out" 2>"$work/mkinstall.err" ||
  fail "qv-mkinstall exited with $?" "$work/mkinstall.err"
grep -qx "QV_REGISTRY_FILE=$inst/registry.reg" "$work/mkinstall.out" || fail "qv-mkinstall did not print QV_REGISTRY_FILE" "$work/mkinstall.out"
grep -qx "ODBCINI=$inst/odbc.ini" "$work/mkinstall.out" || fail "qv-mkinstall did not print ODBCINI" "$work/mkinstall.out"
for f in registry.reg odbc.ini db/qv_main.mdb db/qv_security.mdb; do
  [ -s "$inst/$f" ] || fail "qv-mkinstall did not write $inst/$f"
done
main=$inst/db/qv_main.mdb security=$inst/db/qv_security.mdb
smtp=$(reg_value "$inst/registry.reg" DefaultSMTPServer)
[ -n "$smtp" ] || fail "no DefaultSMTPServer in the registry file" "$inst/registry.reg"

export QV_REGISTRY_FILE=$inst/registry.reg ODBCINI=$inst/odbc.ini
run_status=0
TZ=Asia/Tokyo qvsetup /i Initialize /a /d >"$work/run1.out" 2>"$work/run1.err" || run_status=$?
[ "$run_status" -eq 0 ] || fail "qvsetup exited with $run_status" "$work/run1.out" "$work/run1.err"
[ ! -s "$work/run1.err" ] || fail "qvsetup wrote to standard error" "$work/run1.err"
[ "$(head -n 1 "$work/run1.out")" = "[QvSetup]" ] || fail "the output does not start with a [QvSetup] box" "$work/run1.out"
boxes=$(grep -cx '\[QvSetup\]' "$work/run1.out" || true)
[ "$boxes" -eq 13 ] || fail "expected 13 boxes (options, 8 areas, 4 migration steps), got $boxes" "$work/run1.out"
for line in "UserName: admin" "DBPassword: quillmark" "Language: 1" "StationID: 1" \
            "Alter Tables: The task completed."; do
  grep -qxF "$line" "$work/run1.out" || fail "no line '$line' in the debug output" "$work/run1.out"
done
for area in Contact Scheduler Announcement ToDo Forum Project Resource Document; do
  grep -qxF "Insert sample date for $area: True" "$work/run1.out" ||
    fail "sample data for $area not reported as True" "$work/run1.out"
done
for label in "Drop Views: " "Alter the security table: " "Alter the views: "; do
  grep -qF "$label" "$work/run1.out" || fail "no '$label' box" "$work/run1.out"
done
if grep -qiE 'error|False' "$work/run1.out"; then fail "the debug output reports a failure" "$work/run1.out"; fi

expect_sql "$security" "SELECT count(*) FROM Install WHERE InstallFlag = 1" 1 "InstallFlag of qv_security"
expect_sql "$security" "SELECT count(*) FROM Install WHERE InstallFlag IS NOT 1" 0 "InstallFlag of every Install row"
expect_sql "$security" "SELECT StorageDir FROM GlobalPref" "$inst" "StorageDir in GlobalPref"
expect_sql "$security" "SELECT LanguageID || ' ' || GMTTimeOffset FROM GlobalPref" "1 9" "LanguageID and GMTTimeOffset (TZ=Asia/Tokyo)"
expect_sql "$main" "SELECT CompanyName FROM Company WHERE CompanyID = 1" "$company" "name of company 1"
expect_sql "$main" "SELECT DISTINCT DefaultSMTPServer FROM EmailAdmin" "$smtp" "DefaultSMTPServer in EmailAdmin"
expect_sql "$main" "SELECT count(*) FROM DocEvent" 2 "sample rows in DocEvent"
expect_sql "$main" "SELECT count(*) FROM ToDoEvent" 30 "sample rows in ToDoEvent"
expect_sql "$main" "SELECT count(*) FROM ToDoEvent WHERE StationID IS NOT 1" 0 "StationID of the ToDoEvent sample rows"
expect_sql "$main" "SELECT count(*) FROM sqlite_master WHERE type = 'view'" 15 "views in qv_main"

step "second run: qvsetup /i Initialize /a /b"
stamp_before=$(TZ=Asia/Tokyo date +%Y%m%d)
TZ=Asia/Tokyo qvsetup /i Initialize /a /b >"$work/run2.out" 2>"$work/run2.err" || fail "qvsetup exited with $?" "$work/run2.err"
stamp_after=$(TZ=Asia/Tokyo date +%Y%m%d)
[ ! -s "$work/run2.out" ] || fail "a successful run without /d wrote to standard output" "$work/run2.out"
expect_sql "$main" "SELECT count(*) FROM ToDoEvent" 30 "ToDoEvent rows after a second run with /a"
expect_sql "$main" "SELECT count(*) FROM DocEvent" 2 "DocEvent rows after a second run with /a"
backups=("$inst"/db/BACK*)
if [ ${#backups[@]} -ne 1 ] || [ ! -d "${backups[0]}" ]; then
  fail "expected one backup folder in $inst/db, found: ${backups[*]}"
fi
name=${backups[0]##*/}
[[ $name =~ ^BACK([0-9]{8})-[0-9]{6}$ ]] || fail "backup folder '$name' is not named BACKyyyymmdd-hhmmss"
[ "${BASH_REMATCH[1]}" = "$stamp_before" ] || [ "${BASH_REMATCH[1]}" = "$stamp_after" ] ||
  fail "backup folder '$name' does not carry the local date of TZ=Asia/Tokyo ($stamp_before)"
for f in qv_main.mdb qv_security.mdb; do
  [ -s "${backups[0]}/$f" ] || fail "the backup lacks $f"
done
expect_sql "${backups[0]}/qv_main.mdb" "SELECT count(*) FROM ToDoEvent" 30 "ToDoEvent rows in the backup copy"

# --- Japanese sample data for another station ------------------------------------------
step "fresh installation: qvsetup /i Initialize /a /l 2 /s 2"
inst=$work/japanese
qv-mkinstall "$inst" >/dev/null 2>"$work/mkinstall.err" || fail "qv-mkinstall exited with $?" "$work/mkinstall.err"
export QV_REGISTRY_FILE=$inst/registry.reg ODBCINI=$inst/odbc.ini
TZ=UTC qvsetup /i Initialize /a /l 2 /s 2 >"$work/run3.out" 2>"$work/run3.err" || fail "qvsetup exited with $?" "$work/run3.err"
[ ! -s "$work/run3.out" ] || fail "a successful run without /d wrote to standard output" "$work/run3.out"
main=$inst/db/qv_main.mdb security=$inst/db/qv_security.mdb
expect_sql "$security" "SELECT LanguageID || ' ' || GMTTimeOffset FROM GlobalPref" "2 0" "LanguageID and GMTTimeOffset (TZ=UTC)"
expect_sql "$main" "SELECT count(*) FROM ToDoEvent WHERE StationID = 2" 30 "Japanese ToDoEvent sample rows of station 2"
expect_sql "$main" "SELECT count(*) > 0 FROM ToDoEvent WHERE Title GLOB '*[^ -~]*'" 1 "non-ASCII titles of the Japanese sample data"

# --- An older installation brought up to date --------------------------------------------
step "older installation: qv-mkinstall --old, qvsetup /i Initialize /b /d"
inst=$work/old
qv-mkinstall --old "$inst" >/dev/null 2>"$work/mkinstall.err" || fail "qv-mkinstall --old exited with $?" "$work/mkinstall.err"
export QV_REGISTRY_FILE=$inst/registry.reg ODBCINI=$inst/odbc.ini
main=$inst/db/qv_main.mdb security=$inst/db/qv_security.mdb
expect_sql "$main" "SELECT count(*) FROM pragma_table_info('ScheduleEvent') WHERE name = 'Public'" 1 "Public column before the upgrade"
qvsetup /i Initialize /b /d >"$work/run4.out" 2>"$work/run4.err" || fail "qvsetup exited with $?" "$work/run4.err"
if grep -qiE 'error|False' "$work/run4.out"; then fail "the upgrade reports a failure" "$work/run4.out"; fi
expect_sql "$main" "SELECT count(*) FROM pragma_table_info('ScheduleEvent') WHERE name IN ('Public', 'Confirm')" 0 "old columns after the upgrade"
expect_sql "$main" "SELECT count(*) FROM pragma_table_info('ScheduleEvent') WHERE name IN ('Shared', 'Confirmation')" 2 "new columns after the upgrade"
expect_sql "$security" "SELECT count(*) FROM pragma_table_info('Users') WHERE name IN ('DateFormat', 'TimeFormat')" 2 "date and time formats of Users"
expect_sql "$main" "SELECT count(*) FROM sqlite_master WHERE type = 'view'" 15 "views after the upgrade"
old_backups=("$inst"/db/BACK*/qv_main.mdb)
[ -f "${old_backups[0]}" ] || fail "the upgrade made no backup"
expect_sql "${old_backups[0]}" "SELECT count(*) FROM pragma_table_info('ScheduleEvent') WHERE name = 'Public'" 1 "Public column in the backup copy"
unset QV_REGISTRY_FILE ODBCINI

# --- Manual pages ------------------------------------------------------------------------
step "manual pages"
for page in qvsetup qv-mkinstall; do
  file=$(man -w "$page" 2>/dev/null) || fail "man -w $page finds no page"
  [ "$file" = "$prefix/share/man/man1/$page.1.gz" ] || fail "man -w $page gives $file"
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$file" >"$work/$page.txt" 2>"$work/$page.warn" ||
    fail "man -l $file failed" "$work/$page.warn"
  [ ! -s "$work/$page.warn" ] || fail "man -l $file warns" "$work/$page.warn"
  for section in NAME SYNOPSIS DESCRIPTION; do
    grep -qx "$section" "$work/$page.txt" || fail "the rendered $page page lacks $section" "$work/$page.txt"
  done
  mandoc -Tlint -Wwarning "$file" >"$work/$page.lint" 2>&1 || fail "mandoc -Tlint $file" "$work/$page.lint"
  lexgrog "$file" >/dev/null || fail "lexgrog cannot read the NAME section of $file"
  zcat "$file" >"$work/$page.roff"
  grep -q "^\.TH .* \"qvsetup $project_version\"" "$work/$page.roff" ||
    fail "the .TH line of $page.1 does not name qvsetup $project_version"
done

# --- Removal -------------------------------------------------------------------------------
step "dpkg -r"
"${as_root[@]}" dpkg -r "$package" >"$work/dpkg-r.log" 2>&1 || fail "dpkg -r $package failed" "$work/dpkg-r.log"
we_installed=0
! installed || fail "$package is still installed after dpkg -r"
while read -r path; do
  [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left behind after dpkg -r"
done <"$work/contents"
[ ! -e "$prefix/bin/qvsetup" ] || fail "$prefix/bin/qvsetup is left behind after dpkg -r"
[ ! -e "$prefix/share/$package" ] || fail "$prefix/share/$package is left behind after dpkg -r"
hash -r
! command -v qvsetup >/dev/null || fail "qvsetup is still on PATH after dpkg -r"

echo "package-check: OK ($(basename "$deb"))"
