#!/bin/sh
# Makes sure the build packages are present. As root, missing Debian
# packages are installed with apt-get; otherwise the missing ones are named
# and the script fails.
set -e

# nut-client and python3-nut are the real NUT clients the end-to-end tests
# run against kovrad's NUT listener (the tests skip without them).
PACKAGES="cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  nut-client python3-nut"

missing=""
for package in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "installing build packages:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q $missing
else
  echo "missing build packages:$missing" >&2
  echo "install them with: sudo apt-get install$missing" >&2
  exit 1
fi
