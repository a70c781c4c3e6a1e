#!/usr/bin/env bash
# Installs the dependencies, builds tarvex with the embedded Oracle client and
# its sample database, and exports every spatial table of the sample schema
# to shapefiles under out/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)"
mkdir -p out
./build/tarvex demo/demo@build/sample-db -t "*" -o out/ -p -e -i -a 1
echo
echo "Shapefiles written to $(pwd)/out:"
ls out
