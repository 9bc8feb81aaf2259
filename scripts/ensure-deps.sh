#!/bin/sh
# Makes sure the build packages are present. As root, missing Debian
# packages are installed with apt-get; otherwise the missing ones are named
# and the script fails.
#   scripts/ensure-deps.sh         what the ordinary build and tests need
#   scripts/ensure-deps.sh extra   also clang with libFuzzer (make fuzz) and
#                                  the 32-bit compilers and GoogleTest
#                                  sources (make check-32)
#   scripts/ensure-deps.sh e2e-extra  also the readers of the HTTP endpoint
#                                  that its end-to-end tests run (promtool,
#                                  headless Chromium, Python); the tests
#                                  skip without them. Installed without
#                                  recommended packages.
set -e

PACKAGES="cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev libcpp-httplib-dev nlohmann-json3-dev pkg-config"
EXTRA_PACKAGES="clang-14 libclang-rt-14-dev gcc-multilib g++-multilib googletest"
E2E_EXTRA_PACKAGES="prometheus chromium python3"
RECOMMENDS=""
if [ "${1:-}" = extra ]; then
  PACKAGES="$PACKAGES $EXTRA_PACKAGES"
elif [ "${1:-}" = e2e-extra ]; then
  PACKAGES="$PACKAGES $E2E_EXTRA_PACKAGES"
  RECOMMENDS="--no-install-recommends"
fi

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
  apt-get install -y -q $RECOMMENDS $missing
else
  echo "missing build packages:$missing" >&2
  echo "install them with: sudo apt-get install$missing" >&2
  exit 1
fi
