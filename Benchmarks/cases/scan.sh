# Import Review of a generated card of 20,000 files against listing it with find and sort.
card="$bench_data/scan-card"
if [ ! -f "$card/.complete" ]; then
    rm -rf "$card"
    python3 - "$card" <<'PY'
import os, sys
root = sys.argv[1]
files = 0
def touch(path, size):
    global files
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"\0" * size)
    files += 1
folder = 100
image = 1
while files < 19_400:
    dcim = os.path.join(root, "DCIM", f"{folder}CANON")
    for _ in range(250):
        stem = os.path.join(dcim, f"IMG_{image:04d}")
        touch(stem + ".CR3", 64 + image % 97)
        if image % 2 == 0:
            touch(stem + ".xmp", 16)
        if image % 3 == 0:
            touch(stem + ".JPG", 32)
        if image % 50 == 0:
            touch(stem + "_orphan.XMP", 8)
        image += 1
    touch(os.path.join(dcim, ".thumbs", "deep", "IMG_0000.JPG"), 8)
    folder += 1
n = 0
while files < 20_000:
    kind = n % 3
    if kind == 0:
        touch(os.path.join(root, ".Trashes", "501", f"IMG_{n:05d}.CR3"), 8)
    elif kind == 1:
        touch(os.path.join(root, "PRIVATE", "M4ROOT", "CLIP", f"C{n:04d}.MP4"), 8)
    else:
        touch(os.path.join(root, "MISC", f"note{n}.txt"), 8)
    n += 1
print(f"generated {files} files", file=sys.stderr)
PY
    touch "$card/.complete"
fi

bench_build_drivers
bench_compare scan "find-sort" \
    "$(bench_driver pellwick-bench-scan) '$card'" \
    "find '$card' -type f -printf '%s %p\n' | sort"
