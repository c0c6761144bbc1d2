# hash — SHA256ContentHasher on a 1 GiB file vs `openssl dgst -sha256`.
bench_build_drivers
file="$bench_data/hash-1GiB.bin"
bench_generate_file "$file" 1024
bench_compare hash openssl \
    "$(bench_quote "$(bench_driver pellwick-bench-hash)" "$file")" \
    "$(bench_quote openssl dgst -sha256 "$file")"
