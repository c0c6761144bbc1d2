# cache-move — moving a generated 2 GiB Ingest Cache of 200 files in nested batch folders to an
# empty folder on the same disk, vs `cp -r` + `sync` + `openssl dgst -sha256` over every source
# and target file. The target is removed, and everything flushed, before every run of either.
cache="$bench_data/cache-move-source"
target="$bench_data/cache-move-target"
if [ ! -f "$bench_data/cache-move-source.complete" ]; then
    rm -rf "$cache"
    python3 - "$cache" <<'PY'
import os, random, sys
root = sys.argv[1]
total = 2 * 1024**3
count = 200
# Sizes around 10 MiB, a few MiB apart in pairs, adding up to exactly 2 GiB.
sizes = []
for i in range(count):
    delta = (i // 2 % 3) << 20
    sizes.append(total // count + (delta if i % 2 == 0 else -delta))
sizes[0] += total - sum(sizes)
for i, size in enumerate(sizes):
    batch = f"2024/{1 + i % 12:02d}/{1 + i % 28:02d}-{i // 20:012x}"
    path = os.path.join(root, batch, "DCIM", f"{100 + i % 3}MEDIA", f"IMG_{i:04d}.CR3")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(random.Random(i).randbytes(size))
PY
    touch "$bench_data/cache-move-source.complete"
fi

bench_build_drivers
bench_compare cache-move cp+sync+openssl \
    "$(bench_quote "$(bench_driver pellwick-bench-cache-move)" "$cache" "$target")" \
    "$(bench_quote cp -r "$cache" "$target") && sync && $(bench_quote find "$cache" "$target" -type f -exec openssl dgst -sha256 {} +) >/dev/null" \
    "$(bench_quote rm -rf "$target") && sync"
