#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it for a bounded time (seconds, default 30).
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
out="$root/build-fuzz"
mkdir -p "$out"
clang=$(command -v clang++-14 || command -v clang++)
flags=(-std=c++2b -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I "$root" -I "$root/tests/fuzz")
"$clang" "${flags[@]}" "$root/tests/fuzz/json_fuzz.cpp" "$root/mirlet/cli/json.cpp" -o "$out/json_fuzz"
for target in json_fuzz; do
  mkdir -p "$out/corpus-$target"
  echo "fuzzing $target for ${seconds}s"
  "$out/$target" -max_total_time="$seconds" -max_len=256 -print_final_stats=1 "$out/corpus-$target" 2>"$out/$target.log" \
    || { tail -40 "$out/$target.log"; exit 1; }
  grep -E "stat::number_of_executed_units" "$out/$target.log" || true
done
