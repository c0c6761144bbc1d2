# stage-package — preparing a cached package of a 1 GiB RAW original and an 8 KiB sidecar for its
# upload (verified copies into the Staging Area, hashes, first record; the preview generator
# refuses at once) vs `cp raw xmp dst/ && sync && openssl dgst -sha256 raw xmp dst/raw dst/xmp`.
# Staged folders and copies are removed, and everything flushed, before every run of either.
bench_build_drivers
raw="$bench_data/stage-package.CR3"
sidecar="$bench_data/stage-package.xmp"
library="$bench_data/stage-package-library"
staging="$bench_data/stage-package-staging"
copies="$bench_data/stage-package-copies"
bench_generate_file "$raw" 1024
head -c 8192 /dev/urandom >"$sidecar"
hash="$(sha256sum "$raw" | cut -d' ' -f1)"
mkdir -p "$library" "$copies"
bench_compare stage-package cp+sync+openssl \
    "$(bench_quote "$(bench_driver pellwick-bench-stage-package)" "$raw" "$sidecar" "$hash" "$library" "$staging")" \
    "$(bench_quote cp "$raw" "$sidecar" "$copies/") && sync && $(bench_quote openssl dgst -sha256 "$raw" "$sidecar" "$copies/stage-package.CR3" "$copies/stage-package.xmp")" \
    "$(bench_quote rm -rf "$staging" "$copies/stage-package.CR3" "$copies/stage-package.xmp") && sync"
