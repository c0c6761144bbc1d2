# cache-cleanup — one cleanup pass over 200 archived packages (5 MiB RAW original and 4 KiB
# sidecar each) whose records were added to the 100,000-record library, from the call to the
# published refresh of the visible items (timed inside the driver, over fresh copies of the cache
# and the library), vs `sha256sum` of the 400 files followed by `rm` of them.
bench_build_drivers
bench_library_data
driver="$(bench_driver pellwick-bench-cache-cleanup)"
root="$bench_data/cache-cleanup"
if [ ! -f "$root/.complete" ]; then
    rm -rf "$root"
    mkdir -p "$root"
    "$driver" generate "$root" "$library"
    touch "$root/.complete"
fi
runs="${PELLWICK_BENCH_RUNS:-5}"
ours="$("$driver" run "$root" "$runs")"
json="$bench_data/cache-cleanup.hyperfine.json"
hyperfine --warmup "${PELLWICK_BENCH_WARMUP:-1}" --runs "$runs" --export-json "$json" \
    --prepare "$(bench_quote rm -rf "$root/cache") && $(bench_quote cp -r "$root/cache-original" "$root/cache")" \
    -n sha256sum+rm \
    "find $(bench_quote "$root/cache") -type f -exec sha256sum {} + >/dev/null && find $(bench_quote "$root/cache") -type f -delete" >&2
python3 - "$json" "$ours" <<'PY'
import json, sys
baseline = json.load(open(sys.argv[1]))["results"][0]["mean"]
ours = float(sys.argv[2])
print(f"pellwick: {ours:.3f} s, sha256sum+rm: {baseline:.3f} s", file=sys.stderr)
print(f"cache-cleanup: pellwick/sha256sum+rm = {ours / baseline:.3f}")
PY
