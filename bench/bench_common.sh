# shellcheck shell=bash
# What the desktop benchmarks share: the checks made before a bed starts, the
# player paused and resumed, and the CPU, wake-up and memory figures read from
# /proc. Source it from bash after testbed.sh (and the bed's own script, whose
# bed_fail it uses).

BENCH_TICKS=$(getconf CLK_TCK)

# Stops the benchmark before anything started: bench_die MESSAGE...
bench_die() {
  echo "$*" >&2
  exit 2
}

# Every PROGRAM built, or a word on which targets to build.
#   bench_need_built TARGETS PROGRAM...
bench_need_built() {
  local targets=$1 program
  shift
  for program in "$@"; do
    [ -x "$program" ] || bench_die "missing $program: build $targets first"
  done
}

#   bench_need_command COMMAND PACKAGE PURPOSE
bench_need_command() {
  command -v "$1" > /dev/null || bench_die "$1 ($2) is needed $3"
}

bench_load() { cut -d' ' -f1-3 /proc/loadavg; }

# utime + stime of all of a process's threads, in clock ticks.
bench_cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" 2> /dev/null | awk '{ print $12 + $13 }'; }

# Context switches of all of a process's threads: each is a wake-up, or a
# preemption of one. Those of threads that ended are lost, so the count of a
# span in which threads ended can come out negative.
bench_wakeups() {
  awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }' /proc/"$1"/task/*/status 2> /dev/null
}

# The program a process runs, without comm's cut at 15 characters.
bench_name() {
  local program
  program=$(tr '\0' '\n' 2> /dev/null < "/proc/$1/cmdline" | head -n1)
  echo "${program##*/}"
}

# Context switches of each of a process's threads, a line each: TID NAME COUNT.
bench_thread_wakeups() {
  local task
  for task in /proc/"$1"/task/*; do
    awk -v tid="${task##*/}" -v name="$(tr " " _ < "$task/comm" 2> /dev/null)" \
      '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { printf "%s %s %d\n", tid, name, n }' "$task/status" 2> /dev/null
  done
}

# What each PID costs over the next SPAN seconds, a line each with the wake-ups
# of its busiest threads under it, then the load average at the end.
#   bench_usage SPAN PID...
bench_usage() {
  local span=$1 pid start end ticks wakeups i=0 ticks0=() wakeups0=() threads0=()
  shift
  for pid in "$@"; do
    ticks0+=("$(bench_cpu_ticks "$pid")")
    wakeups0+=("$(bench_wakeups "$pid")")
    threads0+=("$(bench_thread_wakeups "$pid")")
  done
  start=$EPOCHREALTIME
  sleep "$span"
  end=$EPOCHREALTIME
  for pid in "$@"; do
    ticks=$(bench_cpu_ticks "$pid")
    wakeups=$(bench_wakeups "$pid")
    if [ -z "$ticks" ] || [ -z "${ticks0[i]}" ]; then
      echo "  pid $pid: not running at both ends of the measurement"
    else
      awk -v t=$((ticks - ticks0[i])) -v w=$((wakeups - wakeups0[i])) -v hz="$BENCH_TICKS" -v s="$start" -v e="$end" \
        -v who="$(bench_name "$pid") (pid $pid)" \
        'BEGIN { printf "  %s: %.3f%% of one core (%d ticks), %s, over %.1f s\n",
                        who, 100 * t / hz / (e - s), t,
                        w < 0 ? "wake-ups not counted (threads ended)" : sprintf("%.1f wake-ups/s", w / (e - s)), e - s }'
    fi
    # Threads present at both ends, busiest first.
    bench_thread_wakeups "$pid" | awk -v s="$start" -v e="$end" -v before="${threads0[i]}" '
      BEGIN { n = split(before, lines, "\n"); for (j = 1; j <= n; j++) { split(lines[j], f, " "); was[f[1]] = f[3] } }
      ($1 in was) && $3 > was[$1] { printf "%.1f %s\n", ($3 - was[$1]) / (e - s), $2 " (" $1 ")" }' \
      | sort -rn | head -n 8 | awk '{ printf "    %6.1f/s  %s %s\n", $1, $2, $3 }'
    i=$((i + 1))
  done
  echo "  load: $(bench_load)"
}

# Resident memory of a process, on one line.
bench_memory() {
  grep -E '^(VmRSS|RssAnon|RssFile|RssShmem|VmHWM):' "/proc/$1/status" | tr -s ' \t' ' ' | paste -sd' '
}

bench_pause_player() {
  bed_mpv_command '{"command": ["set_property", "pause", true]}' || bed_fail "mpv did not pause"
  bed_wait 10 bed_player_stream_corked || bed_fail "mpv did not cork its stream"
  # velmora forgets a player 2 s after it was last heard.
  sleep 3
}

bench_resume_player() {
  bed_mpv_command '{"command": ["set_property", "pause", false]}' || bed_fail "mpv did not resume"
  bed_wait 10 bed_player_stream_running || bed_fail "mpv is not playing"
}
