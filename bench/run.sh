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
# times; the write floor (the same file sizes written with plain sequential
# writes), the read floor (every row and column of the table read through
# SQLite alone) and tarvex's time as a multiple of the two together. The
# peak memory of tarvex for N points is compared with that for N/10 points,
# and its time for N points with --t-srs EPSG:3857 with its time without.
# Then the one table of N points read over 1, 2 and 4 connections (-j),
# without and with a simulated server round trip of 5 ms per prefetch batch
# (TARVEX_EMBEDDED_ROUND_TRIP_MS, read by the embedded client only), its
# peak memory at -j 4 compared with that for N/10 points at -j 4; and a "*"
# run over a schema of 20 tables of mixed kinds at -j 1, 2 and 4, without
# and with a round trip of 1 ms (no targets: figures only). Last, the
# time to convert one geometry of 40,001 rings whose roles come from their
# nesting (bench/rings.cpp). First it prints what it runs on: CPU, load, build
# type and commit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-1000000}
repeat=${REPEAT:-3}
repeat_tarvex=${REPEAT_TARVEX:-$((repeat + 2))}  # its runs are short: more of them
build=$root/build-bench
data=${TARVEX_BENCH_DATA:-$build/data}

if [ -z "${TARVEX_BIN:-}" ] || [ -z "${TARVEX_SQL:-}" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARVEX_SANITIZE=OFF -DTARVEX_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target tarvex tarvex-sql bench_rings >/dev/null
  TARVEX_BIN=$build/tarvex
  TARVEX_SQL=$build/tarvex-sql
  TARVEX_BENCH_RINGS=$build/bench/bench_rings
fi
[ -x "$TARVEX_BIN" ] && [ -x "$TARVEX_SQL" ] || { echo "tarvex or tarvex-sql missing"; exit 1; }

# What the figures were measured on. The build type comes from the CMake
# cache of the directory that holds the tarvex binary.
build_of() {  # binary: prints "<type>[, sanitized]" or "unknown"
  local dir cache type
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  cache=$dir/CMakeCache.txt
  [ -f "$cache" ] || { echo unknown; return; }
  type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$cache")
  grep -q '^TARVEX_SANITIZE:BOOL=ON' "$cache" && type="$type, sanitized"
  echo "${type:-none}"
}
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ "$commit" != unknown ] && ! git -C "$root" diff --quiet HEAD -- src bench CMakeLists.txt 2>/dev/null; then
  commit="$commit (with local changes)"
fi
# Under a hypervisor the model name may hide the generation: family, model
# and stepping tell it.
cpuinfo() { sed -n "s/^$1[[:space:]]*: //p" /proc/cpuinfo | head -n 1; }
echo "cpu:    $(cpuinfo 'model name') (family $(cpuinfo 'cpu family'), model $(cpuinfo model)," \
  "stepping $(cpuinfo stepping), $(cpuinfo 'cpu MHz' | cut -d. -f1) MHz), $(nproc) CPUs"
echo "load:   $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
echo "build:  $(build_of "$TARVEX_BIN") ($TARVEX_BIN)"
echo "commit: $commit"
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
# The floor: the same bytes written with plain sequential writes.
floor_bin=$data/floor
if [ ! -x "$floor_bin" ] || [ "$root/bench/floor.c" -nt "$floor_bin" ]; then
  cc -O2 -Wall -o "$floor_bin" "$root/bench/floor.c"
fi

# The embedded database alone: every row and column read through SQLite.
sqlite_bin=$data/sqlite_read
if [ ! -x "$sqlite_bin" ] || [ "$root/bench/sqlite_read.c" -nt "$sqlite_bin" ]; then
  cc -O2 -Wall -o "$sqlite_bin" "$root/bench/sqlite_read.c" -lsqlite3
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

run_tarvex() {  # dir [jobs [round-trip-ms [options...]]]
  TARVEX_EMBEDDED_ROUND_TRIP_MS=${3:-0} TARVEX_LOG_LEVEL=error measure "$repeat_tarvex" \
    "$TARVEX_BIN" "bench/bench@$1/db" -t bench -o "$scratch/out/bench" -j "${2:-1}" "${@:4}"
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
verdict_at_most() {  # label value target
  if awk "BEGIN{exit !($2 <= $3)}"; then echo "  $1: $2 (target <= $3) ok"
  else echo "  $1: $2 (target <= $3) MISSED"; return 1; fi
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.1f", (b > 0 ? a / b : 0)}'; }

# The floor of the set just written in $scratch/out: sets FW, FC (wall and
# CPU seconds).
run_floor() {
  local sizes
  sizes=$(stat -c %s "$scratch/out/bench.shp" "$scratch/out/bench.shx" "$scratch/out/bench.dbf")
  mkdir -p "$scratch/floor"
  # shellcheck disable=SC2086
  measure "$repeat_tarvex" "$floor_bin" "$scratch/floor" $sizes
  FW=$WALL FC=$CPU FK=$RSS
  rm -rf "$scratch/floor"
}

# one-connection targets: speed-up against ogr2ogr
datasets=("points $n 7" "polygons $((n / 10)) 3" "lines $((n / 10)) 3.5")
for dataset in "${datasets[@]}" "points $((n / 10)) 0" "schema $n 0"; do
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
  run_floor; fw=$FW fc=$FC fk=$FK
  measure "$repeat_tarvex" "$sqlite_bin" "$DIR/db/BENCH.db" BENCH; sqw=$WALL sqc=$CPU sqk=$RSS
  run_ogr "$DIR"; ow=$WALL oc=$CPU ok=$RSS
  line "$kind" "$rows" tarvex "$tw" "$tc" "$tk"
  line "$kind" "$rows" ogr2ogr "$ow" "$oc" "$ok"
  line "$kind" "$rows" floor "$fw" "$fc" "$fk"
  line "$kind" "$rows" sqlite "$sqw" "$sqc" "$sqk"
  summary+=("$kind $(ratio "$ow" "$tw") $target $(awk -v a="$tw" -v b="$fw" -v c="$sqw" 'BEGIN{printf "%.2f", (b + c > 0 ? a / (b + c) : 0)}')")
  [ "$kind" = points ] && big_rss=$tk
  if [ "$kind" = points ]; then
    # The same rows reprojected (they have no SRID: --s-srs names theirs).
    run_tarvex "$DIR" 1 0 --s-srs EPSG:4326 --t-srs EPSG:3857
    line "$kind" "$rows" --t-srs "$WALL" "$CPU" "$RSS"
    reproject_ratio=$(awk -v a="$WALL" -v b="$tw" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}')
  fi
done
dataset points $((n / 10))
run_tarvex "$DIR"; sw=$WALL sk=$RSS
line points $((n / 10)) tarvex "$sw" "$CPU" "$sk"
if [ -x "${TARVEX_BENCH_RINGS:-}" ]; then
  "$TARVEX_BENCH_RINGS" "$scratch/rings"
fi

# The one table of N points over 1, 2 and 4 connections, then the same with
# a simulated round trip of 5 ms per prefetch batch.
dataset points "$n"
table_dir=$DIR
echo
printf '%-32s %8s %8s %9s %9s\n' "one table of $n points, -t" "wall s" "cpu s" "speed-up" "peak MB"
table_summary=()
for delay in 0 5; do
  for jobs in 1 2 4; do
    run_tarvex "$table_dir" "$jobs" "$delay"
    shx=$(stat -c %s "$scratch/out/bench.shx")
    if [ "$shx" -ne $((100 + 8 * n)) ]; then
      echo "tarvex -j $jobs wrote $(((shx - 100) / 8)) of $n rows"; exit 1
    fi
    [ "$jobs" = 1 ] && base=$WALL
    [ "$delay" = 0 ] && [ "$jobs" = 4 ] && table_rss=$RSS
    label="-j $jobs"; [ "$delay" != 0 ] && label="-j $jobs, $delay ms round trips"
    awk -v l="$label" -v w="$WALL" -v c="$CPU" -v b="$base" -v m="$RSS" 'BEGIN{
      printf "%-32s %8.2f %8.2f %9.2f %9.1f\n", l, w, c, (w > 0 ? b / w : 0), m / 1024 }'
    table_summary+=("$delay $jobs $(awk -v a="$base" -v b="$WALL" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}')")
  done
done
dataset points $((n / 10))
run_tarvex "$DIR" 4; small_table_rss=$RSS
awk -v l="-j 4, $((n / 10)) points" -v w="$WALL" -v c="$CPU" -v m="$RSS" 'BEGIN{
  printf "%-32s %8.2f %8.2f %9s %9.1f\n", l, w, c, "", m / 1024 }'

# The schema of 20 tables: "*" at -j 1, 2 and 4, then the same with a
# simulated round trip of 1 ms per prefetch batch.
dataset schema "$n"
schema_dir=$DIR
run_schema() {  # jobs round-trip-ms: sets WALL CPU RSS
  TARVEX_EMBEDDED_ROUND_TRIP_MS=$2 TARVEX_LOG_LEVEL=error measure "$repeat_tarvex" \
    "$TARVEX_BIN" "bench/bench@$schema_dir/db" -t "*" -o "$scratch/out/" -j "$1"
  local sets
  sets=$(find "$scratch/out" -name '*.shp' | wc -l)
  [ "$sets" -eq 20 ] || { echo "tarvex wrote $sets of 20 sets"; exit 1; }
}
echo
printf '%-26s %8s %8s %9s %9s\n' "schema of 20 tables, -t *" "wall s" "cpu s" "speed-up" "peak MB"
schema_summary=()
for delay in 0 1; do
  for jobs in 1 2 4; do
    run_schema "$jobs" "$delay"
    [ "$jobs" = 1 ] && base=$WALL
    label="-j $jobs"; [ "$delay" = 1 ] && label="-j $jobs, 1 ms round trips"
    awk -v l="$label" -v w="$WALL" -v c="$CPU" -v b="$base" -v m="$RSS" 'BEGIN{
      printf "%-26s %8.2f %8.2f %9.2f %9.1f\n", l, w, c, (w > 0 ? b / w : 0), m / 1024 }'
    schema_summary+=("$delay $jobs $(awk -v a="$base" -v b="$WALL" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}')")
  done
done

echo
echo "speed-up (ogr2ogr time / tarvex time), tarvex time / (read floor + write floor), parallel speed-ups"
echo "and memory:"
status=0
for item in "${summary[@]}"; do
  read -r kind ratio target multiple <<<"$item"
  verdict "$kind" "$ratio" "$target" || status=1
  echo "  $kind, tarvex time / (read floor + write floor): $multiple"
done
verdict_at_most "points --t-srs EPSG:3857, time / plain export's time" "$reproject_ratio" 1.5 || status=1
for item in "${table_summary[@]}"; do
  read -r delay jobs speedup <<<"$item"
  if [ "$delay" = 0 ] && [ "$jobs" = 2 ]; then
    verdict "one table, -j 2 against -j 1" "$speedup" 1.4 || status=1
  elif [ "$delay" = 5 ] && [ "$jobs" = 4 ]; then
    verdict "one table with 5 ms round trips, -j 4 against -j 1" "$speedup" 3 || status=1
  fi
done
memory() {  # label big small
  local growth
  growth=$(awk -v a="$2" -v b="$3" 'BEGIN{printf "%.2f", a / b}')
  verdict_at_most "peak memory, $1" "$growth" 1.10
}
memory "$n points / $((n / 10)) points" "$big_rss" "$sk" || status=1
memory "$n points / $((n / 10)) points at -j 4" "$table_rss" "$small_table_rss" || status=1
exit $status
