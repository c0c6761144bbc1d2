# library-load — loading a 100,000-record library (about 250 MB of "library-items.json") and
# counting its records, vs Python's json.load of the same file.
bench_build_drivers
bench_library_data
bench_peak_rss library-load "$(bench_driver pellwick-bench-library)" load "$library"
bench_compare library-load python-json.load \
    "$(bench_quote "$(bench_driver pellwick-bench-library)" load "$library") >/dev/null" \
    "$(bench_quote python3 -c "import json,sys; json.load(open(sys.argv[1]))" "$library/library-items.json")"
