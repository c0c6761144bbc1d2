# library-view — the Library page (toolbar, finder list, inspector) over a 100,000-record library
# and its Ingest Cache folder (the library-tree case's data): the view model's visible items, the
# folder tree built off the main thread, the model and the page, up to the first paint of the
# tree's rows (offscreen), vs Python's json.load of the same library file. One run outside
# hyperfine gives the first paint, the slowest page step of scrolling the expanded outline, the
# slowest key of typing a filename prefix into the search field and
# the peak RSS.
bench_build_drivers
bench_library_ingest_cache
driver="$(bench_driver pellwick-bench-library-view)"
# The page reconciles the library with the Ingest Cache folder when it shows, and the generated
# records do not all match the generated files: the first showing rewrites the library. The page
# gets a copy, settled by one showing beforehand, so that every measured run sees the same
# library and the other cases keep the generated one.
view_library="$bench_data/library-view-library"
if [ ! -f "$view_library.complete" ]; then
    rm -rf "$view_library"
    cp -r "$library" "$view_library"
    "$driver" --measure "$view_library" "$library_ingest_cache" >/dev/null 2>&1
    touch "$view_library.complete"
fi
PELLWICK_BENCH_REPORT_RSS=1 "$driver" --measure "$view_library" "$library_ingest_cache" 2>&1 \
    | sed -n -e '/^library-view /p' -e 's/^peak RSS: /library-view peak RSS: /p'
bench_compare library-view python-json.load \
    "$(bench_quote "$driver" "$view_library" "$library_ingest_cache") 2>/dev/null" \
    "$(bench_quote python3 -c "import json,sys; json.load(open(sys.argv[1]))" "$view_library/library-items.json")"
