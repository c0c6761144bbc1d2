# library-search — loading the 100,000-record library and running 100 mixed searches (40 filename
# prefixes, 30 exact names, stems and camera models, 30 with filters), vs the sqlite3 shell
# running the equivalent queries on the same records as a table.
bench_build_drivers
bench_library_data
queries="$bench_data/library-queries.tsv"
sql="$bench_data/library-queries.sql"
python3 - "$library/library-items.json" "$queries" "$sql" <<'PY'
import json, random, sys
items = json.load(open(sys.argv[1]))
rng = random.Random(7)
def stem(name):
    return name.rsplit(".", 1)[0] if "." in name else name
def q(text):
    return text.replace("'", "''")
rows, statements = [], []
notdup = "importStatus != 'duplicate'"
for _ in range(40):
    name = rng.choice(items)["originalFilename"].lower()
    prefix = name[:rng.randint(2, 6)]
    rows.append([prefix, "", "", "", "", "", "", "", ""])
    statements.append(f"SELECT id FROM items WHERE lower(originalFilename) LIKE '{q(prefix)}%' AND {notdup};")
for i in range(30):
    item = rng.choice(items)
    kind = i % 3
    if kind == 0:
        text = item["canonicalFilename"].lower()
        cond = f"lower(canonicalFilename) = '{q(text)}' OR lower(originalFilename) = '{q(text)}'"
    elif kind == 1:
        text = stem(item["originalFilename"]).lower()
        cond = f"lower(originalFilename) LIKE '{q(text)}.%' OR lower(canonicalFilename) LIKE '{q(text)}.%'"
    else:
        text = item["metadata"]["cameraModel"]["known"]["_0"].lower()
        cond = f"lower(json_extract(metadata, '$.cameraModel.known._0')) = '{q(text)}'"
    rows.append([text, "", "", "", "", "", "", "", ""])
    statements.append(f"SELECT id FROM items WHERE ({cond}) AND {notdup};")
statuses = ["staging", "verifiedBackup", "duplicate", "needsAttention", "cleanupPending"]
for i in range(30):
    item = rng.choice(items)
    status = rng.choice(statuses) if i % 2 == 0 else ""
    source = item.get("ingestSourceName", "") if i % 3 == 0 else ""
    start = 7.1e8 + rng.randint(0, 2_000_000)
    end = start + rng.randint(100_000, 1_000_000)
    ranged = i % 4 != 3
    known = ["", "1", "0"][i % 3] if ranged else ""
    istart = 7.2e8 + rng.randint(0, 2_000_000) if i % 5 == 0 else None
    dup = ["hidden", "included", "only"][i % 3]
    row = ["", status, source, str(start) if ranged else "", str(end) if ranged else "", known,
           str(istart) if istart else "", str(istart + 500_000) if istart else "", dup]
    rows.append(row)
    conds = []
    ct = "json_extract(metadata, '$.captureTime.known._0')"
    if known == "0":
        conds.append(f"{ct} IS NULL")
    else:
        if ranged:
            conds.append(f"{ct} BETWEEN {start} AND {end}")
        if known == "1":
            conds.append(f"{ct} IS NOT NULL")
    if istart:
        conds.append(f"importDate BETWEEN {istart} AND {istart + 500_000}")
    if status:
        conds.append(f"importStatus = '{status}'")
    if source:
        conds.append(f"ingestSourceName = '{q(source)}'")
    if status != "duplicate":
        if dup == "hidden":
            conds.append(notdup)
        elif dup == "only":
            conds.append("importStatus = 'duplicate'")
    statements.append("SELECT id FROM items WHERE " + (" AND ".join(conds) or "1") + ";")
with open(sys.argv[2], "w") as out:
    for row in rows:
        out.write("\t".join(row) + "\n")
with open(sys.argv[3], "w") as out:
    out.write("\n".join(statements) + "\n")
PY
bench_peak_rss library-search "$(bench_driver pellwick-bench-library)" search "$library" "$queries"
"$(bench_driver pellwick-bench-library)" search "$library" "$queries" >&2
bench_compare library-search sqlite3 \
    "$(bench_quote "$(bench_driver pellwick-bench-library)" search "$library" "$queries") >/dev/null" \
    "$(bench_quote sqlite3 "$library_db") < $(bench_quote "$sql") >/dev/null"
