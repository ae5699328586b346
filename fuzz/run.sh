#!/usr/bin/env bash
# Builds the extension with clang (AddressSanitizer, UBSan, libFuzzer's coverage counters) into its own venv
# and build folder, then runs the differential fuzzer (fuzz/harness.py) on one core.
#   fuzz/run.sh SECONDS [libFuzzer flags...]   fuzz for that long; exits non-zero on a finding
#   fuzz/run.sh replay FILE...                  run saved inputs once each
#   fuzz/run.sh show FILE                       print what an input decodes to and the three reports
# Findings go to fuzz/failures/ (crash-*, timeout-*, oom-*); inputs that reach new coverage to build/fuzz-corpus/.
# FUZZ_REBUILD=0 skips the build when the venv already holds one.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:?usage: fuzz/run.sh SECONDS | replay FILE... | show FILE}
shift

VENV=.venv-fuzz
BUILD=build/fuzz
# UBSan without its vptr and function checks, whose handlers live in a C++ runtime that the preloaded one lacks.
SANITIZE="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=vptr,function -fno-sanitize-recover=all"

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer_no_main-x86_64.a >/dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev
fi

if [ ! -x "$VENV/bin/python" ]; then
    python3 -m venv "$VENV"
fi
if ! "$VENV/bin/python" -c "import atheris, scikit_build_core" 2>/dev/null; then
    "$VENV/bin/pip" install -q atheris==3.0.0 scikit-build-core cmake ninja
fi

if [ "${FUZZ_REBUILD:-1}" != 0 ] || ! ls "$VENV"/lib/python3.11/site-packages/tavik/amazon_rufus/services/rundown_writer.*.so >/dev/null 2>&1; then
    CC=clang CXX=clang++ "$VENV/bin/pip" install -q --no-build-isolation --force-reinstall --no-deps \
        -Cbuild-dir="$BUILD" -Ccmake.build-type=RelWithDebInfo \
        "-Ccmake.define.CMAKE_CXX_FLAGS=$SANITIZE -fno-omit-frame-pointer" .
fi

# libFuzzer and the ASan runtime come in atheris's preloadable library; the interpreter is not instrumented, so
# its own leaks are not reported, and PYTHONMALLOC=malloc sends Python objects through the sanitizer's allocator.
RUNTIME=$("$VENV/bin/python" -c "import atheris, os; print(os.path.join(atheris.path(), 'asan_with_fuzzer.so'))")
export LD_PRELOAD=$RUNTIME PYTHONMALLOC=malloc
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

case "$mode" in
    show)
        exec "$VENV/bin/python" fuzz/harness.py --show "$@"
        ;;
    replay)
        exec "$VENV/bin/python" fuzz/harness.py "$@"
        ;;
esac

mkdir -p build/fuzz-corpus fuzz/failures
# -len_control=0: long inputs from the start (a record with several answers needs some hundreds of bytes).
exec "$VENV/bin/python" fuzz/harness.py build/fuzz-corpus fuzz/corpus fuzz/findings \
    -max_total_time="$mode" -max_len=4096 -len_control=0 -timeout=30 -rss_limit_mb=4096 \
    -dict=fuzz/markdown.dict -artifact_prefix=fuzz/failures/ -print_final_stats=1 "$@"
