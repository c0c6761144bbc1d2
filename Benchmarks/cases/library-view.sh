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
PELLWICK_BENCH_REPORT_RSS=1 "$driver" --measure "$library" "$library_ingest_cache" 2>&1 \
    | sed -n -e '/^library-view /p' -e 's/^peak RSS: /library-view peak RSS: /p'
bench_compare library-view python-json.load \
    "$(bench_quote "$driver" "$library" "$library_ingest_cache") 2>/dev/null" \
    "$(bench_quote python3 -c "import json,sys; json.load(open(sys.argv[1]))" "$library/library-items.json")"
