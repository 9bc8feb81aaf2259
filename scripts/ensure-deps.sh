#!/bin/sh
# Makes sure the build packages are present. As root, missing Debian
# packages are installed with apt-get; otherwise the missing ones are named
# and the script fails.
#
# usage: scripts/ensure-deps.sh [extra|e2e-extra|deb|deb-test]
#   (none)    what make check needs
#   extra     also clang with libFuzzer (make fuzz) and the 32-bit compilers
#             and GoogleTest sources (make check-32)
#   e2e-extra also the readers of the HTTP endpoint that its end-to-end
#             tests run (promtool, headless Chromium, Python); the tests
#             skip without them. Installed without recommended packages.
#   deb       also what make deb needs to build and check the packages
#   deb-test  also what make deb-test needs to install them in a new root
set -e

# debian/control's Build-Depends are in this list, and nut-client and
# python3-nut: the real NUT clients the end-to-end tests run against
# kovrad's NUT listener (the tests skip without them).
PACKAGES="cmake g++ make pkgconf libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev libinih-dev libcpp-httplib-dev nlohmann-json3-dev
  nut-client python3-nut"
EXTRA_PACKAGES="clang-14 libclang-rt-14-dev gcc-multilib g++-multilib googletest"
# git: the package is built from the files git knows (scripts/build-deb.sh).
DEB_PACKAGES="debhelper devscripts dpkg-dev lintian git"
DEB_TEST_PACKAGES="debootstrap iproute2"
E2E_EXTRA_PACKAGES="prometheus chromium python3"
RECOMMENDS=""

case "${1:-}" in
  "") ;;
  extra) PACKAGES="$PACKAGES $EXTRA_PACKAGES" ;;
  e2e-extra)
    PACKAGES="$PACKAGES $E2E_EXTRA_PACKAGES"
    RECOMMENDS="--no-install-recommends"
    ;;
  deb) PACKAGES="$PACKAGES $DEB_PACKAGES" ;;
  deb-test) PACKAGES="$PACKAGES $DEB_PACKAGES $DEB_TEST_PACKAGES" ;;
  *) echo "usage: $0 [extra|e2e-extra|deb|deb-test]" >&2; exit 2 ;;
esac

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
