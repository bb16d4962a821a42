#!/bin/sh
# Responsiveness of a send: the longest time the event loop of the sending thread is held
# up while a 500 MB print job is packed and uploaded to a loopback print shop.
#
#   bench/send/run-bench.sh BUILD_DIR [CORPUS_DIR]
#
# The corpus (500 MB) is made by make-print-corpus when the folder does not exist yet
# (the same folder as the packing benchmark uses). Target: no gap above 100 ms.
set -eu
build=${1:?usage: run-bench.sh BUILD_DIR [CORPUS_DIR]}
corpus=${2:-${TMPDIR:-/tmp}/kestro-print-corpus}
here=$(cd "$(dirname "$0")" && pwd)
maker=${KESTRO_CORPUS_MAKER:-$here/../../../shared/bench/make-print-corpus}
[ -d "$corpus" ] || nice -n 5 /usr/bin/python3 "$maker" "$corpus" 500
echo "corpus: $corpus ($(ls "$corpus" | wc -l) files, $(du -sb "$corpus" | cut -f1) bytes)"
exec "$build/bench/send/bench_send_responsiveness" "$corpus"
