#!/usr/bin/env bash
# Builds the two Debian packages, installs them with dpkg, and checks the
# installed commands, module and manual pages the way an administrator meets
# them. First the tool alone (quorvia-setup): lays out installations with the
# installed qv-mkinstall, runs the installed qvsetup on them, reads the
# databases back with the sqlite3 shell, and checks that a data source on a
# server, without the server engine, fails naming the package to install.
# Then the server engine as well (quorvia-setup-postgresql): a whole run on a
# throw-away PostgreSQL cluster (pg_virtualenv). Removes both packages again
# at the end (and on any failure).
#
#   scripts/package-check.sh [BUILD_DIR]      # default build-pkg
#
# Needs root (or sudo) for apt-get and dpkg, and pg_virtualenv
# (postgresql-common) with a PostgreSQL server installed; no cluster needs to
# be running. Exits non-zero with a message naming the first check that failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd -P)

package=quorvia-setup                   # the tool
server_package=quorvia-setup-postgresql # its server engine
module=qv-postgresql-engine.so
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
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

work=$(mktemp -d)
we_installed=0
cleanup() {
  status=$?
  if [ "$we_installed" -eq 1 ]; then
    for pkg in "$server_package" "$package"; do
      if installed "$pkg"; then
        echo "== removing $pkg after a failure" >&2
        "${as_root[@]}" dpkg -r "$pkg" >/dev/null || true
      fi
    done
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# --- Build ------------------------------------------------------------------
step "build tools"
# dpkg-dev for dpkg-shlibdeps; man-db, groff-base and mandoc to render and lint
# the pages; binutils for readelf. The build's own list brings postgresql and
# postgresql-common (pg_virtualenv) for the server run.
scripts/install-deps.sh dpkg-dev man-db groff-base mandoc binutils

step "configure and build in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs"

step "cpack"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || fail "cpack did not build the packages" "$work/cpack.log"
project_version=$(sed -n 's/^project(qvsetup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$project_version" ] || fail "cannot read the project version from CMakeLists.txt"
version=$project_version-1
arch=$(dpkg --print-architecture)
deb=$build/${package}_${version}_${arch}.deb
server_deb=$build/${server_package}_${version}_${arch}.deb
(cd "$build" && ls -- *.deb) >"$work/debs" 2>/dev/null || true
printf '%s\n' "${deb##*/}" "${server_deb##*/}" | sort >"$work/debs.expected"
cmp -s "$work/debs.expected" <(sort "$work/debs") ||
  fail "expected exactly ${deb##*/} and ${server_deb##*/} in $build, found:" "$work/debs" "$work/cpack.log"
echo "$deb"
echo "$server_deb"

# Where the module goes: the library folder of the configured layout, under
# the package's prefix.
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
[ -n "$libdir" ] && [ "${libdir#/}" = "$libdir" ] || fail "cannot read a relative CMAKE_INSTALL_LIBDIR from $build/CMakeCache.txt"
engine_dir=$prefix/$libdir/$package/engines
engine_path=$engine_dir/$module

# --- The packages as built ------------------------------------------------------
# (Pipes below read their input to the end: with pipefail, a reader that stops
# early, as head or grep -q do, fails the writer with SIGPIPE at random.)
field() { dpkg-deb -f "$1" "$2"; }
depends_of() {  # deb -> the names of its dependencies, one a line
  field "$1" Depends | tr ',' '\n' | awk '{print $1}'
}
common_metadata() {  # deb, package name
  [ "$(field "$1" Package)" = "$2" ] || fail "Package is '$(field "$1" Package)', expected $2"
  [ "$(field "$1" Version)" = "$version" ] || fail "Version of $2 is '$(field "$1" Version)', expected $version"
  [ "$(field "$1" Architecture)" = "$arch" ] || fail "Architecture of $2 is '$(field "$1" Architecture)'"
  [ "$(field "$1" Section)" = admin ] || fail "Section of $2 is '$(field "$1" Section)', expected admin"
  [ -n "$(field "$1" Maintainer)" ] || fail "$2 has no Maintainer field"
  [ "$(field "$1" Description | wc -l)" -gt 3 ] || fail "the Description of $2 has no extended text"
  dpkg-deb -e "$1" "$work/control-$2"
  for script in preinst postinst prerm postrm config; do
    [ ! -e "$work/control-$2/$script" ] || fail "$2 has a $script script: it must not run anything on installation"
  done
}
listing() {  # deb, name -> $work/NAME.listing, NAME.contents (paths), NAME.files (non-folders)
  dpkg-deb -c "$1" >"$work/$2.listing"
  awk '{print $6}' "$work/$2.listing" | sed 's|^\./|/|; s|/$||' | grep . >"$work/$2.contents"
  awk '$1 !~ /^d/ {print $6}' "$work/$2.listing" | sed 's|^\./|/|' >"$work/$2.files"
}

step "package metadata: $package"
common_metadata "$deb" "$package"
[ "$(field "$deb" Description | sed -n 1p)" = "post-installation setup of the Quorvia groupware server" ] ||
  fail "the synopsis of $package is '$(field "$deb" Description | sed -n 1p)'"
echo "Depends: $(field "$deb" Depends)"
depends_of "$deb" >"$work/depends"
for dep in libsqlite3-0 tzdata libstdc++6 libc6; do
  grep -qxF "$dep" "$work/depends" || fail "$package does not depend on $dep: $(field "$deb" Depends)"
done
for dep in libpq5 postgresql-client "$server_package"; do
  ! grep -qxF "$dep" "$work/depends" || fail "$package depends on $dep: $(field "$deb" Depends)"
done
[ "$(field "$deb" Suggests)" = "$server_package" ] || fail "$package suggests '$(field "$deb" Suggests)', expected $server_package"

step "package metadata: $server_package"
common_metadata "$server_deb" "$server_package"
server_synopsis=$(field "$server_deb" Description | sed -n 1p)
[[ $server_synopsis == *PostgreSQL* ]] && [[ $server_synopsis != *post-installation* ]] ||
  fail "the synopsis of $server_package is '$server_synopsis'"
echo "Depends: $(field "$server_deb" Depends)"
depends_of "$server_deb" >"$work/server-depends"
for dep in "$package" libpq5 postgresql-client libc6; do
  grep -qxF "$dep" "$work/server-depends" || fail "$server_package does not depend on $dep: $(field "$server_deb" Depends)"
done
field "$server_deb" Depends | tr ',' '\n' | sed 's/^ *//' | grep -xF "$package (= $version)" >/dev/null ||
  fail "$server_package does not depend on exactly $package (= $version): $(field "$server_deb" Depends)"

step "package contents"
listing "$deb" tool
for path in $prefix/bin/qvsetup $prefix/bin/qv-mkinstall $prefix/bin/qv-restore \
            $prefix/share/man/man1/qvsetup.1.gz $prefix/share/man/man1/qv-mkinstall.1.gz \
            $prefix/share/man/man1/qv-restore.1.gz \
            $prefix/share/doc/$package/copyright $prefix/share/doc/$package/changelog.Debian.gz; do
  grep -qx "$path" "$work/tool.files" || fail "$package lacks $path" "$work/tool.listing"
done
grep -Eq "^$prefix/share/$package/schema/[^/]+\.sql$" "$work/tool.files" ||
  fail "$package holds no schema under $prefix/share/$package/schema" "$work/tool.listing"
grep -qx "$prefix/share/$package/schema/postgresql/main_fresh.sql" "$work/tool.files" ||
  fail "$package holds no server schema under $prefix/share/$package/schema/postgresql" "$work/tool.listing"
allowed="^$prefix/bin/(qvsetup|qv-mkinstall|qv-restore)$|^$prefix/share/man/man1/(qvsetup|qv-mkinstall|qv-restore)\.1\.gz$"
allowed+="|^$prefix/share/doc/$package/(copyright|changelog\.Debian\.gz)$|^$prefix/share/$package/schema/(postgresql/)?[^/]+\.sql$"
if grep -Ev "$allowed" "$work/tool.files" >"$work/unexpected"; then
  fail "$package holds files outside its installed layout (test programs? the server engine?)" "$work/unexpected"
fi

listing "$server_deb" server
for path in "$engine_path" $prefix/share/doc/$server_package/copyright $prefix/share/doc/$server_package/changelog.Debian.gz; do
  grep -qx "$path" "$work/server.files" || fail "$server_package lacks $path" "$work/server.listing"
done
allowed="^${engine_path//./\\.}$|^$prefix/share/doc/$server_package/(copyright|changelog\.Debian\.gz)$"
if grep -Ev "$allowed" "$work/server.files" >"$work/unexpected"; then
  fail "$server_package holds files beyond the server engine and its notices" "$work/unexpected"
fi
for name in copyright changelog.Debian.gz; do
  dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ".$prefix/share/doc/$package/$name" >"$work/tool.$name"
  dpkg-deb --fsys-tarfile "$server_deb" | tar -xOf - ".$prefix/share/doc/$server_package/$name" >"$work/server.$name"
  cmp -s "$work/tool.$name" "$work/server.$name" || fail "the $name files of the two packages differ"
done
zcat "$work/tool.changelog.Debian.gz" | sed -n 1p | grep "^$package ($version) " >/dev/null ||
  fail "the changelog does not start with $package ($version)" "$work/tool.changelog.Debian.gz"

# --- Installation of the tool alone ------------------------------------------------
for pkg in "$server_package" "$package"; do
  if installed "$pkg"; then
    step "removing an earlier installation of $pkg"
    "${as_root[@]}" dpkg -r "$pkg" >/dev/null
  fi
done
for path in $prefix/bin/qvsetup $prefix/bin/qv-mkinstall $prefix/bin/qv-restore "$engine_path"; do
  [ ! -e "$path" ] || fail "$path exists but belongs to no installed package; remove it first"
done

# Container images may exclude manual pages and documentation from dpkg; those
# of these packages are wanted here, so they are let through explicitly.
dpkg_paths=(--path-include="$prefix/share/man/man1/qv*" --path-include="$prefix/share/doc/$package/*"
            --path-include="$prefix/share/doc/$server_package/*")
dpkg_install() {  # deb, package name, log
  we_installed=1
  if ! "${as_root[@]}" dpkg "${dpkg_paths[@]}" -i "$1" >"$3" 2>&1; then
    echo "dpkg -i left dependencies open; completing them with apt-get -f install"
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -f install -y --no-install-recommends \
      >>"$3" 2>&1 || fail "apt-get -f install could not complete the installation of $2" "$3"
  fi
  installed "$2" || fail "$2 is not installed after dpkg -i" "$3"
}

step "dpkg -i $package (without $server_package)"
dpkg_install "$deb" "$package" "$work/dpkg.log"
! installed "$server_package" || fail "installing $package brought in $server_package" "$work/dpkg.log"
while read -r path; do
  [ -e "$path" ] || fail "$path of $package is missing after installation"
done <"$work/tool.contents"
[ ! -e "$engine_path" ] || fail "$engine_path is there without $server_package"
[ "$(command -v qvsetup)" = "$prefix/bin/qvsetup" ] || fail "qvsetup on PATH is '$(command -v qvsetup)'"
[ "$(command -v qv-mkinstall)" = "$prefix/bin/qv-mkinstall" ] || fail "qv-mkinstall on PATH is '$(command -v qv-mkinstall)'"
for cmd in qvsetup qv-mkinstall qv-restore; do
  if grep -aqF -e "$root/" -e "$build/" "$prefix/bin/$cmd"; then
    fail "$prefix/bin/$cmd refers to the source or build tree ($root, $build)"
  fi
  ldd "$prefix/bin/$cmd" >"$work/$cmd.ldd" 2>&1 || fail "ldd $prefix/bin/$cmd failed" "$work/$cmd.ldd"
  ! grep -q 'libpq' "$work/$cmd.ldd" || fail "$prefix/bin/$cmd links libpq" "$work/$cmd.ldd"
  ! grep -q 'not found' "$work/$cmd.ldd" || fail "$prefix/bin/$cmd lacks a library" "$work/$cmd.ldd"
  # The run path, through which the program finds the server engine, names
  # the folder the server package installs the module in.
  readelf -d "$prefix/bin/$cmd" >"$work/$cmd.dynamic"
  runpath=$(sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p' "$work/$cmd.dynamic")
  [ -n "$runpath" ] || fail "$prefix/bin/$cmd has no RUNPATH" "$work/$cmd.dynamic"
  ! grep -q '(RPATH)' "$work/$cmd.dynamic" || fail "$prefix/bin/$cmd has an RPATH besides its RUNPATH" "$work/$cmd.dynamic"
  [[ $runpath != *:* ]] || fail "$prefix/bin/$cmd has more than one RUNPATH folder: $runpath"
  resolved=$(realpath -m "${runpath//\$ORIGIN/$prefix/bin}")
  [ "$resolved" = "$engine_dir" ] || fail "the RUNPATH of $prefix/bin/$cmd ($runpath) is $resolved, not $engine_dir"
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

step "qv-restore --list"
qv-restore --list >"$work/list.out" 2>"$work/list.err" || fail "qv-restore --list exited with $?" "$work/list.err"
grep -Eq "^$name  [0-9-]{10} [0-9:]{8}  files  .*  verified$" "$work/list.out" ||
  fail "qv-restore --list does not show $name verified" "$work/list.out"

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

# --- A data source on a server, without the server engine -------------------------------
step "server data sources without $server_package: qvsetup /i Initialize /d, qv-mkinstall --engine postgresql"
inst=$work/no-engine
qv-mkinstall "$inst" >/dev/null 2>"$work/mkinstall.err" || fail "qv-mkinstall exited with $?" "$work/mkinstall.err"
# Both data sources name a server: the PostgreSQL driver and its keys.
{
  for dsn in qv_main qv_security; do
    printf '[%s]\nDriver = PostgreSQL\nServername = 127.0.0.1\nPort = 5432\nDatabase = %s\nUsername = quorvia\n\n' "$dsn" "$dsn"
  done
} >"$inst/odbc.ini"
run_status=0
QV_REGISTRY_FILE=$inst/registry.reg ODBCINI=$inst/odbc.ini \
  qvsetup /i Initialize /d >"$work/run5.out" 2>"$work/run5.err" || run_status=$?
[ "$run_status" -eq 0 ] || fail "qvsetup exited with $run_status" "$work/run5.out" "$work/run5.err"
grep -qF "the PostgreSQL server engine cannot be loaded" "$work/run5.err" ||
  fail "qvsetup did not say that the server engine cannot be loaded" "$work/run5.err" "$work/run5.out"
grep -qF "install the package $server_package" "$work/run5.err" ||
  fail "qvsetup did not name the package $server_package on standard error" "$work/run5.err" "$work/run5.out"
grep -m 1 -F "install the package $server_package" "$work/run5.err" | sed 's/^/  /'
# The boxes on standard output report the failure, and none claims success.
grep -qxF False "$work/run5.out" || fail "no 'False' box for the settings that could not be written" "$work/run5.out"
grep -qF "Alter Tables: There was an error" "$work/run5.out" || fail "no box reports the failed migration" "$work/run5.out"
if grep -qE 'The task completed|: True$' "$work/run5.out"; then
  fail "a message box claims success although no database could be reached" "$work/run5.out"
fi
run_status=0
qv-mkinstall --engine postgresql "$work/no-engine-server" >"$work/mkinstall5.out" 2>"$work/mkinstall5.err" || run_status=$?
[ "$run_status" -ne 0 ] || fail "qv-mkinstall --engine postgresql succeeded without the server engine" "$work/mkinstall5.out"
grep -qF "install the package $server_package" "$work/mkinstall5.err" ||
  fail "qv-mkinstall did not name the package $server_package on standard error" "$work/mkinstall5.err"

# --- Manual pages ------------------------------------------------------------------------
step "manual pages"
for page in qvsetup qv-mkinstall qv-restore; do
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

# --- The server engine --------------------------------------------------------------------
step "dpkg -i $server_package"
dpkg_install "$server_deb" "$server_package" "$work/dpkg-server.log"
while read -r path; do
  [ -e "$path" ] || fail "$path of $server_package is missing after installation"
done <"$work/server.contents"
[ -f "$engine_path" ] || fail "$engine_path is missing after installing $server_package"
[ "$(dpkg-query -S "$engine_path" 2>/dev/null | cut -d: -f1)" = "$server_package" ] ||
  fail "$engine_path does not belong to $server_package"
ldd "$engine_path" >"$work/module.ldd" 2>&1 || fail "ldd $engine_path failed" "$work/module.ldd"
grep -q 'libpq\.so\.5 => /' "$work/module.ldd" || fail "$engine_path does not link the installed libpq" "$work/module.ldd"
! grep -q 'not found' "$work/module.ldd" || fail "$engine_path lacks a library" "$work/module.ldd"
command -v pg_dump >/dev/null || fail "pg_dump is not on PATH with $server_package installed"

# The server run: a throw-away cluster (pg_virtualenv sets PGHOST, PGPORT,
# PGUSER and PGPASSWORD), an installation on it, a full run with sample data
# and a second run with a backup (pg_dump), and the rows read back with psql.
step "server run under pg_virtualenv: qv-mkinstall --engine postgresql, qvsetup /i Initialize /a, /b"
cat >"$work/server-run.sh" <<'SERVER_RUN'
set -euo pipefail
work=$1
inst=$work/server
bad() { printf 'server run: %s\n' "$1"; shift; for f in "$@"; do [ -s "$f" ] && sed 's/^/  /' "$f"; done; exit 1; }
count() { psql -XAtq -v ON_ERROR_STOP=1 -d "$1" -c "$2"; }
expect() {  # database, query, expected value, what
  local got
  got=$(count "$1" "$2" 2>&1) || bad "$4: query failed: $got"
  [ "$got" = "$3" ] || bad "$4: expected '$3', got '$got' ($2)"
  echo "$4: $got"
}
qv-mkinstall --engine postgresql --prefix pkgcheck_ "$inst" >"$work/server-mkinstall.out" 2>"$work/server-mkinstall.err" ||
  bad "qv-mkinstall --engine postgresql exited with $?" "$work/server-mkinstall.err"
[ ! -s "$work/server-mkinstall.err" ] || bad "qv-mkinstall --engine postgresql wrote to standard error" "$work/server-mkinstall.err"
grep -q 'Database *= *pkgcheck_qv_main' "$inst/odbc.ini" || bad "the odbc.ini does not name pkgcheck_qv_main" "$inst/odbc.ini"
export QV_REGISTRY_FILE=$inst/registry.reg ODBCINI=$inst/odbc.ini
status=0
qvsetup /i Initialize /a >"$work/server-run1.out" 2>"$work/server-run1.err" || status=$?
[ "$status" -eq 0 ] || bad "qvsetup exited with $status" "$work/server-run1.err"
[ ! -s "$work/server-run1.err" ] || bad "qvsetup wrote to standard error" "$work/server-run1.err"
[ ! -s "$work/server-run1.out" ] || bad "a successful run without /d wrote to standard output" "$work/server-run1.out"
expect pkgcheck_qv_main 'SELECT count(*) FROM ToDoEvent' 30 "sample rows in ToDoEvent"
expect pkgcheck_qv_main 'SELECT count(*) FROM DocEvent' 2 "sample rows in DocEvent"
expect pkgcheck_qv_security 'SELECT count(*) FROM Install WHERE InstallFlag = 1' 1 "InstallFlag of qv_security"
qvsetup /i Initialize /b >"$work/server-run2.out" 2>"$work/server-run2.err" || bad "qvsetup /b exited with $?" "$work/server-run2.err"
[ ! -s "$work/server-run2.err" ] || bad "qvsetup /b wrote to standard error" "$work/server-run2.err"
[ ! -s "$work/server-run2.out" ] || bad "qvsetup /b reported a failure" "$work/server-run2.out"
dumps=("$inst"/db/BACK*/qv_main.dump)
[ -s "${dumps[0]}" ] || bad "the backup holds no dump of qv_main: ${dumps[*]}"
pg_restore --list "${dumps[0]}" >"$work/server-dump.list" 2>&1 || bad "pg_restore cannot read ${dumps[0]}" "$work/server-dump.list"
grep -qi 'TABLE DATA .*todoevent' "$work/server-dump.list" || bad "the dump of qv_main holds no ToDoEvent rows" "$work/server-dump.list"
echo "backup: ${dumps[0]#$inst/}"
SERVER_RUN
pg_virtualenv -t bash "$work/server-run.sh" "$work" >"$work/server-run.log" 2>&1 ||
  fail "the server run failed" "$work/server-run.log"
sed 's/^/  /' "$work/server-run.log" | grep -v '^  *$' | tail -n 5

# --- Removal -------------------------------------------------------------------------------
step "dpkg -r $server_package"
"${as_root[@]}" dpkg -r "$server_package" >"$work/dpkg-r.log" 2>&1 || fail "dpkg -r $server_package failed" "$work/dpkg-r.log"
! installed "$server_package" || fail "$server_package is still installed after dpkg -r"
installed "$package" || fail "removing $server_package removed $package as well"
while read -r path; do
  [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left behind after dpkg -r $server_package"
done <"$work/server.contents"
[ ! -e "$engine_dir" ] || fail "$engine_dir is left behind after dpkg -r $server_package"
qvsetup '/?' >"$work/help2.out" 2>&1 && cmp -s "$work/help.expected" "$work/help2.out" ||
  fail "qvsetup /? no longer works once $server_package is removed" "$work/help2.out"

step "dpkg -r $package"
"${as_root[@]}" dpkg -r "$package" >"$work/dpkg-r.log" 2>&1 || fail "dpkg -r $package failed" "$work/dpkg-r.log"
we_installed=0
! installed "$package" || fail "$package is still installed after dpkg -r"
while read -r path; do
  [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left behind after dpkg -r"
done <"$work/tool.contents"
for path in $prefix/bin/qvsetup $prefix/bin/qv-mkinstall $prefix/share/$package "$engine_dir" \
            $prefix/share/doc/$package $prefix/share/doc/$server_package; do
  [ ! -e "$path" ] || fail "$path is left behind after dpkg -r"
done
[ ! -e "$prefix/$libdir/$package" ] || fail "$prefix/$libdir/$package is left behind after dpkg -r"
hash -r
! command -v qvsetup >/dev/null || fail "qvsetup is still on PATH after dpkg -r"

echo "package-check: OK ($(basename "$deb"), $(basename "$server_deb"))"
