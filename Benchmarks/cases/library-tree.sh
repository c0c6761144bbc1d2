# library-tree — loading a 100,000-record library and building its folder tree over the matching
# Ingest Cache folder (physical entries, default folder counts), vs Python's json.load of the
# same library file.
bench_build_drivers
bench_library_ingest_cache
"$(bench_driver pellwick-bench-library-tree)" rebuild "$library" "$library_ingest_cache"
bench_peak_rss library-tree \
    "$(bench_driver pellwick-bench-library-tree)" build "$library" "$library_ingest_cache"
bench_compare library-tree python-json.load \
    "$(bench_quote "$(bench_driver pellwick-bench-library-tree)" build "$library" "$library_ingest_cache") >/dev/null" \
    "$(bench_quote python3 -c "import json,sys; json.load(open(sys.argv[1]))" "$library/library-items.json")"
