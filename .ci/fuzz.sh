#!/bin/bash
# Runs every fuzz harness of a fuzz build tree for a bounded time, starting from its seed
# corpus when fuzz/corpus/<name>/ exists. New inputs go to a scratch folder, never the tree.
set -euo pipefail
tree=${1:?usage: fuzz.sh BUILD_TREE}
seconds=${FUZZ_SECONDS:-5}
src=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
harnesses=("$tree"/fuzz/fuzz_*)
if [[ ${#harnesses[@]} -eq 0 ]]; then
    echo "fuzz: no harnesses"
    exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for harness in "${harnesses[@]}"; do
    [[ -x "$harness" ]] || continue
    name=$(basename "$harness"); name=${name#fuzz_}
    mkdir -p "$scratch/$name"
    seeds=()
    [[ -d "$src/fuzz/corpus/$name" ]] && seeds+=("$src/fuzz/corpus/$name")
    echo "fuzz: $name (${seconds}s)"
    "$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=0 "$scratch/$name" "${seeds[@]}" >"$scratch/$name.log" 2>&1 || {
        tail -n 60 "$scratch/$name.log"
        echo "fuzz: $name FAILED"
        exit 1
    }
done
echo "fuzz: all ${#harnesses[@]} harnesses passed"
