# verified-copy — VerifiedFileCopy of a 1 GiB file vs `cp src dst && sync && openssl dgst -sha256
# src dst` (which hashes the copy from the page cache, not from storage). The destination is
# removed, and everything flushed, before every run of either.
bench_build_drivers
source="$bench_data/verified-copy-source.bin"
destination="$bench_data/verified-copy-destination.bin"
partial="$bench_data/.verified-copy-destination.bin.pellwick-partial"
bench_generate_file "$source" 1024
bench_compare verified-copy cp+sync+openssl \
    "$(bench_quote "$(bench_driver pellwick-bench-verified-copy)" "$source" "$destination")" \
    "$(bench_quote cp "$source" "$destination") && sync && $(bench_quote openssl dgst -sha256 "$source" "$destination")" \
    "$(bench_quote rm -f "$destination" "$partial") && sync"
