# Shared by the benchmarks that measure a process family's processor time (sourced, not run).

# The process and every process below it.
family() {
  local pids=("$1") k=0
  while (( k < ${#pids[@]} )); do
    for child in $(pgrep -P "${pids[$k]}" || true); do pids+=("$child"); done
    k=$((k + 1))
  done
  echo "${pids[@]}"
}
ticks() {
  local sum=0
  for pid in $(family "$1"); do
    [ -r "/proc/$pid/stat" ] && sum=$((sum + $(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)))
  done
  echo "$sum"
}
now() { date +%s.%N; }
