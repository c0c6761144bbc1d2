# Import Review of a generated card of 20,000 files against listing it with find and sort.
bench_generated_card scan-card 20000

bench_build_drivers
bench_compare scan "find-sort" \
    "$(bench_driver pellwick-bench-scan) '$card'" \
    "find '$card' -type f -printf '%s %p\n' | sort"
