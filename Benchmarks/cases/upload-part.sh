# upload-part: PUT a 1 GiB byte range of a file to a presigned URL, against `curl -T` of the same
# bytes to the same URL. The object store is a separate process that discards what it receives.

bench_build_drivers

length=$((1024 * 1024 * 1024))
offset=$((4 * 1024 * 1024))
work="$bench_data/upload-part"
mkdir -p "$work"
source="$work/source.bin"
range="$work/range.bin"

if [ ! -f "$source" ] || [ "$(stat -c %s "$source")" -ne $((length + 2 * offset)) ]; then
    echo "generating $((length + 2 * offset)) bytes..." >&2
    # Both files are written in the same 1 MiB blocks, so their cached pages are laid out alike
    # and reading either costs the same.
    dd if=/dev/urandom of="$source" bs=1M count=$(((length + 2 * offset) / 1048576)) \
        iflag=fullblock status=none
    rm -f "$range"
fi
if [ ! -f "$range" ]; then
    dd if="$source" of="$range" bs=1M iflag=skip_bytes,count_bytes skip="$offset" count="$length" \
        status=none
fi

# The store reads its standard input until it closes: a pipe held open by this script.
exec 3> >("$(bench_driver pellwick-object-store-sink)" >"$work/url")
sink_pid=$!
trap 'exec 3>&-; wait "$sink_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    [ -s "$work/url" ] && break
    sleep 0.05
done
url="$(head -n 1 "$work/url")"
[ -n "$url" ] || { echo "upload-part: the object store did not start" >&2; exit 1; }

driver="$(bench_driver pellwick-bench-upload-part)"
etag="$("$driver" "$source" "$offset" "$length" "$url" 2>"$work/memory")"
if [ "$etag" != "\"$length-bytes\"" ]; then
    echo "upload-part: the store did not receive the whole range (ETag $etag)" >&2
    exit 1
fi
cat "$work/memory"
baseline_etag="$(curl -sS -f -T "$range" -D - -o /dev/null "$url" | tr -d '\r' | sed -n 's/^[Ee][Tt][Aa][Gg]: //p')"
if [ "$baseline_etag" != "\"$length-bytes\"" ]; then
    echo "upload-part: curl's upload did not arrive whole (ETag $baseline_etag)" >&2
    exit 1
fi

bench_compare upload-part curl \
    "'$driver' '$source' $offset $length '$url'" \
    "curl -sS -f -T '$range' -o /dev/null '$url'"
