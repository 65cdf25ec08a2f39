# Each libFuzzer harness for a few seconds, starting from its committed seed
# corpus (new inputs go to a scratch directory, the corpus stays as it is).
# For a longer run: build/fuzz/fuzz/<name>_fuzz -max_total_time=600 -max_len=4096 \
#   "$(mktemp -d)" fuzz/corpus/<name>
set -euo pipefail
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
seconds=${FUZZ_SECONDS:-5}
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  scratch=$(mktemp -d)
  log=$scratch/log
  if ! (cd "$scratch" && "$OLDPWD/build/fuzz/fuzz/${name}_fuzz" \
          -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$scratch" "$OLDPWD/$corpus") \
          >"$log" 2>&1; then
    tail -40 "$log"
    echo "$name: FAILED (reproducer in $scratch)"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cover=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  echo "$name: $runs runs in ${seconds}s, $cover, no failure"
done
