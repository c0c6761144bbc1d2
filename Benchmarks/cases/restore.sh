# restore — restores a generated 1 GiB RAW original plus a small sidecar through the whole restore
# transfer engine (ranges, part files, manifests, assembly, verification, installation) from the
# object store running as its own process on loopback, against
# `curl -s -o f URL && openssl dgst -sha256 f` of the same object from the same server.
#
# The engine writes every byte twice (part, assembled file) and flushes both to storage; the
# baseline writes once and never flushes. So the main comparison keeps its whole data folder
# (object file, state, destination, baseline output) in memory (/dev/shm) for both sides, and
# an informational one runs on the disk against a baseline that flushes too
# (`curl -s -o f URL && sync f && openssl dgst -sha256 f`).
# Prints "restore peak RSS: <N> MiB", "restore-on-disk: pellwick/curl+sync = <ratio>" and, last,
# "restore: pellwick/curl = <ratio>".

bench_build_drivers

memory_root="${PELLWICK_BENCH_MEMORY_DIR:-/dev/shm/pellwick-bench-$(id -un)}"
memory_data="$memory_root/restore"
disk_data="$bench_data/restore"
store_pids=()
cleanup() {
    exec 3>&- 4>&- 2>/dev/null || true
    for pid in "${store_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$memory_data"
}
trap cleanup EXIT

# restore_prepare FOLDER — the generated object and sidecar in FOLDER, and their hashes.
restore_prepare() {
    local folder="$1"
    mkdir -p "$folder"
    bench_generate_file "$folder/object.bin" 1024
    if [ ! -f "$folder/sidecar.xmp" ]; then
        head -c 24000 "$folder/object.bin" | base64 >"$folder/sidecar.xmp"
    fi
}

# restore_serve FD FOLDER — starts an object store serving FOLDER's files on descriptor FD's
# lifetime; sets raw_url and sidecar_url.
restore_serve() {
    local fd="$1" folder="$2"
    rm -f "$folder/urls"
    eval "exec $fd> >(\"\$(bench_driver pellwick-object-store-server)\" \"\$folder/object.bin\" \"\$folder/sidecar.xmp\" >\"\$folder/urls\")"
    store_pids+=("$!")
    for _ in $(seq 1 100); do
        [ "$(wc -l <"$folder/urls" 2>/dev/null || echo 0)" -ge 2 ] && break
        sleep 0.05
    done
    raw_url="$(sed -n 1p "$folder/urls")"
    sidecar_url="$(sed -n 2p "$folder/urls")"
    [ -n "$raw_url" ] && [ -n "$sidecar_url" ] \
        || { echo "restore: the object store did not start" >&2; exit 1; }
}

# restore_command FOLDER — the driver's command line restoring FOLDER's object into FOLDER.
restore_command() {
    local folder="$1"
    bench_quote "$(bench_driver pellwick-bench-restore)" "$folder/state" "$folder/out" \
        "$raw_url" "$(stat -c %s "$folder/object.bin")" "$raw_hash" \
        "$sidecar_url" "$(stat -c %s "$folder/sidecar.xmp")" "$sidecar_hash"
}

restore_prepare "$disk_data"
raw_hash="$(openssl dgst -sha256 -r "$disk_data/object.bin" | cut -d' ' -f1)"
sidecar_hash="$(openssl dgst -sha256 -r "$disk_data/sidecar.xmp" | cut -d' ' -f1)"
mkdir -p "$memory_data"
cp "$disk_data/object.bin" "$disk_data/sidecar.xmp" "$memory_data/"

restore_serve 3 "$memory_data"
memory_command="$(restore_command "$memory_data")"
memory_clear="$(bench_quote rm -rf "$memory_data/state" "$memory_data/out" "$memory_data/f")"
eval "$memory_clear"
eval "$memory_command" 2>"$memory_data/rss" || { cat "$memory_data/rss" >&2; exit 1; }
cmp -s "$memory_data/out/IMG_0001.CR3" "$memory_data/object.bin" \
    || { echo "restore: the restored file differs from the object" >&2; exit 1; }
echo "restore peak RSS: $(sed -n 's/^peak RSS: //p' "$memory_data/rss")"
memory_url="$raw_url"

restore_serve 4 "$disk_data"
bench_compare restore-on-disk curl+sync \
    "$(restore_command "$disk_data")" \
    "curl -s -o $(bench_quote "$disk_data/f") $(bench_quote "$raw_url") && sync $(bench_quote "$disk_data/f") && openssl dgst -sha256 $(bench_quote "$disk_data/f")" \
    "$(bench_quote rm -rf "$disk_data/state" "$disk_data/out" "$disk_data/f") && sync"

bench_compare restore curl \
    "$memory_command" \
    "curl -s -o $(bench_quote "$memory_data/f") $(bench_quote "$memory_url") && openssl dgst -sha256 $(bench_quote "$memory_data/f")" \
    "$memory_clear"
