# Capture metadata of 1,000 generated DNG files of about 1 MB each, against one exiftool run
# reading the same four values.
photos="$bench_data/metadata-photos"
bench_build_drivers
driver="$(bench_driver pellwick-bench-metadata)"
if [ ! -f "$photos/.complete" ]; then
    rm -rf "$photos"
    "$driver" generate "$photos" 1000
    touch "$photos/.complete"
fi

bench_compare metadata "exiftool" \
    "'$driver' read '$photos'" \
    "exiftool -fast -DateTimeOriginal -Model -GPSLatitude -GPSLongitude '$photos'"
