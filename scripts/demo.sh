#!/usr/bin/env bash
# The main job: builds the codec benchmark and prints its table on a generated corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target codec_bench
bash bench/make_corpus.sh bench/corpus
build/default/bin/codec_bench bench/corpus
