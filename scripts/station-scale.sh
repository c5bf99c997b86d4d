#!/usr/bin/env bash
# How a station scales: for each N, N simulated receivers paced at 115200 baud
# on pseudo-terminals, a 256 KiB firmware image each, one `kavdm station` over
# them. Prints each N's line times against the same line alone (N = 1) and the
# station process's own CPU (not its children's).
#
#   scripts/station-scale.sh [-b BUILD_DIR] [--separate] [N ...]     (default: build, 1 8 16 32 64)
#
# --separate runs N separate `kavdm download` processes instead of one station,
# the same lines without the station, to tell its cost from the machine's own.
set -euo pipefail

build=build
if [ "${1:-}" = "-b" ]; then build=$2; shift 2; fi
separate=0
if [ "${1:-}" = "--separate" ]; then separate=1; shift; fi
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 8 16 32 64)
kavdm=$(realpath "$build/kavdm")
work=$(mktemp -d /tmp/kavdm-station-scale-XXXXXX)
receivers=()
cleanup() {
  for pid in "${receivers[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# One firmware module of 262144 bytes: a 64-byte header block, then the data.
python3 - "$work/image.bin" <<'PY'
import os, struct, sys
header = bytearray(44)
header[0] = 0x01
header[1:9] = b"KAVRONEL"
header[31] = 1                                  # firmware
header[34:38] = struct.pack(">I", 262144)       # its length
with open(sys.argv[1], "wb") as out:
    out.write(bytes(header) + b"\xff" * 20 + os.urandom(262144))
PY
"$kavdm" image info "$work/image.bin" > /dev/null

alone=""
printf '%4s %10s %10s %10s %9s %12s %10s\n' N line_mean_s line_max_s alone_s worst_pct station_cpu_s cpu_pct
for n in "${counts[@]}"; do
  receivers=()
  ports=()
  for i in $(seq 1 "$n"); do
    "$kavdm" receiver --pty --rate 115200 --pace --timeout 120 > "$work/rx$i.out" 2>/dev/null &
    receivers+=($!)
  done
  for i in $(seq 1 "$n"); do
    for _ in $(seq 1 100); do [ -s "$work/rx$i.out" ] && break; sleep 0.05; done
    ports+=(-p "$(head -1 "$work/rx$i.out")")
  done
  rm -f "$work/report.jsonl" "$work"/ended*.jsonl
  if [ "$separate" = 1 ]; then
    # The same lines as separate processes: each one's ended event as its record.
    downloads=()
    for i in $(seq 1 "$n"); do
      "$kavdm" download "$work/image.bin" -p "${ports[$((2 * i - 1))]}" -b 115200 -w 60 -q --json \
        > "$work/ended$i.jsonl" 2>/dev/null &
      downloads+=($!)
    done
    wait "${downloads[@]}" || true
    wait "${receivers[@]}" 2>/dev/null || true
    receivers=()
    line=$(python3 - "$n" "$work"/ended*.jsonl <<'PY'
import json, sys
ended = [e for f in sys.argv[2:] for e in map(json.loads, open(f)) if e.get("event") == "ended"]
seconds = [e["seconds"] for e in ended if e["result"] == "complete"]
if len(seconds) != int(sys.argv[1]):
    sys.exit("only %d of %s lines completed" % (len(seconds), sys.argv[1]))
print("%10.2f %10.2f" % (sum(seconds) / len(seconds), max(seconds)))
PY
)
    printf '%4s %s   (separate processes, no station)\n' "$n" "$line"
    continue
  fi
  "$kavdm" station download "$work/image.bin" "${ports[@]}" -b 115200 -w 60 -q --json \
    --report "$work/report.jsonl" > "$work/events.jsonl" 2> "$work/station.err" || {
    echo "N=$n: the station failed:"; cat "$work/station.err"; exit 1; }
  wait "${receivers[@]}" 2>/dev/null || true
  receivers=()
  line=$(python3 - "$work/report.jsonl" "$work/events.jsonl" "${alone:-0}" "$n" <<'PY'
import json, sys
records = [json.loads(l) for l in open(sys.argv[1]) if l.endswith("\n")]
summary = [e for e in map(json.loads, open(sys.argv[2])) if e.get("event") == "summary"][-1]
seconds = [r["seconds"] for r in records if r["result"] == "complete"]
if len(seconds) != int(sys.argv[4]):
    sys.exit("only %d of %s lines completed" % (len(seconds), sys.argv[4]))
alone = float(sys.argv[3]) or sum(seconds) / len(seconds)
worst = (max(seconds) / alone - 1) * 100
print("%10.2f %10.2f %10.2f %8.2f%% %12.3f %9.2f%%" % (sum(seconds) / len(seconds), max(seconds), alone, worst,
      summary["cpu_seconds"], summary["cpu_seconds"] / summary["wall_seconds"] * 100))
PY
)
  [ -n "$alone" ] || alone=$(echo "$line" | awk '{print $1}')
  printf '%4s %s\n' "$n" "$line"
done
