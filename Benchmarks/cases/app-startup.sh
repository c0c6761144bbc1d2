# app-startup — the application's composition over a 100,000-record library, from the start of
# the process to the first paint of its window (offscreen), vs Python's json.load of the same
# library file. The library file is parsed once; everything else must cost little beside it.
bench_build_drivers
bench_library_data
"$(bench_driver pellwick-bench-app-startup)" "$library" >/dev/null
bench_compare app-startup python-json \
    "$(bench_quote "$(bench_driver pellwick-bench-app-startup)" "$library") 2>/dev/null" \
    "$(bench_quote python3 -c "import json,sys; json.load(open(sys.argv[1]))" "$library/library-items.json")"
