#!/usr/bin/env bash
# Starts the real program under a virtual X server on a copy of the sample
# photograph, waits for its window, takes a screenshot, closes it with
# Ctrl+Q and checks the caption and the exit status.
# Usage: e2e_window.sh PROGRAM SAMPLE.jpg [SCREENSHOT_DIR]
# Exit 77 (skipped) when the X tools are not installed.
set -u
program=$1
sample=$2
shots=${3:-}

for tool in xvfb-run xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/deps.sh --test installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo="$work/sample-copy.jpg"
if [ -f "$sample" ]; then
  cp "$sample" "$photo"
elif command -v cjpeg >/dev/null 2>&1; then
  # No bundled sample in this tree: make a small photograph.
  { printf 'P6\n64 48\n255\n'; head -c $((64 * 48 * 3)) /dev/urandom; } > "$work/noise.ppm"
  cjpeg -quality 85 "$work/noise.ppm" > "$photo"
else
  echo "SKIP: no sample photograph and no cjpeg to make one"
  exit 77
fi

cat > "$work/drive.sh" <<'INNER'
set -u
program=$1; photo=$2; work=$3
"$program" "$photo" > "$work/program.log" 2>&1 &
pid=$!
expected="Scarlex : $(basename "$photo")"
wid=""
for _ in $(seq 1 100); do
  wid=$(xdotool search --name "^${expected}\$" 2>/dev/null | head -n 1)
  [ -n "$wid" ] && break
  if ! kill -0 "$pid" 2>/dev/null; then echo "program ended before showing its window"; cat "$work/program.log"; exit 1; fi
  sleep 0.2
done
if [ -z "$wid" ]; then
  echo "no window with the caption '$expected'"; xdotool search --name Scarlex getwindowname %@ 2>/dev/null
  kill "$pid"; exit 1
fi
caption=$(xdotool getwindowname "$wid")
echo "caption: $caption"
[ "$caption" = "$expected" ] || { echo "wrong caption"; kill "$pid"; exit 1; }
sleep 1  # let it paint
if command -v xwd >/dev/null 2>&1; then
  xwd -root -silent > "$work/screen.xwd" && [ -s "$work/screen.xwd" ] || { echo "screenshot failed"; kill "$pid"; exit 1; }
  echo "screenshot: $(stat -c %s "$work/screen.xwd") bytes"
fi
xdotool windowfocus --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid"
xdotool key --clearmodifiers ctrl+q
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then echo "Ctrl+Q did not close the window"; kill "$pid"; exit 1; fi
wait "$pid"
status=$?
echo "exit status: $status"
[ "$status" -eq 0 ] || { cat "$work/program.log"; exit 1; }
INNER

xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/drive.sh" "$program" "$photo" "$work"
status=$?
if [ $status -eq 0 ] && [ -n "$shots" ] && [ -f "$work/screen.xwd" ]; then
  mkdir -p "$shots" && cp "$work/screen.xwd" "$shots/e2e_window.xwd"
fi
exit $status
