#!/usr/bin/env bash
# Builds the Debian package of tarvex (in build-package/), installs it with
# dpkg, checks the installed files (tarvex --version, the man pages, an
# export of the sample database with the installed programs) and removes the
# package again. Run as root on Debian 12, after scripts/install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_TESTS=OFF
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/tarvex_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/tarvex_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

if dpkg-query -W tarvex >/dev/null 2>&1; then
  echo "tarvex is installed already; remove it before running this check" >&2
  exit 1
fi
work=$(mktemp -d)
cleanup() {
  dpkg -r tarvex >/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
dpkg -i "$deb"

# From here on only the installed files are used.
cd "$work"
/usr/bin/tarvex --version
man -w tarvex
man -w tarvex-sql
/usr/bin/tarvex-sql db "$OLDPWD"/sample/*.sql
mkdir out
/usr/bin/tarvex demo/demo@db -t "*" -o out/ -p -e -i
test -s out/cities.shp && test -s out/cities.prj
grep -q '^GEOGCS\["GCS_WGS_1984"' out/cities.prj
echo "The installed package exports the sample database."
