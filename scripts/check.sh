#!/bin/sh
# The one test command: builds everything and runs every test. It needs
# nothing but a POSIX shell and dpkg to start: the build packages, make
# included, are installed first when run as root on Debian; as another user
# the missing ones are named and it stops.
set -eu
cd "$(dirname "$0")/.."
sh scripts/ensure-deps.sh
exec make check
