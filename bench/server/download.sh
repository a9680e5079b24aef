#!/usr/bin/env bash
# Download of a build whose Base64 text is 24 MiB from the update mirror on
# loopback. Baseline: curl fetching the same request the client sends. Then:
#   - the client's GetBuild + Base64 decoding: once per process (wall time and
#     peak RSS comparable with curl's), then repeated in process, whole and
#     streamed (bench_server_getbuild);
#   - `updater -G` as a whole process, when QC_BENCH_UPDATER=1 (the hook for
#     the command line's download, once -G is wired).
# Targets: -G wall time <= 1.5 x curl's; its peak RSS <= 3 x the Base64 size.
#
#   bench/server/download.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
runs=${2:-5}
base64_bytes=$((24 * 1024 * 1024))

cmake --build "$build" --target update-mirror bench-make-bird bench_server_getbuild >/dev/null

work=$(mktemp -d /tmp/qc-bench-server-XXXXXX)
mirror_pid=""
cleanup() {
  if [ -n "$mirror_pid" ]; then
    kill "$mirror_pid" 2>/dev/null || true
    wait "$mirror_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root/0000ABCD" "$work/store"
file_bytes=$("$build/bench/bench-make-bird" "$work/root/0000ABCD/1000.bird" "$base64_bytes")

"$build/update-mirror" --root "$work/root" --port 0 >"$work/port" &
mirror_pid=$!
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  sleep 0.05
done
port=$(head -n 1 "$work/port")
base="http://127.0.0.1:$port/cgi/u"
url="$base?bld=1000&fw=quillcore&no_cal=false&op=bird&sn=0000ABCD&"

body_bytes=$(curl -s -o - "$url" | wc -c)
echo "build file: $file_bytes bytes; Base64 text: $base64_bytes bytes; answer body: $body_bytes bytes"
echo "request:    $url"
echo

# once LABEL COMMAND...: one run; appends its wall time (us) and peak RSS (KiB).
once() {
  local label=$1
  shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/$label.err" || {
    echo "$label failed:"; cat "$work/$label.err"; return 1; }
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(tail -n 1 "$work/rss")" >>"$work/$label.runs"
}

# summary LABEL: the median and best wall time and the largest peak RSS.
summary() {
  sort -n "$work/$1.runs" | awk -v label="$1" -v n="$runs" '
    { wall[NR] = $1; if ($2 > rss) rss = $2 }
    END { printf "%-12s median %8.1f ms   best %8.1f ms   peak RSS %7.1f MiB   (%d runs)\n",
                 label, wall[int((n + 1) / 2)] / 1000, wall[1] / 1000, rss / 1024, n }'
}

median() { sort -n "$work/$1.runs" | awk -v n="$runs" '{ w[NR] = $1 } END { print w[int((n + 1) / 2)] }'; }

# Interim stand-in for -G: one GetBuild + Base64 decode as a whole process.
export QC_BENCH_URL=$base QC_BENCH_SERIAL=0000ABCD QC_BENCH_BUILD=1000
labels="curl getbuild-1x"
[ "${QC_BENCH_UPDATER:-0}" = 1 ] && labels="$labels updater-G"
# The commands take turns, so that a slow spell of the machine hits all of them alike.
for _ in $(seq "$runs"); do
  once curl curl -s -o /dev/null "$url"
  once getbuild-1x "$build/bench/bench_server_getbuild" --benchmark_filter=BM_GetBuildDecode \
    --benchmark_min_time=0.000001
  if [ "${QC_BENCH_UPDATER:-0}" = 1 ]; then
    # The whole command line: ping, build query, validation against the build
    # list, download, decode, check and store (synced to disk).
    once updater-G "$build/updater" -u "127.0.0.1:$port/cgi/u" -G -d 0000ABCD -b 1000 -i "$work/store"
  fi
done
for label in $labels; do summary "$label"; done
if [ "${QC_BENCH_UPDATER:-0}" = 1 ]; then
  awk -v g="$(median updater-G)" -v c="$(median curl)" -v rss="$(sort -k2 -n "$work/updater-G.runs" | tail -n 1 | cut -d' ' -f2)" \
      -v b="$base64_bytes" 'BEGIN { printf "updater -G / curl: %.2f (goal <= 1.5); peak RSS / Base64 size: %.2f (goal <= 3)\n", g / c, rss * 1024 / b }'
fi
echo

"$build/bench/bench_server_getbuild" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true
