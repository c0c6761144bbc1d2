# Previews of 24-megapixel RAW originals (6000 x 4000 DNG files with sensor noise) against
# decoding each at half size with dcraw and resizing and encoding it with ImageMagick at the
# ladder's first quality. Also prints the peak resident memory of one preview.
bench_build_drivers
driver="$(bench_driver pellwick-bench-preview)"

sources=()
for i in $(seq 1 "${PELLWICK_BENCH_PREVIEW_FILES:-3}"); do
    dng="$bench_data/preview-6000x4000-$i.dng"
    if [ ! -f "$dng" ]; then
        "$driver" generate "$dng.tmp" "$i"
        mv "$dng.tmp" "$dng"
    fi
    sources+=("$dng")
done
out="$bench_data/preview-out"
mkdir -p "$out"

peak_kib="$(/usr/bin/time -f '%M' "$driver" preview "${sources[0]}" "$out/memory.jpg" 2>&1 >/dev/null \
    | tail -n 1)"
echo "peak resident memory of one preview: $((peak_kib / 1024)) MiB"

ours="for f in $(bench_quote "${sources[@]}"); do $(bench_quote "$driver") preview \"\$f\" $(bench_quote "$out/pellwick.jpg") || exit 1; done"
theirs="for f in $(bench_quote "${sources[@]}"); do dcraw -h -c \"\$f\" | convert - -resize 1600x1600 -quality 82 $(bench_quote "$out/baseline.jpg") || exit 1; done"
bench_compare preview dcraw+convert "$ours" "$theirs"
