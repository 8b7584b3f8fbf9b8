#!/bin/sh
# Runs the libFuzzer targets one after another, each for a given time, with one
# job (the machine is shared), and prints each run's last status line.
#
#   tests/fuzz/run_fuzzers.sh <fuzz build dir> <seconds per target> <target>...
#
# Corpora grow in <dir>/corpus/<target> (seeded from the committed parser seeds
# or from make_fuzz_seeds, minimised with -merge=1 on the first run), crashing,
# hanging and memory-hungry inputs land in <dir>/artifacts/<target>/, and the
# fuzzer's log in <dir>/logs/<target>.log. A run goes on after a finding (fork
# mode), so one run reports everything it found in its time.
set -eu
dir=$1
seconds=$2
shift 2
src=$(cd "$(dirname "$0")" && pwd)
bin=$dir/bin

mkdir -p "$dir/logs"
# Leaks that system libraries make on their own are not findings (see the file).
export LSAN_OPTIONS="suppressions=$src/../sanitize/lsan.supp:print_suppressions=0"
for target in "$@"; do
    corpus=$dir/corpus/$target
    artifacts=$dir/artifacts/$target
    mkdir -p "$corpus" "$artifacts"
    extra=""
    if [ -z "$(ls -A "$corpus")" ]; then
        seeds=$dir/seeds/$target
        rm -rf "$seeds"
        mkdir -p "$seeds"
        if [ "$target" = args ]; then
            cp "$src"/corpus/args/* "$seeds"/
        else
            "$bin/make_fuzz_seeds" "$seeds" >/dev/null 2>&1
        fi
        cp "$src"/regressions/"$target"/* "$seeds"/ 2>/dev/null || true
        "$bin/fuzz_$target" -merge=1 "$corpus" "$seeds" >"$dir/logs/$target-merge.log" 2>&1
    fi
    if [ "$target" = args ]; then
        extra="-dict=$dir/tests/fuzz/args.dict -max_len=512"
    else
        extra="-max_len=65536"
    fi
    echo "fuzzing $target for $seconds s (log: $dir/logs/$target.log)"
    # shellcheck disable=SC2086
    "$bin/fuzz_$target" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -timeout=30 -rss_limit_mb=3072 -max_total_time="$seconds" $extra \
        -artifact_prefix="$artifacts/" "$corpus" >"$dir/logs/$target.log" 2>&1 || true
    grep -E '^#[0-9]+' "$dir/logs/$target.log" | tail -n 1
    echo "findings: $(ls "$artifacts" | wc -l) file(s) in $artifacts"
done
