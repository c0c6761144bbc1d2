# Preview of a 24-megapixel RAW original (6000 x 4000 DNG) against decoding it at half size with
# dcraw and resizing and encoding with ImageMagick at the first quality of the ladder. Also prints
# the peak resident memory of one preview.
bench_build_drivers
driver="$(bench_driver pellwick-bench-preview)"

count="${PELLWICK_BENCH_PREVIEW_FILES:-3}"
sources=()
for i in $(seq 1 "$count"); do
    dng="$bench_data/preview-6000x4000-$i.dng"
    [ -f "$dng" ] || "$driver" generate "$dng" "$i"
    sources+=("$dng")
done
out="$bench_data/preview-out"
mkdir -p "$out"

peak_kib="$(/usr/bin/time -f '%M' "$driver" preview "${sources[0]}" "$out/memory.jpg" 2>&1 >/dev/null | tail -n 1)"
echo "peak resident memory of one preview: $((peak_kib / 1024)) MiB"

ours="for f in ${sources[*]}; do '$driver' preview \"\$f\" '$out/pellwick.jpg' || exit 1; done"
theirs="for f in ${sources[*]}; do dcraw -h -c \"\$f\" | convert - -resize 1600x1600 -quality 82 '$out/baseline.jpg' || exit 1; done"
bench_compare preview dcraw+convert "$ours" "$theirs"
