#!/usr/bin/env bash
# Start-up of KestroClient to its main window shown, warm, with an existing database:
# runs the client RUNS times (offscreen, leaving as soon as the window is shown) and
# prints the median and the slowest wall time.
#   bench/startup/bench-startup.sh BUILD_DIR [RUNS=20]
set -euo pipefail
build=${1:?build folder}
runs=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{appdata,cache,drive,registry}
export APPDATA=$work/appdata LOCALAPPDATA=$work/cache SystemDrive=$work/drive
export VARNHOLT_REGISTRY=$work/registry VELLMON_RUNTIME_DIR=$work/run KESTRO_CONFIG=$work/kestro.conf
export QT_QPA_PLATFORM=offscreen KESTRO_QUIT_WHEN_SHOWN=1
printf '[Maker]\nWebServer=http://127.0.0.1:1\n' > "$KESTRO_CONFIG"
"$build/client/cli/kestro-demo-seed" "$work/drive/jobs.mdb" >/dev/null
printf '{"Software\\\\Varnholt\\\\KestroFTP\\\\Client": {"Databank": "%s"}}\n' "$work/drive/jobs.mdb" \
    > "$VARNHOLT_REGISTRY/HKEY_LOCAL_MACHINE.json"
"$build/client/app/KestroClient" 2>/dev/null # warm-up: caches, the version markers
times=()
for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    "$build/client/app/KestroClient" 2>/dev/null
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000000 )))
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "start-up to main window shown (${runs} runs): median ${sorted[$((runs / 2))]} ms, slowest ${sorted[$((runs - 1))]} ms (target: median under 300 ms)"
