# add-to-cache — Add to Ingest Cache of a scanned generated card (100 RAW files of 10 MiB, each
# with a 4 KiB sidecar) through the shell view model and its pools, until its success text is
# published, into a new cache and library each run, against copying the card, flushing it to disk
# and hashing both trees with sha256sum.
card="$bench_data/add-to-cache-card"
if [ ! -f "$card/.complete" ]; then
    rm -rf "$card"
    python3 - "$card" <<'PY'
import os, random, sys
folder = os.path.join(sys.argv[1], "DCIM", "100TEST")
os.makedirs(folder)
rng = random.Random(20260146)
for n in range(1, 101):
    stem = os.path.join(folder, f"IMG_{n:04d}")
    with open(stem + ".CR3", "wb") as raw:
        raw.write(rng.randbytes(10 * 1024 * 1024))
    with open(stem + ".xmp", "wb") as sidecar:
        sidecar.write(rng.randbytes(4096))
PY
    touch "$card/.complete"
fi
runs="$bench_data/add-to-cache-runs"
copy="$bench_data/add-to-cache-cp"
mkdir -p "$runs"

bench_build_drivers
bench_compare add-to-cache "cp-sync-sha256sum" \
    "$(bench_quote "$(bench_driver pellwick-bench-add-to-cache)" "$card/DCIM" "$runs")" \
    "cp -r $(bench_quote "$card/DCIM" "$copy") && sync && find $(bench_quote "$card/DCIM" "$copy") -type f -exec sha256sum {} + >/dev/null" \
    "rm -rf $(bench_quote "$copy" "$runs") && mkdir -p $(bench_quote "$runs") && sync"
