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

# bench_library_data — a deterministic 100,000-record library in $bench_data/library (the
# store's own files), the same records as a SQLite table in $bench_data/library.sqlite (one
# column per field, nested objects as JSON text, `id` primary key) and 500 random
# "<id> <status>" updates in $bench_data/library-updates.txt.
bench_library_data() {
    library="$bench_data/library"
    library_db="$bench_data/library.sqlite"
    library_updates="$bench_data/library-updates.txt"
    if [ -f "$bench_data/library.complete" ]; then
        return
    fi
    rm -rf "$library" "$library_db" "$library_db"-*
    "$(bench_driver pellwick-bench-library)" generate "$library" 100000
    python3 - "$library/library-items.json" "$library_db" "$library_updates" <<'PY'
import json, random, sqlite3, sys
items = json.load(open(sys.argv[1]))
fields = ["id", "originalFilename", "canonicalFilename", "contentHash", "archiveByteCount",
          "archiveSidecarFilename", "archiveSidecarByteCount", "archiveSidecarContentHash",
          "importDate", "importStatus", "backendLibraryItemID", "restoreStatus",
          "restoreAttentionReason", "ingestCacheOriginalURL", "ingestCacheSidecarURL",
          "ingestCacheSidecarContentHash", "ingestSourceName", "sourceRelativePath",
          "sourceMediaEvidence", "cacheRelativePath", "metadata", "preview"]
nested = {"sourceMediaEvidence", "metadata", "preview"}
db = sqlite3.connect(sys.argv[2])
db.execute("PRAGMA journal_mode=WAL")
db.execute("CREATE TABLE items (" + ", ".join(
    f"{f} TEXT PRIMARY KEY" if f == "id" else f for f in fields) + ")")
db.executemany("INSERT INTO items VALUES (" + ",".join("?" * len(fields)) + ")",
               [[json.dumps(i[f], sort_keys=True) if f in nested and f in i else i.get(f)
                 for f in fields] for i in items])
db.commit()
db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
db.close()
rng = random.Random(20261207)
statuses = ["staging", "uploading", "verifying", "verifiedBackup", "cleanupPending",
            "needsAttention", "duplicate"]
with open(sys.argv[3], "w") as out:
    for _ in range(500):
        out.write(f"{rng.choice(items)['id']} {rng.choice(statuses)}\n")
PY
    touch "$bench_data/library.complete"
}

# bench_library_ingest_cache — the Ingest Cache folder that the records of bench_library_data
# name, in $library_ingest_cache: their RAW originals as empty files (200 batch folders
# 2024/MM/DD-CARDnnnn of 500 files under DCIM/1xxMEDIA/), 50,000 sidecars, a hidden copy marker
# per batch and a few empty folders. Kept on disk, never in memory-backed storage, so that a walk
# of it reads a real file system.
bench_library_ingest_cache() {
    bench_library_data
    local base="$bench_data"
    if [ "$(stat -f -c %T "$base")" = tmpfs ]; then
        base="$bench_build/data"
    fi
    library_ingest_cache="$base/library-ingest-cache"
    if [ -f "$base/library-ingest-cache.complete" ]; then
        return
    fi
    rm -rf "$library_ingest_cache"
    mkdir -p "$base"
    "$(bench_driver pellwick-bench-library)" ingest-cache "$library_ingest_cache" 100000
    touch "$base/library-ingest-cache.complete"
}

# bench_peak_rss LABEL COMMAND... — runs COMMAND once and prints "LABEL peak RSS: <N> MiB".
bench_peak_rss() {
    local label="$1"
    shift
    local rss
    rss="$(PELLWICK_BENCH_REPORT_RSS=1 "$@" 2>&1 >/dev/null | sed -n 's/^peak RSS: //p')"
    echo "$label peak RSS: $rss"
}

# bench_generated_card NAME FILES — a generated card of FILES files in $bench_data/NAME, set as
# $card: DCIM folders of RAW originals (CR3), half of them with a sidecar, a third with a JPEG
# beside them, an unpaired sidecar every 50 images and hidden thumbnails, then a few files in
# trash, video and miscellaneous folders.
bench_generated_card() {
    card="$bench_data/$1"
    local count="$2"
    if [ ! -f "$card/.complete" ]; then
        rm -rf "$card"
        python3 - "$card" "$count" <<'PY'
import os, sys
root = sys.argv[1]
count = int(sys.argv[2])
files = 0
def touch(path, size):
    global files
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"\0" * size)
    files += 1
folder = 100
image = 1
while files < count * 97 // 100:
    dcim = os.path.join(root, "DCIM", f"{folder}CANON")
    for _ in range(250):
        stem = os.path.join(dcim, f"IMG_{image:04d}")
        touch(stem + ".CR3", 64 + image % 97)
        if image % 2 == 0:
            touch(stem + ".xmp", 16)
        if image % 3 == 0:
            touch(stem + ".JPG", 32)
        if image % 50 == 0:
            touch(stem + "_orphan.XMP", 8)
        image += 1
    touch(os.path.join(dcim, ".thumbs", "deep", "IMG_0000.JPG"), 8)
    folder += 1
n = 0
while files < count:
    kind = n % 3
    if kind == 0:
        touch(os.path.join(root, ".Trashes", "501", f"IMG_{n:05d}.CR3"), 8)
    elif kind == 1:
        touch(os.path.join(root, "PRIVATE", "M4ROOT", "CLIP", f"C{n:04d}.MP4"), 8)
    else:
        touch(os.path.join(root, "MISC", f"note{n}.txt"), 8)
    n += 1
print(f"generated {files} files", file=sys.stderr)
PY
        touch "$card/.complete"
    fi
}
