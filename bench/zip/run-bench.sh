#!/bin/sh
# Packing benchmark: our packer against Info-ZIP's `zip -j -6` over the same print job,
# in the same run, repeated; prints each round and the medians and ratios.
#
#   bench/zip/run-bench.sh BUILD_DIR [CORPUS_DIR] [ROUNDS]
#
# The corpus (500 MB) is made by make-print-corpus when the folder does not exist yet.
# Targets: time ratio <= 0.40, size ratio <= 1.02.
set -eu
build=${1:?usage: run-bench.sh BUILD_DIR [CORPUS_DIR] [ROUNDS]}
corpus=${2:-${TMPDIR:-/tmp}/kestro-print-corpus}
rounds=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
maker=${KESTRO_CORPUS_MAKER:-$here/../../../shared/bench/make-print-corpus}
packer=$build/bench/zip/bench_zip_pack
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -d "$corpus" ] || nice -n 5 /usr/bin/python3 "$maker" "$corpus" 500
echo "corpus: $corpus ($(ls "$corpus" | wc -l) files, $(du -sb "$corpus" | cut -f1) bytes)"

now() { date +%s.%N; }
: >"$work/zip.t"
: >"$work/ours.t"
i=1
while [ "$i" -le "$rounds" ]; do
    rm -f "$work/z.zip" "$work/o.zip"
    t0=$(now)
    nice -n 5 zip -q -j -6 "$work/z.zip" "$corpus"/*
    t1=$(now)
    nice -n 5 "$packer" "$work/o.zip" "$corpus"/* >"$work/ours.out"
    t2=$(now)
    zt=$(echo "$t1 - $t0" | bc)
    ot=$(echo "$t2 - $t1" | bc)
    echo "$zt" >>"$work/zip.t"
    echo "$ot" >>"$work/ours.t"
    printf 'round %d: zip -j -6 %.2f s, ours %.2f s (%s)\n' "$i" "$zt" "$ot" \
        "$(cat "$work/ours.out")"
    i=$((i + 1))
done
unzip -tq "$work/o.zip" >/dev/null || { echo "our archive fails unzip -t"; exit 1; }
median() { sort -n "$1" | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
zm=$(median "$work/zip.t")
om=$(median "$work/ours.t")
zs=$(stat -c %s "$work/z.zip")
os=$(stat -c %s "$work/o.zip")
printf 'median time: zip %.2f s, ours %.2f s, ratio %.3f (target <= 0.40)\n' "$zm" "$om" \
    "$(echo "scale=4; $om / $zm" | bc)"
printf 'size: zip %d bytes, ours %d bytes, ratio %.4f (target <= 1.02)\n' "$zs" "$os" \
    "$(echo "scale=6; $os / $zs" | bc)"
