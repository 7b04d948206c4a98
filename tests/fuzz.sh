#!/usr/bin/env bash
# Runs one libFuzzer target: builds it with clang and the address and
# undefined-behaviour sanitizers in build/fuzz, then fuzzes for a bounded time
# (FUZZ_SECONDS, default 60). Exits non-zero when an input crashes, hangs,
# leaks, breaks a target's own check or trips a sanitizer; the input is kept
# under build/fuzz/<target>_artifacts/.
# Usage: tests/fuzz.sh <target> <folder of the target under tests/>
set -euo pipefail

TARGET=$1
FOLDER=$2
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${ROOT}/build/fuzz"
SECONDS_TO_RUN="${FUZZ_SECONDS:-60}"
SANITIZE="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

cmake -S "${ROOT}" -B "${BUILD}" -G Ninja \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTRAKEL_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="${SANITIZE} -fsanitize=fuzzer-no-link" \
  -DCMAKE_EXE_LINKER_FLAGS="${SANITIZE}" >/dev/null
ninja -C "${BUILD}" -j2 "${TARGET}"

CORPUS="${BUILD}/${TARGET%_fuzz}_corpus"
ARTIFACTS="${BUILD}/${TARGET%_fuzz}_artifacts"
mkdir -p "${CORPUS}" "${ARTIFACTS}"

QT_QPA_PLATFORM=offscreen ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  "${BUILD}/tests/${FOLDER}/${TARGET}" \
  -max_total_time="${SECONDS_TO_RUN}" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
  -artifact_prefix="${ARTIFACTS}/" \
  "${CORPUS}" "${ROOT}/tests/${FOLDER}/fuzz/seeds"
