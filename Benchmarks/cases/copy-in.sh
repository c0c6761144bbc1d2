# "Add to Ingest Cache" of a generated card (40 RAW files of 50 MB with sidecars) into an empty
# cache, against copying the card, flushing it to disk and hashing every source and copy.
card="$bench_data/copy-in-card"
if [ ! -f "$card/.complete" ]; then
    rm -rf "$card"
    mkdir -p "$card/DCIM/100CANON"
    for i in $(seq -w 1 40); do
        head -c 50000000 /dev/urandom >"$card/DCIM/100CANON/IMG_00$i.CR3"
        if [ $((10#$i % 2)) -eq 0 ]; then
            head -c 6000 /dev/urandom >"$card/DCIM/100CANON/IMG_00$i.xmp"
        fi
    done
    touch "$card/.complete"
fi
cache="$bench_data/copy-in-cache"
copy="$bench_data/copy-in-cp"

bench_build_drivers
bench_compare copy-in "cp-sync-sha256" \
    "$(bench_driver pellwick-bench-copy-in) '$card' '$cache'" \
    "cp -r '$card' '$copy' && sync && find '$card' '$copy' -type f ! -name .complete -exec openssl dgst -sha256 {} + >/dev/null" \
    "rm -rf '$cache' '$copy' && sync"
