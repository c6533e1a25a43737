#!/usr/bin/env bash
# Builds the tree with sanitizers in build folders of its own and runs the tests under them:
#   asan  AddressSanitizer + UndefinedBehaviorSanitizer, the whole suite (browser included)
#   tsan  ThreadSanitizer, the suites that hand work between threads (browser left out)
#   fuzz  each fuzz target for a short while on top of its corpus (needs clang)
# Usage: scripts/sanitize.sh [asan] [tsan] [fuzz]   (none: all three)
# Any sanitizer report fails the run, also one from a child process whose exit code no test
# looks at: every report is written to a log folder, and a non-empty folder is a failure.
# Environment: TORVANIX_FUZZ_SECONDS (60), TORVANIX_SANITIZE_JOBS (nproc), TORVANIX_TSAN_TESTS
# (a space-separated list of suites for the thread sanitizer instead of the usual ones).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SUPP=$ROOT/scripts/sanitizers
JOBS=${TORVANIX_SANITIZE_JOBS:-$(nproc)}
FUZZ_SECONDS=${TORVANIX_FUZZ_SECONDS:-60}
# The end-to-end and web unit tests drive the browser and the page, and the kernel-level tests
# boot a VM whose guest would run sanitized programs ten times slower; they run in the plain tree,
# as do the install and package checks (files and fields, the same in every tree).
EXCLUDE_LABELS='e2e|web|vm|install'
# The suites that hand work between threads: translation pool and per-device order, command
# lane, firmware worker, simulator state shared across processes, audio player, and the
# command-line runs that end right after a translation. Only these are built in that tree.
TSAN_SUITES=(dispatch_test packet_serial_test models_test ctl_apply_sim_test core_test
    dispatch_updates_test dispatch_audio_player_test dispatch_page_commands_test
    dispatch_ctl_call_test simulator_tests device_simulator_test device_operations_test
    device_ctl_test desktop_foundation_test resume_restore_test battery_test lightserver_test
    lighting_server_piece_test)
if [ -n "${TORVANIX_TSAN_TESTS:-}" ]; then read -r -a TSAN_SUITES <<<"$TORVANIX_TSAN_TESTS"; fi

steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(asan tsan fuzz)

have_clang() { command -v clang >/dev/null && command -v clang++ >/dev/null; }

failed=0
fail() {
    echo "sanitize: $*" >&2
    failed=1
}

# Configures (once) and builds one tree. $1 folder, then extra cmake arguments.
build_tree() {
    local dir=$1
    shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANIX_BUILD_BENCH=OFF \
            "$@"
    fi
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$JOBS" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
}

# Prints the reports left in a log folder (and fails) when there are any.
check_reports() {
    local logs=$1 what=$2
    local found
    found=$(find "$logs" -type f -size +0 2>/dev/null | sort)
    if [ -n "$found" ]; then
        for f in $found; do
            echo "==== $f"
            head -c 20000 "$f"
        done
        fail "$what: $(echo "$found" | wc -l) sanitizer report file(s)"
    fi
}

run_ctest() {
    local dir=$1
    shift
    (
        cd "$dir"
        export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software QTWEBENGINE_DISABLE_SANDBOX=1
        ctest --output-on-failure -j "$JOBS" --timeout 1800 "$@"
    )
}

asan() {
    local dir=build-asan cc=gcc cxx=g++
    # clang's UBSan also checks float-to-integer conversions that overflow.
    if have_clang; then cc=clang cxx=clang++; fi
    local flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    # Our classes are seen through pointers typed by Qt, which carries no sanitizer type data.
    flags="$flags -fno-sanitize=vptr"
    build_tree "$dir" -DCMAKE_C_COMPILER=$cc -DCMAKE_CXX_COMPILER=$cxx \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
        -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
        -DTORVANIX_TEST_TIMEOUT_SCALE=4
    local logs=$ROOT/$dir/sanitizer-logs
    rm -rf "$logs" && mkdir -p "$logs"
    # Full stacks for leaks: through libraries built without frame pointers the fast unwinder
    # stops early, and a leak inside them could then not be told from one of ours.
    export ASAN_OPTIONS="log_path=$logs/asan:detect_leaks=1:fast_unwind_on_malloc=0:abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
    export LSAN_OPTIONS="suppressions=$SUPP/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="log_path=$logs/ubsan:print_stacktrace=1:halt_on_error=1:suppressions=$SUPP/ubsan.supp"
    run_ctest "$dir" -LE "$EXCLUDE_LABELS" || fail "asan: tests failed"
    unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
    check_reports "$logs" asan
}

tsan() {
    local dir=build-tsan cc=gcc cxx=g++
    if have_clang; then cc=clang cxx=clang++; fi
    local flags="-fsanitize=thread -fno-omit-frame-pointer"
    BUILD_TARGETS="${TSAN_SUITES[*]}" build_tree "$dir" -DCMAKE_C_COMPILER=$cc \
        -DCMAKE_CXX_COMPILER=$cxx -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
        -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
        -DTORVANIX_WITH_BROWSER=OFF -DTORVANIX_TEST_TIMEOUT_SCALE=4
    # Qt's own hand-offs made visible to the sanitizer (see the shim's header).
    local shim=$ROOT/$dir/libqt_tsan_shim.so
    if [ ! -f "$shim" ] || [ "$SUPP/qt_tsan_shim.cpp" -nt "$shim" ]; then
        # shellcheck disable=SC2046
        $cxx -std=c++17 -shared -fPIC -O1 -o "$shim" "$SUPP/qt_tsan_shim.cpp" \
            $(pkg-config --cflags --libs Qt5Core) -ldl
    fi
    local logs=$ROOT/$dir/sanitizer-logs
    rm -rf "$logs" && mkdir -p "$logs"
    export TSAN_OPTIONS="log_path=$logs/tsan:suppressions=$SUPP/tsan.supp:second_deadlock_stack=1:ignore_noninstrumented_modules=1:history_size=4"
    local pattern
    pattern="^($(
        IFS='|'
        echo "${TSAN_SUITES[*]}"
    ))\$"
    LD_PRELOAD=$shim run_ctest "$dir" -R "$pattern" || fail "tsan: tests failed"
    unset TSAN_OPTIONS
    check_reports "$logs" tsan
}

fuzz() {
    if ! have_clang; then
        echo "sanitize: no clang, the fuzz targets only replay their corpus (in the other trees)"
        return 0
    fi
    local dir=build-fuzz
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
            -DCMAKE_CXX_COMPILER=clang++ -DTORVANIX_FUZZ=ON -DTORVANIX_WITH_BROWSER=OFF \
            -DTORVANIX_BUILD_BENCH=OFF
    fi
    local targets
    targets=$(cd fuzz && ls ./*_fuzz.cpp | sed 's|^\./||; s|\.cpp$||')
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$JOBS" --target $targets
    local t
    for t in $targets; do
        # The checked-in corpus stays as it is; new finds go to a scratch copy.
        local work=$ROOT/$dir/corpus-$t
        rm -rf "$work" && mkdir -p "$work"
        [ -d "fuzz/corpus/$t" ] && cp -r "fuzz/corpus/$t/." "$work/"
        echo "sanitize: fuzzing $t for ${FUZZ_SECONDS}s"
        if ! (cd "$dir" && UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            ASAN_OPTIONS=detect_leaks=1 \
            "fuzz/$t" -max_total_time="$FUZZ_SECONDS" -timeout=20 -rss_limit_mb=4096 \
            -print_final_stats=1 -artifact_prefix="$ROOT/$dir/crash-$t-" "$work" \
            >"$ROOT/$dir/$t.log" 2>&1); then
            tail -n 60 "$ROOT/$dir/$t.log"
            fail "fuzz: $t found a fault (input kept as $dir/crash-$t-*)"
        else
            grep -E '^(stat::number_of_executed_units|#[0-9]+ +DONE)' "$ROOT/$dir/$t.log" | tail -n 2 || true
        fi
    done
}

for s in "${steps[@]}"; do
    case $s in
    asan | tsan | fuzz) time "$s" ;;
    *)
        echo "usage: $0 [asan] [tsan] [fuzz]" >&2
        exit 2
        ;;
    esac
done
exit $failed
