# library-update — loading the 100,000-record library, then 500 durable import-status changes
# of random records, vs the sqlite3 shell running the same 500 single-row UPDATEs, each its own
# transaction, in WAL mode with synchronous=FULL. Both start from fresh copies of their files.
bench_build_drivers
bench_library_data
work="$bench_data/library-update"
sql="$bench_data/library-updates.sql"
{
    echo "PRAGMA journal_mode=WAL;"
    echo "PRAGMA synchronous=FULL;"
    while read -r id status; do
        echo "UPDATE items SET importStatus='$status' WHERE id='$id';"
    done <"$library_updates"
} >"$sql"
reset="$(bench_quote rm -rf "$work") && $(bench_quote mkdir -p "$work") && $(bench_quote cp -r "$library" "$work/library") && $(bench_quote cp "$library_db" "$work/library.sqlite") && sync"
eval "$reset"
bench_peak_rss library-update "$(bench_driver pellwick-bench-library)" update "$work/library" "$library_updates"
bench_compare library-update sqlite3 \
    "$(bench_quote "$(bench_driver pellwick-bench-library)" update "$work/library" "$library_updates")" \
    "$(bench_quote sqlite3 "$work/library.sqlite") < $(bench_quote "$sql") >/dev/null" \
    "$reset"
