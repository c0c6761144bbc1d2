# package-upload — carrying one prepared package (a 512 MiB RAW original, a 16 KiB sidecar and a
# small preview) through the upload road: authorization, 16 MiB parts with the record written
# after every part, completions, preview, finalization; vs `curl -T` of the same RAW and sidecar
# bytes. Both send to the same backend process, the test backend in its discarding mode. The
# Staging Area (staged copies hard-linked), record and library are reset before every run.
bench_build_drivers
work="$bench_data/package-upload"
raw="$work/IMG_0001.CR3"
sidecar="$work/IMG_0001.xmp"
prepared="$work/prepared"
run="$work/run"
mkdir -p "$work"
bench_generate_file "$raw" 512
if [ ! -f "$sidecar" ] || [ "$(stat -c %s "$sidecar")" -ne 16384 ]; then
    tail -c 16384 "$raw" >"$sidecar"
fi
if [ ! -f "$work/prepared.complete" ]; then
    rm -rf "$prepared"
    "$(bench_driver pellwick-bench-package-upload)" prepare "$raw" "$sidecar" "$prepared"
    touch "$work/prepared.complete"
fi

# The backend runs until its standard input closes: a pipe held open by this script.
rm -f "$work/backend"
touch "$work/backend"
exec 3> >("$(bench_driver pellwick-backend-sink)" >"$work/backend")
backend_pid=$!
trap 'exec 3>&-; wait "$backend_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    [ "$(wc -l <"$work/backend")" -ge 3 ] && break
    sleep 0.05
done
base_url="$(sed -n 1p "$work/backend")"
token="$(sed -n 2p "$work/backend")"
put_url="$(sed -n 3p "$work/backend")"
[ -n "$put_url" ] || { echo "package-upload: the backend did not start" >&2; exit 1; }

# The staged copies and the record are hard links: the copies are only read and the record is
# only ever replaced whole. The library's journal grows in place, so the library is copied.
reset="$(bench_quote rm -rf "$run") && $(bench_quote mkdir -p "$run") && $(bench_quote cp -al "$prepared/staging" "$run/staging") && $(bench_quote cp -r "$prepared/library" "$run/library")"
ours="$(bench_quote "$(bench_driver pellwick-bench-package-upload)" upload "$base_url" "$token" "$run")"
theirs="$(bench_quote curl -sS -f -T "$raw" -o /dev/null "$put_url") && $(bench_quote curl -sS -f -T "$sidecar" -o /dev/null "$put_url")"
eval "$reset"
bench_peak_rss package-upload "$(bench_driver pellwick-bench-package-upload)" upload "$base_url" "$token" "$run"
bench_compare package-upload curl "$ours" "$theirs" "$reset"
