#!/bin/sh
# dorvik-midi progress and info read what the window kept of a song, known by its bytes: the
# passes played along (by date, with the figures that say early or late and how loud) and the
# notes moved to the other hand.
# Usage: progress.sh DORVIK_MIDI SONG.mid
set -u
tool=$1 song=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
songs=$XDG_DATA_HOME/dorvik-midi-player/songs
mkdir -p -m 700 "$XDG_DATA_HOME" "$XDG_DATA_HOME/dorvik-midi-player" "$songs"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
key=$(python3 - "$song" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
h = 14695981039346656037
for b in data:
    h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
print(f"{h:016x}-{len(data)}")
PY
)

out=$("$tool" progress "$song")
echo "$out" | grep -q "no passes played along yet" || fail "no history: expected 'no passes', got: $out"

cat >"$songs/$key.scores.txt" <<'TXT'
best 1 = 10 0 0 0 0 5.000 100
pass 1 = 1765244400 6 2 2 2 1 48.5 80 31.2 20.5 10 0
pass 1 = 1765330800 10 0 0 0 0 5.0 100 -3.0 -2.0 10 1
TXT
out=$("$tool" progress "$song")
echo "$out"
echo "$out" | grep -q "2025-12-09 01:40  10 of 12 notes, 62% accurate; 31 ms late on average; 1 wrong key; too loud; at 80% speed (part of the song)" ||
    fail "the first pass as read: $out"
echo "$out" | grep -q "2025-12-10 01:40  10 of 10 notes, 100% accurate; on time on average; even$" || fail "the second pass: $out"
json=$("$tool" progress --json "$song")
echo "$json" | python3 -c '
import json, sys
d = json.load(sys.stdin)
p = d["parts"][0]
assert p["parts"] == "1", p
assert [x["when"] for x in p["passes"]] == ["2025-12-09T01:40:00Z", "2025-12-10T01:40:00Z"], p
assert p["passes"][0]["dynamics"] == "too loud" and p["passes"][0]["meanOffsetMs"] == 31.2, p
assert p["best"]["accuracy"] == 100.0 and p["best"]["when"] is None, p
' || fail "--json: $json"

# A song whose file name is not UTF-8 (an old one, named in Latin-1) is still named in JSON that
# every reader takes.
latin1="$work/caf$(printf '\351').mid"
cp "$song" "$latin1"
"$tool" progress --json "$latin1" | python3 -c '
import json, sys
d = json.loads(sys.stdin.buffer.read().decode("utf-8"))
assert d["song"].endswith("caf\ufffd.mid") and d["parts"][0]["passes"], d
' || fail "--json of a song named in Latin-1"

# A note moved to the other hand in the window is in the other hand for info too.
before=$("$tool" info --json "$song" | python3 -c 'import json,sys; d=json.load(sys.stdin); n=d["parts"][0]["notes"][0]; print(n[0], round(n[1]*1000), len(d["parts"][0]["notes"]), len(d["parts"][1]["notes"]))')
set -- $before
echo "move $1 $2" >"$songs/$key.hands.txt"
after=$("$tool" info --json "$song" | python3 -c 'import json,sys; d=json.load(sys.stdin); print(len(d["parts"][0]["notes"]), len(d["parts"][1]["notes"]), d["parts"][1]["notes"][-1][0])')
[ "$after" = "$(($3 - 1)) $(($4 + 1)) $1" ] || fail "info after moving key $1 at $2 ms: expected $(($3 - 1)) $(($4 + 1)) $1, got $after"
# Kept as the hand chosen: a note put in the hand it is in stays there.
echo "right $1 $2" >"$songs/$key.hands.txt"
kept=$("$tool" info --json "$song" | python3 -c 'import json,sys; d=json.load(sys.stdin); print(len(d["parts"][0]["notes"]), len(d["parts"][1]["notes"]))')
[ "$kept" = "$3 $4" ] || fail "info with key $1 kept in the right hand: expected $3 $4, got $kept"

"$tool" progress 2>/dev/null; [ $? -eq 2 ] || fail "progress without a song: expected a usage error"
[ "$failures" -eq 0 ] || exit 1
echo "progress and hand edits read back"
