#!/usr/bin/env bash
# Benchmark: tarvex against ogr2ogr on the same rows.
#
#   bench/run.sh [N]        (default N = 1000000)
#
# Builds tarvex and tarvex-sql in Release mode (build-bench/), unless
# TARVEX_BIN and TARVEX_SQL name ready binaries; generates the data sets once
# (cached in build-bench/data, or $TARVEX_BENCH_DATA): N 2D points, N/10
# polygons of 100 vertices, N/10 3D lines of 20 vertices, each row with an
# integer and a 20-character text, as an embedded database and as a
# GeoPackage; then exports each with tarvex and with
# `ogr2ogr -f "ESRI Shapefile"`, best wall time of $REPEAT runs (default 3;
# $REPEAT_TARVEX, default REPEAT + 2, for tarvex's short runs), and prints
# wall and CPU time, rows per second, peak memory and the ratio of the wall
# times. The peak memory of
# tarvex for N points is compared with that for N/10 points. Last, the time
# to convert one geometry of 40,001 rings whose roles come from their nesting
# (bench/rings.cpp).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-1000000}
repeat=${REPEAT:-3}
repeat_tarvex=${REPEAT_TARVEX:-$((repeat + 2))}  # its runs are short: more of them
build=$root/build-bench
data=${TARVEX_BENCH_DATA:-$build/data}

if [ -z "${TARVEX_BIN:-}" ] || [ -z "${TARVEX_SQL:-}" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target tarvex tarvex-sql bench_rings >/dev/null
  TARVEX_BIN=$build/tarvex
  TARVEX_SQL=$build/src/oracle/embedded/tarvex-sql
  TARVEX_BENCH_RINGS=$build/bench/bench_rings
fi
[ -x "$TARVEX_BIN" ] && [ -x "$TARVEX_SQL" ] || { echo "tarvex or tarvex-sql missing"; exit 1; }
command -v ogr2ogr >/dev/null || { echo "ogr2ogr missing (gdal-bin)"; exit 1; }

generator_version=$(md5sum "$root/bench/generate.py" | cut -c1-8)
dataset() {  # kind rows: sets DIR, generating the data set when missing
  DIR="$data/$1-$2-$generator_version"
  if [ ! -f "$DIR/done" ]; then
    echo "generating $2 $1 ..."
    local start=$SECONDS
    /usr/bin/python3 "$root/bench/generate.py" "$1" "$2" "$DIR" "$TARVEX_SQL"
    touch "$DIR/done"
    echo "  ($((SECONDS - start)) s)"
  fi
}

# The timer: wall, user and system time and peak memory of one command.
measure_bin=$data/measure
mkdir -p "$data"
if [ ! -x "$measure_bin" ] || [ "$root/bench/measure.c" -nt "$measure_bin" ]; then
  cc -O2 -Wall -o "$measure_bin" "$root/bench/measure.c"
fi

scratch=$(mktemp -d /tmp/tarvex-bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Runs a command $1 times; sets WALL (best wall seconds), CPU (user + system
# seconds of that run) and RSS (its peak memory, KB).
measure() {
  local runs=$1 i wall user sys kb
  shift
  WALL="" CPU="" RSS=""
  for ((i = 0; i < runs; i++)); do
    rm -rf "$scratch/out" && mkdir -p "$scratch/out"
    if ! "$measure_bin" "$scratch/time" "$@" >"$scratch/log" 2>&1; then
      echo "command failed: $*"; tail -n 20 "$scratch/log"; exit 1
    fi
    read -r wall user sys kb <"$scratch/time"
    if [ -z "$WALL" ] || awk "BEGIN{exit !($wall < $WALL)}"; then
      WALL=$wall RSS=$kb CPU=$(awk -v u="$user" -v s="$sys" 'BEGIN{printf "%.2f", u + s}')
    fi
  done
}

run_tarvex() {  # dir
  TARVEX_LOG_LEVEL=error measure "$repeat_tarvex" "$TARVEX_BIN" "bench/bench@$1/db" -t bench -o "$scratch/out/bench"
}
run_ogr() {  # dir
  measure "$repeat" ogr2ogr -f "ESRI Shapefile" "$scratch/out/bench.shp" "$1/bench.gpkg" bench
}

line() {  # kind rows tool wall cpu kb
  awk -v k="$1" -v n="$2" -v t="$3" -v w="$4" -v c="$5" -v m="$6" 'BEGIN{
    printf "%-10s %9d  %-8s %8.2f %8.2f %11.0f %9.1f\n", k, n, t, w, c, (w > 0 ? n / w : 0), m / 1024 }'
}
verdict() {  # label value target: prints the line, returns 1 when missed
  if awk "BEGIN{exit !($2 >= $3)}"; then echo "  $1: $2 (target >= $3) ok"
  else echo "  $1: $2 (target >= $3) MISSED"; return 1; fi
}

datasets=("points $n 10" "polygons $((n / 10)) 3" "lines $((n / 10)) 0")
for dataset in "${datasets[@]}" "points $((n / 10)) 0"; do
  read -r kind rows _ <<<"$dataset"
  dataset "$kind" "$rows"
done

echo
printf '%-10s %9s  %-8s %8s %8s %11s %9s\n' "data" "rows" "tool" "wall s" "cpu s" "rows/s" "peak MB"
summary=()
big_rss=0
for dataset in "${datasets[@]}"; do
  read -r kind rows target <<<"$dataset"
  dataset "$kind" "$rows"
  run_tarvex "$DIR"; tw=$WALL tc=$CPU tk=$RSS
  # Every row must have been written: the index holds 8 bytes per record.
  shx=$(stat -c %s "$scratch/out/bench.shx")
  if [ "$shx" -ne $((100 + 8 * rows)) ]; then
    echo "tarvex wrote $(((shx - 100) / 8)) of $rows rows"; exit 1
  fi
  run_ogr "$DIR"; ow=$WALL oc=$CPU ok=$RSS
  line "$kind" "$rows" tarvex "$tw" "$tc" "$tk"
  line "$kind" "$rows" ogr2ogr "$ow" "$oc" "$ok"
  ratio=$(awk -v a="$ow" -v b="$tw" 'BEGIN{printf "%.1f", (b > 0 ? a / b : 0)}')
  summary+=("$kind $ratio $target")
  [ "$kind" = points ] && big_rss=$tk
done
dataset points $((n / 10))
run_tarvex "$DIR"; sw=$WALL sk=$RSS
line points $((n / 10)) tarvex "$sw" "$CPU" "$sk"
if [ -x "${TARVEX_BENCH_RINGS:-}" ]; then
  "$TARVEX_BENCH_RINGS" "$scratch/rings"
fi

echo
echo "speed-up (ogr2ogr time / tarvex time) and memory:"
status=0
for item in "${summary[@]}"; do
  read -r kind ratio target <<<"$item"
  if [ "$target" -gt 0 ]; then
    verdict "$kind" "$ratio" "$target" || status=1
  else
    echo "  $kind: $ratio"
  fi
done
growth=$(awk -v a="$big_rss" -v b="$sk" 'BEGIN{printf "%.2f", a / b}')
if awk "BEGIN{exit !($growth <= 1.10)}"; then
  echo "  peak memory, $n points / $((n / 10)) points: $growth (target <= 1.10) ok"
else
  echo "  peak memory, $n points / $((n / 10)) points: $growth (target <= 1.10) MISSED"; status=1
fi
exit $status
