#!/usr/bin/env bash
# Builds the Debian packages (kovra, kovra-sim) from the files git knows
# (committed or not, never build output) in a copy under OUT_DIR, so that
# the packages, .changes and .buildinfo land in OUT_DIR rather than beside
# the clone, then runs lintian on them; an error fails the build.
#
# usage: scripts/build-deb.sh [OUT_DIR]   (default build-deb)
# DEB_BUILD_OPTIONS passes through (for example nocheck, parallel=2).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT_DIR=${1:-build-deb}
case "$OUT_DIR" in /*) ;; *) OUT_DIR="$ROOT/$OUT_DIR" ;; esac

VERSION=$(dpkg-parsechangelog -l "$ROOT/debian/changelog" -S Version)
SOURCE="$OUT_DIR/kovra-$VERSION"

rm -rf "$OUT_DIR"
mkdir -p "$SOURCE"
# A clean tree: what git tracks plus new files it does not ignore.
(cd "$ROOT" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null -T - -cf -) | tar -xf - -C "$SOURCE"

export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=2}"
(cd "$SOURCE" && dpkg-buildpackage -us -uc -b)

cd "$OUT_DIR"
ls -l ./*.deb
CHANGES=$(ls ./kovra_*.changes)
echo "lintian $CHANGES"
lintian --fail-on error --display-info "$CHANGES"
