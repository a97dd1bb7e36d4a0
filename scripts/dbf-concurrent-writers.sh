#!/usr/bin/env bash
# Several lumora-sql update processes at once on one dBase roster, each on a
# record of its own, round after round. After each round every update that
# reported a record changed must be in the file, and nothing else may have
# changed; an update refused (a lock held too long) must have written
# nothing. At the end ogrinfo, when installed, must read the same values.
#
# Usage: scripts/dbf-concurrent-writers.sh WRITERS ROUNDS [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
writers=${1:?WRITERS}
rounds=${2:?ROUNDS}
tool=${3:-$root/build}/lumora-sql
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
table="$work/roster.dbf"
cp "$root/tests/data/dbf/roster_zh_30_lo_cp936.dbf" "$table"
chmod u+w "$table"
records=30

snapshot() { "$tool" "$table" 'select * from [roster]'; }
snapshot >"$work/expected"
[ "$(wc -l <"$work/expected")" -eq $records ] || { echo "cannot read the roster" >&2; exit 1; }

done_count=0 refused=0 missing=0 changed=0
for ((round = 1; round <= rounds; ++round)); do
  mapfile -t rows < <(shuf -i 1-$records -n "$writers")
  pids=()
  for ((w = 0; w < writers; ++w)); do
    key=$(printf '2024%06d' "${rows[w]}")
    "$tool" "$table" "update [roster] set N__2='w$w r$round' where N__='$key'" \
      >"$work/out.$w" 2>"$work/err.$w" &
    pids+=($!)
  done
  for ((w = 0; w < writers; ++w)); do
    status=0
    wait "${pids[w]}" || status=$?
    if [ $status -eq 0 ] && [ "$(cat "$work/out.$w")" = 1 ]; then
      done_count=$((done_count + 1))
      # The record now holds the new name.
      awk -F'\t' -v OFS='\t' -v key="$(printf '2024%06d' "${rows[w]}")" -v name="w$w r$round" \
        '$1 == key { $2 = name } { print }' "$work/expected" >"$work/next"
      mv "$work/next" "$work/expected"
    else
      refused=$((refused + 1))
      echo "round $round writer $w refused (status $status): $(cat "$work/err.$w")" >&2
    fi
  done
  snapshot >"$work/now"
  if ! cmp -s "$work/now" "$work/expected"; then
    while IFS=$'\t' read -r key rest; do
      want=$(awk -F'\t' -v key="$key" '$1 == key' "$work/expected")
      have=$(awk -F'\t' -v key="$key" '$1 == key' "$work/now")
      [ "$want" = "$have" ] && continue
      if [[ $want == *$'\tw'*' r'"$round"$'\t'* ]]; then missing=$((missing + 1)); else changed=$((changed + 1)); fi
      echo "round $round: $key is \"$have\", expected \"$want\"" >&2
    done <"$work/expected"
    cp "$work/now" "$work/expected" # go on from what the file holds
  fi
done

echo "$writers writers, $rounds rounds: $done_count updates reported done, $refused refused," \
  "$missing reported done but missing, $changed other records changed"
if command -v ogrinfo >/dev/null; then
  ogr=$(ogrinfo -ro -al -q --config SHAPE_ENCODING CP936 "$table" | sed -n 's/^  N__2 (String) = //p')
  ours=$(cut -f2 "$work/expected")
  if [ "$ogr" = "$ours" ]; then echo "ogrinfo reads the same names"; else echo "ogrinfo reads other names" >&2; exit 1; fi
fi
[ $missing -eq 0 ] && [ $changed -eq 0 ]
