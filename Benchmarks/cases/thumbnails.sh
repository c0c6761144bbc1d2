# Thumbnails of at most 96 px of 2,000 preview JPEGs (1600 x 1067, a quarter with EXIF
# orientation 6), decoded on all cores, against ImageMagick's DCT-scaled decoding. Also prints
# the peak resident memory of the whole driver.
bench_build_drivers
driver="$(bench_driver pellwick-bench-thumbnails)"

previews="$bench_data/thumbnail-previews"
if [ ! -f "$previews.complete" ]; then
    rm -rf "$previews"
    "$driver" generate "$previews" "${PELLWICK_BENCH_THUMBNAIL_FILES:-2000}"
    touch "$previews.complete"
fi
out="$bench_data/thumbnail-out"
mkdir -p "$out"

peak_mib="$(PELLWICK_BENCH_REPORT_RSS=1 "$driver" thumbnails "$previews" 2>&1 >/dev/null \
    | sed -n 's/^peak RSS: \([0-9]*\) MiB$/\1/p')"
echo "thumbnails peak RSS: ${peak_mib} MiB"

ours="$(bench_quote "$driver") thumbnails $(bench_quote "$previews")"
# bench_quote ends each word with a space: the glob's folder is quoted on its own.
theirs="mogrify -define jpeg:size=192x192 -auto-orient -thumbnail 96x96 -path $(bench_quote "$out") $(printf %q "$previews")/*.jpg"
bench_compare thumbnails mogrify "$ours" "$theirs"
