# Sourced by the benchmarks that time whole runs of a command: time_one and best_of_runs.
# best_of_runs takes the best of $runs runs (31 unless the benchmark sets it).

# The time of one run of a command, in nanoseconds.
time_one() {
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    echo $((t1 - t0))
}

# The best time of a command over the runs, in nanoseconds.
best_of_runs() {
    local best="" dt
    for _ in $(seq "${runs:-31}"); do
        dt=$(time_one "$@")
        if [ -z "$best" ] || [ "$dt" -lt "$best" ]; then best=$dt; fi
    done
    echo "$best"
}
