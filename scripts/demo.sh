#!/usr/bin/env bash
# Demo of the gateway on this machine, without touching its /var or /etc:
#   sudo scripts/demo.sh
# Installs the dependencies, builds quillon, and runs it in a private mount namespace in
# which /var/morvel/quillon and /var/log/quillon are temporary directories. It shows
#   1. the example configuration being loaded and the cache database built from it;
#   2. an unusable configuration being reported and read again every 5 seconds, and the
#      gateway going on once the file is repaired;
#   3. the data collector reading and scanning a simulated BACnet/IP device (tests/sim) on a
#      private network of namespaces.
# The gateway's polling engine is not part of this build yet, so the gateway idles after
# loading its configuration. The demo stops by itself (about 40 s) or on Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "$(id -u)" -ne 0 ]; then
  echo "demo: needs root for a private mount namespace: sudo scripts/demo.sh" >&2
  exit 1
fi

scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build-demo}
echo "demo: building quillon in $BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target quillon >/dev/null
binary=$(cd "$BUILD_DIR" && pwd)/src/app/quillon

work=$(mktemp -d /tmp/quillon-demo.XXXXXX)
pids=()
lan=qdemo
cleanup() {
  tests/sim/netns-down.sh "$lan" >/dev/null 2>&1 || true
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "demo: interrupted"; exit 130' INT TERM

# Starts quillon with the given arguments in its own mount namespace; output to $1.
start_gateway() {
  local out=$1; shift
  mkdir -p "$work/db" "$work/log"
  unshare --mount --propagation private /bin/sh -c '
    set -e
    mount -t tmpfs tmpfs /var
    mkdir -p /var/morvel/quillon /var/log/quillon
    mount --bind "$1/db" /var/morvel/quillon
    mount --bind "$1/log" /var/log/quillon
    shift
    exec "$@"' sh "$work" "$binary" "$@" >"$out" 2>&1 &
  pids+=($!)
}

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local limit=$1; shift
  for _ in $(seq $((limit * 10))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

section() { echo; echo "=== $*"; }

section "1. The example configuration (examples/quillon.json)"
cp examples/quillon.json "$work/quillon.json"
start_gateway "$work/console1.txt" -c "$work/quillon.json"
db=$work/db/quillon_eth0.db
cache_built() { [ "$(sqlite3 "$db" 'SELECT COUNT(*) FROM topics_out' 2>/dev/null)" = 4 ]; }
wait_for 20 cache_built ||
  { echo "demo: the cache was not built"; cat "$work/console1.txt"; exit 1; }
echo "quillon -c quillon.json  (pid ${pids[-1]}) built /var/morvel/quillon/quillon_eth0.db:"
echo "--- devices"
sqlite3 -header -column "$db" 'SELECT id, name, active FROM devices'
echo "--- parameters and their topics"
sqlite3 -header -column "$db" \
  'SELECT device, name, object_name, instance, property, read_only AS ro,
          COALESCE(topic_out, "(converted)") AS value_topic, topic_in AS command_topic
   FROM objects ORDER BY id'
echo "--- converted value topics"
sqlite3 -header -column "$db" 'SELECT object_id, topic, converter_read FROM topics_out'
wait_for 10 test -e "$work/log/quillon_eth0.log"
echo "--- log file /var/log/quillon/quillon_eth0.log: created, $(wc -l <"$work/log/quillon_eth0.log") lines"
echo "--- console: $(wc -l <"$work/console1.txt") lines (a complete configuration has no messages)"
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

section "2. A configuration without \"ports\", repaired after about 11 seconds"
rm -rf "$work/db" "$work/log"
echo '{"log": {}}' >"$work/broken.json"
start_gateway "$work/console2.txt" -c "$work/broken.json"
sleep 11
echo "--- console so far (one attempt at once, then one every 5 seconds):"
cat "$work/console2.txt"
cp examples/quillon.json "$work/broken.json"
if wait_for 15 test -e "$work/log/quillon_eth0.log"; then
  echo "--- repaired: the next attempt loaded it, $(sqlite3 "$work/db/quillon_eth0.db" \
    'SELECT COUNT(*) FROM objects') parameters in the cache, the log file is open."
else
  echo "demo: the repaired configuration was not loaded"; exit 1
fi

section "3. The data collector against a simulated BACnet/IP device (instance 1234)"
tests/sim/netns-down.sh "$lan" >/dev/null 2>&1 || true
tests/sim/netns-up.sh "$lan"
ip netns exec "${lan}A" node tests/sim/bacsim.js tests/sim/device1234.json >"$work/sim.txt" 2>&1 &
pids+=($!)
wait_for 15 grep -q listening "$work/sim.txt" || { echo "demo: the simulator did not start"; exit 1; }
mkdir -p "$work/clog"
# The collector in the client namespace, its /var/log a temporary directory.
collect() {
  ip netns exec "${lan}Cli" unshare --mount --propagation private /bin/sh -c \
    'mount --bind "$1" /var/log && shift && exec "$@"' sh "$work/clog" \
    env BACNET_IFACE=eth0 "$binary" "$@"
}
report=$work/clog/quillon/quillon_debug_eth0.log
echo "--- quillon -id 1234 -i 1 -t 2 -p 85   (present-value of analog-value 1)"
collect -id 1234 -i 1 -t 2 -p 85 -timeout 2000 >/dev/null
cat "$report"
: >"$report"
echo "--- quillon -dcollector -id 1234   (every property of every object; console tail)"
collect -dcollector -id 1234 -timeout 2000 | tail -3
echo "--- the report /var/log/quillon/quillon_debug_eth0.log: $(wc -l <"$report") lines, it starts with"
head -40 "$report"

section "done: the demo's files and namespaces are removed on exit"
