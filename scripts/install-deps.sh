#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
set -euo pipefail

# unixodbc and odbcinst (its odbcinst tool): what the data-source lookup is
# compared against; pgbouncer: a connection pooler in front of the test server.
packages=(cmake make g++ pkg-config libsqlite3-dev sqlite3 libgtest-dev tzdata
  libpq-dev postgresql postgresql-common pgbouncer unixodbc odbcinst "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
