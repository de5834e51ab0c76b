#!/bin/sh
# Builds the regular-expression fuzz target with the "fuzz" preset and runs it for the given
# number of seconds (default 600) on one core, keeping its corpus under build/fuzz/.
# Findings (crash-*, timeout-*, oom-*) are written to build/fuzz/regex-findings/.
set -eu

seconds="${1:-600}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build/fuzz"
corpus="$build/regex-corpus"
findings="$build/regex-findings"

cmake --preset fuzz -S "$root" >/dev/null
cmake --build "$build" --target regex_fuzz -j2

mkdir -p "$corpus" "$findings"
# Seed the corpus with the shapes the callers use: the charset pattern over a page head, the
# quote marker, groups and Chinese text. Layout: option bits, pattern, 0, subject, 0, replacement.
seed() { printf "$2" >"$corpus/seed-$1"; }
seed charset '\007<meta.+?charset=[^\\w]?([-\\w]+)\000<html><META http-equiv="Content-Type" content="text/html; charset=gbk">\000$1'
seed quote '\017a=#\322\375\272\305(\\w+)#\322\375\272\305\000x a="v" y\000[$&]'
seed groups '\006(a)|(b)?\\1\000abab\000$2$1$`$'"'"'$$'
seed chinese '\005[^\\w]+?\000\326\320\316\304abc\241\241\000$01'
seed empty '\004x*\000abc\000-'

# -jobs=1 keeps libFuzzer to one worker process; -timeout fails a single input that runs
# longer than 10 s; -max_len keeps inputs page-head sized.
cd "$build"
status=0
"$build/tests/fuzz/regex_fuzz" "$corpus" -max_total_time="$seconds" -jobs=1 -workers=1 \
    -timeout=10 -max_len=2048 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" || status=$?
# libFuzzer writes a job's output to fuzz-<job>.log.
tail -n 30 "$build/fuzz-0.log"
exit "$status"
