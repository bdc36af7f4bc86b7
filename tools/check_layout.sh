#!/usr/bin/env bash
# Keeps the source tree's floors in order: every #include "folder/..." in src/ must point at the
# same floor or one below it, so that each layer builds and tests without those above it. It also
# keeps files small enough to read in one sitting, and each folder's purpose written at the top of
# its first header. Prints each offence as FILE:LINE and exits 1.
#
# Usage: tools/check_layout.sh [SOURCE_ROOT]   (the checkout's top folder; default: this script's)
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
cd "$root"

# The floors, lowest first. Folders on one floor may include each other.
declare -A floor=(
    [platform]=0 [resources]=0
    [core]=1
    [midi]=2 [synth]=2 [audio]=2 [settings]=2 [notation]=2
    [view]=3
    [ui]=4
    [export]=5
    [app]=6
    [cli]=7
)
max_lines=750

# Headers that only some folders may include, whatever their floor: the window's session (where
# the song's life is kept) belongs to app/ and the command line; the dialogs layer is opened only
# by the roof, so that no room below it can stop the program on a modal box.
declare -A only_from=(
    [app/session_state.h]="app cli"
    [app/song_session.h]="app cli"
    [platform/dialogs.h]="platform app cli"
)

# Plain value headers of core/ that every floor may include, platform/ too: the failure value every
# room returns (and the factory result carrying it), and the one sample rate. They depend on nothing
# but the standard library.
declare -A any_floor=([core/failure.h]=1 [core/made.h]=1 [core/sample_rate.h]=1)

status=0
while IFS= read -r -d '' file; do
    from=${file#src/}
    from=${from%%/*}
    own=${floor[$from]:-}
    if [ -z "$own" ]; then
        echo "$file: folder '$from' has no floor in tools/check_layout.sh" >&2
        status=1
        continue
    fi
    while IFS=: read -r line target; do
        to=${target%%/*}
        level=${floor[$to]:-}
        [ -z "$level" ] && continue  # not one of ours (a test helper, a generated header)
        if ((level > own)) && [ -z "${any_floor[$target]:-}" ]; then
            echo "$file:$line: includes $target, a floor above $from/" >&2
            status=1
        fi
        allowed=${only_from[$target]:-}
        if [ -n "$allowed" ] && [[ " $allowed " != *" $from "* ]]; then
            echo "$file:$line: includes $target, which only $allowed may include" >&2
            status=1
        fi
    done < <(grep -n -o '^#include "[^"]*"' "$file" | sed 's/#include "//; s/"$//')
    lines=$(wc -l <"$file")
    if ((lines > max_lines)); then
        echo "$file:1: $lines lines; split it by job (at most $max_lines)" >&2
        status=1
    fi
done < <(find src \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
# The transport alone moves the player and what it plays, so that the rule the refill's thread
# safety rests on (stop the player before moving what it reads) is kept in one file: the seek
# offset is the transport's own, and no other room above audio/ includes the streaming player.
while IFS= read -r hit; do
    echo "$hit: only app/transport touches the seek offset" >&2
    status=1
done < <(grep -rn -i --include='*.h' --include='*.cpp' 'seekOffset' src | grep -v '^src/app/transport\.\(h\|cpp\):' || true)
while IFS= read -r hit; do
    echo "$hit: only app/transport drives the streaming player" >&2
    status=1
done < <(grep -rn --include='*.h' --include='*.cpp' '^#include "audio/streaming_player.h"' src |
    grep -v -e '^src/audio/' -e '^src/app/transport\.cpp:' || true)
# One test of "a regular file" for the program (core/file_access) and one for platform/, which
# sits below it, so that every room means the same by a file.
while IFS= read -r hit; do
    echo "$hit: test for a regular file with IsRegularFile (core/file_access.h)" >&2
    status=1
done < <(grep -rn --include='*.h' --include='*.cpp' 'S_ISREG' src |
    grep -v -e '^src/core/file_access\.cpp:' -e '^src/platform/atomic_file\.cpp:[0-9]*:    return S_ISREG' || true)
# One failure idiom: a fallible function returns a Failure (or a value carrying one), never a
# reason through a string it is handed. The MIDI ports' opening is the one place left to convert.
while IFS= read -r hit; do
    echo "$hit: return a Failure (core/failure.h) instead of a reason through a string" >&2
    status=1
done < <(grep -rnP --include='*.h' '(?<!const )std::string ?[&*] ?(error|why|reason|problem)[,)]' src |
    grep -v -e '^src/platform/midi_input\.h:' -e '^src/platform/midi_output\.h:' || true)
# Nor does an error number cross a header: a room that meets one puts it in words (ErrnoText,
# core/failure.h) and returns those, so that no caller has to know what the number means.
while IFS= read -r hit; do
    echo "$hit: return a Failure (core/failure.h) instead of an error number through an int" >&2
    status=1
done < <(grep -rnP --include='*.h' '\bint ?[&*] ?(error|errno|err|failed|failure)\w*[,)]' src || true)
# Each folder says what it is for in the first two lines of its first header, so that a newcomer
# opening any folder reads its purpose first.
for folder in src/*/; do
    name=$(basename "$folder")
    first=$(find "$folder" -maxdepth 1 -name '*.h' | sort | head -n1)
    [ -z "$first" ] && continue
    if ! head -n1 "$first" | grep -q "^// $name/: "; then
        echo "$first:1: the folder's first header should open with \"// $name/: what the folder is for\"" >&2
        status=1
    fi
done
exit $status
