# import-review-list — building the Import Review of a generated card of 100,000 files and showing
# it in the Import Review table offscreen (first screen, then the last row), against listing the
# card with find and sort.
bench_generated_card review-card 100000

bench_build_drivers
driver="$(bench_driver pellwick-bench-import-review-list)"
"$driver" --show-time "$card" | grep '^import-review-list show:'
bench_peak_rss import-review-list "$driver" "$card"
bench_compare import-review-list "find-sort" \
    "$(bench_quote "$driver" "$card") >/dev/null" \
    "find '$card' -type f -printf '%s %p\n' | sort"
