# reconcile — reconciling a library of 1,000 ready records with a review of a generated Ingest
# Cache of 1,000 packages (4 MiB RAW original and a small sidecar each; a quarter moved to other
# folders, a tenth overwritten in place, a tenth new), vs `sha256sum` over every RAW original and
# sidecar of the cache. The library is restored from its original copy before every run of either.
bench_build_drivers
driver="$(bench_driver pellwick-bench-reconcile)"
root="$bench_data/reconcile"
if [ ! -f "$root/.complete" ]; then
    rm -rf "$root"
    mkdir -p "$root"
    "$driver" generate "$root"
    touch "$root/.complete"
fi
bench_compare reconcile sha256sum \
    "$(bench_quote "$driver" run "$root")" \
    "$(bench_quote find "$root/cache" -type f -exec sha256sum {} +) >/dev/null" \
    "$(bench_quote rm -rf "$root/library") && $(bench_quote cp -r "$root/library-original" "$root/library")"
