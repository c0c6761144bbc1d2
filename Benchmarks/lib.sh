# Helpers shared by the benchmark cases (sourced by Benchmarks/compare).

bench_root="$(cd "$here/.." && pwd)"
bench_build="${PELLWICK_BENCH_BUILD_DIR:-$bench_root/build-bench}"
bench_data="${PELLWICK_BENCH_DATA_DIR:-${TMPDIR:-/tmp}/pellwick-bench}"
mkdir -p "$bench_data"

# Builds the benchmark drivers in an optimised build of their own.
bench_build_drivers() {
    "$bench_root/scripts/install-dependencies" >/dev/null
    cmake -S "$bench_root" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$bench_build" --target benchmarks >/dev/null
}

# Path of a built driver.
bench_driver() {
    echo "$bench_build/Benchmarks/$1"
}

# bench_compare NAME BASELINE PELLWICK_COMMAND BASELINE_COMMAND [PREPARE_COMMAND]
# Runs both commands under hyperfine (PREPARE_COMMAND before every run of either) and prints the
# ratio of their mean times as the last line.
bench_compare() {
    local name="$1" baseline="$2" ours="$3" theirs="$4" prepare="${5:-}"
    local json="$bench_data/$name.hyperfine.json"
    local args=(--warmup "${PELLWICK_BENCH_WARMUP:-1}" --runs "${PELLWICK_BENCH_RUNS:-5}" --export-json "$json")
    if [ -n "$prepare" ]; then
        args+=(--prepare "$prepare")
    fi
    hyperfine "${args[@]}" -n pellwick "$ours" -n "$baseline" "$theirs" >&2
    python3 - "$json" "$name" "$baseline" <<'PY'
import json, sys
results = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
name, baseline = sys.argv[2], sys.argv[3]
print(f"{name}: pellwick/{baseline} = {results['pellwick'] / results[baseline]:.3f}")
PY
}

# bench_generate_file PATH MIB
# Writes MIB mebibytes of reproducible incompressible bytes to PATH, unless it already holds them.
bench_generate_file() {
    local path="$1" mib="$2"
    local size=$((mib * 1024 * 1024))
    if [ -f "$path" ] && [ "$(stat -c %s "$path")" -eq "$size" ]; then
        return
    fi
    # openssl ends on SIGPIPE once head has enough.
    { openssl enc -aes-128-ctr -nosalt -pbkdf2 -pass pass:pellwick-bench </dev/zero 2>/dev/null || true; } \
        | head -c "$size" >"$path.tmp"
    mv "$path.tmp" "$path"
}

# bench_quote ARG... — the arguments quoted for a shell command line.
bench_quote() {
    printf '%q ' "$@"
}
