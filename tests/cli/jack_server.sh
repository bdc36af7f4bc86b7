# A JACK server of its own on the dummy back end, for the tests and benchmarks that play into a
# MIDI input. Sourced; defines start_jack, start_jack_midi, stop_jack and wait_for.
#
# The server takes a name no other test or user has, so that tests running side by side never
# meet. Small periods (64 frames at 48 kHz, 1.3 ms) because a message through JACK is timed to the
# period that carries it. --sync: in its default mode a server that falls behind on a busy machine
# drops what a client sent in the period it missed, and the test would see notes vanish that no
# recorder could have kept. No realtime scheduling by default: a server that keeps time waits for
# no late client, and a receiver whose process call waits on its language's lock (the Python
# listeners) then misses a period and what it carried. A test that judges timing rather than
# completeness sets DORVIK_JACK_SCHEDULING="--realtime --no-realtime": realtime where the machine
# grants it (as root it does), so that the server's periods come on time however busy the machine
# is, else without it. No audio reservation: CI has no session bus to ask.

# Starts the server for $1 (a short word: what it is for); returns 1 with the reason in
# $jack_failure when none comes up.
#
# The name comes from a few fixed ones rather than a new one each run: JACK keeps a machine-wide
# table of eight servers, and a server that dies without leaving it keeps its entry until a server
# of the same name starts again. A slot whose name a live server holds is passed over.
start_jack() {
    jack_failure=
    if ! command -v jackd >/dev/null 2>&1; then
        jack_failure="jackd is not installed (setup.sh installs jackd2)"
        return 1
    fi
    export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
    local log slot
    log=$(mktemp)
    local schedulings=${DORVIK_JACK_SCHEDULING:---no-realtime}
    for slot in 0 1 2 3; do
        export JACK_DEFAULT_SERVER="dorvik-${1:-test}-$slot"
        # A server refused realtime scheduling exits at once; the next one runs without it.
        for scheduling in $schedulings; do
            jackd "$scheduling" --sync -d dummy -r 48000 -p 64 >"$log" 2>&1 &
            jack_pid=$!
            for _ in $(seq 1 100); do
                kill -0 "$jack_pid" 2>/dev/null || break
                # Ours, not another run's of the same name that answers while ours is still
                # finding the name taken: a server says it is starting only once the name is its own.
                if grep -q 'JACK server starting' "$log" && jack_lsp >/dev/null 2>&1; then
                    rm -f "$log"
                    return 0
                fi
                sleep 0.1
            done
            if kill -0 "$jack_pid" 2>/dev/null; then
                jack_failure="jackd did not answer within 10 seconds"
                stop_jack
                rm -f "$log"
                return 1
            fi
            wait "$jack_pid" 2>/dev/null
            jack_failure="jackd exited at once: $(grep -v -e '^jackdmp' -e '^Copyright' -e 'WARRANTY' -e 'free software' \
                -e 'conditions' "$log" | tr '\n' ' ')"
            jack_pid=
        done
    done
    rm -f "$log"
    return 1
}

# Starts the server for $1 as start_jack does, and has the program's MIDI go through it.
start_jack_midi() {
    start_jack "$@" || return 1
    export DORVIK_MIDI_API=jack
}

# Waits up to 10 s for a line matching $2 in file $1, or until process $3 (if given) has ended;
# false if the line never came. The clients print "ready" once their ports are up.
wait_for() {
    for _ in $(seq 1 200); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        [ -n "${3:-}" ] && ! kill -0 "$3" 2>/dev/null && return 1
        sleep 0.05
    done
    return 1
}

# Stops the server; its clients should have gone first, or it may leave its entry behind.
stop_jack() {
    [ -n "${jack_pid:-}" ] || return 0
    kill "$jack_pid" 2>/dev/null
    wait "$jack_pid" 2>/dev/null
    jack_pid=
}
