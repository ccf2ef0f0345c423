#!/usr/bin/env bash
# The whole job on the real program under a virtual X server, by real keys:
# three copies of the sample photograph are opened; on the first, find its
# left pupil on the screen, right click for the magnifier (screenshot kept)
# and click to remove the red; the title then carries the unsaved mark.
# Ctrl+Q asks (Esc keeps the window; Yes and an Esc in the save dialog keep
# it too), Ctrl+N asks (Esc stays), Ctrl+Alt+S saves and Ctrl+N moves on
# without asking. On the second, a click and Ctrl+N: Yes and Return in the
# save dialog save it and move on. On the third, a click and Ctrl+Q: No
# ends the program with status 0. Both outputs "<name> - nre.jpg" must have
# lost the red of their left pupil, and the third must not be written.
# Usage: e2e_window.sh PROGRAM SAMPLE.jpg [ARTEFACT_DIR]
# Exit 77 (skipped) when the X tools or the sample are missing.
set -u
program=$1
sample=$2
shots=${3:-}

for tool in xvfb-run xdotool xwd xprop djpeg od awk; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/deps.sh --test installs it)"
    exit 77
  fi
done
if [ ! -f "$sample" ]; then
  echo "SKIP: no sample photograph at $sample"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo="$work/sample.jpg"
cp "$sample" "$photo"
cp "$sample" "$work/second.jpg"
cp "$sample" "$work/third.jpg"
# A settings file of this run only: no startup hints window to wait on.
mkdir -p "$work/config"
printf '[General]\nStartup Hints=0\n' > "$work/config/$(basename "$program").INI"

cat > "$work/drive.sh" <<'INNER'
set -u
program=$1; photo=$2; work=$3
export XDG_CONFIG_HOME="$work/config"
"$program" "$photo" "$work/second.jpg" "$work/third.jpg" > "$work/program.log" 2>&1 &
pid=$!
fail() { echo "$*"; kill "$pid" 2>/dev/null; cat "$work/program.log"; exit 1; }
# Waits until a window with exactly this name is shown; prints its id.
await_window() {
  local id=""
  for _ in $(seq 1 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
await_gone() {
  for _ in $(seq 1 100); do
    [ -z "$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  return 1
}
# The main window's caption becomes exactly this.
await_caption() {
  local now=""
  for _ in $(seq 1 100); do
    now=$(xdotool getwindowname "$wid" 2>/dev/null)
    [ "$now" = "$1" ] && return 0
    sleep 0.1
  done
  echo "caption is '$now', not '$1'"
  return 1
}
# A key to the main window, then a key to the box it brings up (kept as a
# screenshot when a name is given).
answer() {  # KEY BOX-TITLE ANSWER-KEY [SHOT]
  xdotool windowfocus --sync "$wid" 2>/dev/null
  xdotool key --clearmodifiers "$1"
  local box
  box=$(await_window "$2") || fail "$1 showed no '$2' window"
  sleep 0.3
  [ -n "${4:-}" ] && { xwd -id "$box" -silent > "$work/$4.xwd" || true; }
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key --clearmodifiers "$3"
  await_gone "$2" || fail "'$2' did not go on $3"
  sleep 0.3
}
expected="Scarlex : $(basename "$photo")"
wid=""
for _ in $(seq 1 100); do
  wid=$(xdotool search --name "^${expected}\$" 2>/dev/null | head -n 1)
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || fail "program ended before showing its window"
  sleep 0.2
done
[ -n "$wid" ] || fail "no window with the caption '$expected'"
caption=$(xdotool getwindowname "$wid")
echo "caption: $caption"
[ "$caption" = "$expected" ] || fail "wrong caption"
sleep 1  # let it paint
# No settings file held a size: the first start takes most of the screen.
read -r ww wh < <(xdotool getwindowgeometry "$wid" | awk '/Geometry/ { split($2, s, "x"); print s[1], s[2] }')
echo "first start: ${ww}x${wh} on 1024x768"
[ "$ww" -ge 716 ] && [ "$wh" -ge 537 ] || fail "the first window is smaller than 70 % of the screen"
xdotool windowfocus --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid"

# The window as shown, one "x y r g b" line per pixel of the client area.
pixels() {
  xwd -id "$wid" -silent > "$1" || return 1
  local header=( $(od -An -tu1 -N100 -v "$1") ) i v
  local field=()
  for ((i = 0; i < 25; i++)); do
    v=$(( (header[4*i] << 24) | (header[4*i+1] << 16) | (header[4*i+2] << 8) | header[4*i+3] ))
    field+=("$v")
  done
  # header_size, width, height, byte_order, bits_per_pixel, bytes_per_line, ncolors
  local hsize=${field[0]} w=${field[4]} h=${field[5]} order=${field[7]} bpp=${field[11]} bpl=${field[12]} ncolors=${field[19]}
  [ "$bpp" -eq 32 ] || { echo "screenshot has $bpp bits per pixel" >&2; return 1; }
  od -An -tu1 -v -w4 -j $((hsize + 12 * ncolors)) "$1" |
    awk -v w="$w" -v bpl="$bpl" -v order="$order" '{
      x = (NR - 1) % (bpl / 4); y = int((NR - 1) / (bpl / 4));
      if (x >= w) next;
      if (order == 0) { r = $3; g = $2; b = $1 } else { r = $2; g = $3; b = $4 }
      print x, y, r, g, b }'
}

# The pupils are the strongly red blobs between the tool bar and the bottom
# panel; the left one is aimed at.
pixels "$work/shown.xwd" > "$work/shown.txt" || fail "screenshot failed"
height=$(xdotool getwindowgeometry "$wid" | awk '/Geometry/ { split($2, s, "x"); print s[2] }')
read -r px py count < <(awk -v hmax=$((height - 70)) 'BEGIN { n = 0 }
  $2 > 60 && $2 < hmax && $3 > 180 && $3 > 4 * $4 && $3 > 4 * $5 { xs[n] = $1; ys[n] = $2; n++;
    if (n == 1 || $1 < lo) lo = $1; if (n == 1 || $1 > hi) hi = $1 }
  END { mid = (lo + hi) / 2; for (i = 0; i < n; i++) if (xs[i] < mid) { sx += xs[i]; sy += ys[i]; k++ }
        if (k) printf "%d %d %d\n", sx / k + 0.5, sy / k + 0.5, k; else print "0 0 0" }' "$work/shown.txt")
echo "left pupil on screen at ($px, $py), $count red pixels"
[ "$count" -ge 10 ] || fail "no red pupil found on the screen"

# Aim: the pointer onto the pupil (two moves, so the view sees one), then
# the right click for the magnifier.
xdotool mousemove --window "$wid" $((px + 5)) $((py + 5))
sleep 0.3
xdotool mousemove --window "$wid" "$px" "$py"
sleep 0.3
xdotool click 3
sleep 0.5
xwd -id "$wid" -silent > "$work/magnifier.xwd" || fail "screenshot of the magnifier failed"
echo "magnifier screenshot: $(stat -c %s "$work/magnifier.xwd") bytes"
# Click: the removal at the crosshair; the title marks the unsaved edit.
xdotool click 1
await_caption "${expected}*" || fail "no unsaved-changes mark after the edit"
echo "edited: $(xdotool getwindowname "$wid")"

# The close prompt: Esc (Cancel) keeps the window and the edit.
answer ctrl+q "Confirm" Escape prompt
kill -0 "$pid" 2>/dev/null || fail "Cancel at the close prompt ended the program"
await_caption "${expected}*" || fail "Cancel at the close prompt lost the edit"
echo "close prompt, Cancel: still on the edit"
# Yes, then Esc in the save dialog: still open, still edited.
answer ctrl+q "Confirm" y
dialog=$(await_window "Save As...") || fail "Yes at the close prompt showed no save dialog"
xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool key --clearmodifiers Escape
await_gone "Save As..." || fail "the save dialog did not go on Esc"
sleep 0.3
kill -0 "$pid" 2>/dev/null || fail "a cancelled save at the close prompt ended the program"
await_caption "${expected}*" || fail "a cancelled save at the close prompt lost the edit"
echo "close prompt, Yes and a cancelled save: still on the edit"
# The Next prompt: Esc stays on this photograph.
answer ctrl+n "Confirm" Escape
await_caption "${expected}*" || fail "Cancel at the Next prompt moved on"
echo "Next prompt, Cancel: still on the edit"

xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key --clearmodifiers ctrl+alt+s
out="$work/sample - nre.jpg"
for _ in $(seq 1 100); do
  [ -s "$out" ] && break
  sleep 0.1
done
[ -s "$out" ] || fail "Auto Save wrote no '$out'"
await_caption "$expected" || fail "the mark stayed after Auto Save"
echo "saved: $out"
# Saved: Next asks nothing.
xdotool key --clearmodifiers ctrl+n
await_caption "Scarlex : second.jpg" || fail "Next after a save did not move on"
echo "Next without a question: $(xdotool getwindowname "$wid")"

# The second: a click, then Next; Yes and Return in the save dialog save
# it under the proposed name and move on.
sleep 0.5
xdotool click 1
await_caption "Scarlex : second.jpg*" || fail "no edit on the second photograph"
answer ctrl+n "Confirm" y
dialog=$(await_window "Save As...") || fail "Yes at the Next prompt showed no save dialog"
sleep 0.5
xwd -id "$dialog" -silent > "$work/savedialog.xwd" || true
xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool key --clearmodifiers Return
await_gone "Save As..." || fail "the save dialog did not take Return"
await_caption "Scarlex : third.jpg" || fail "Next did not move on after the save"
[ -s "$work/second - nre.jpg" ] || fail "Yes at the Next prompt saved no 'second - nre.jpg'"
echo "Next prompt, Yes: saved 'second - nre.jpg' and moved on"

# The third: a click, then Ctrl+Q and No: the program ends, nothing saved.
sleep 0.5
xdotool click 1
await_caption "Scarlex : third.jpg*" || fail "no edit on the third photograph"
xwd -id "$wid" -silent > "$work/final.xwd" || true
# At its narrowest no status panel is cut off by the window's edge: right
# of the last panel the bar shows its own background. (Without a window
# manager nothing holds the minimum size, so it is asked for.)
minw=$(xprop -id "$wid" WM_NORMAL_HINTS 2>/dev/null | awk '/minimum size/ { print $5; exit }')
[ -n "$minw" ] || fail "no minimum size hint"
xdotool windowsize "$wid" "$minw" "$wh" 2>/dev/null
sleep 0.5
xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key --clearmodifiers Prior  # a radius step: the panels come out from under the report
sleep 0.5
pixels "$work/narrowest.xwd" > "$work/narrowest.txt" || fail "screenshot failed"
read -r shotw shoth rightmost < <(awk 'BEGIN { w = 0; h = 0 }
  { if ($1 + 1 > w) w = $1 + 1; if ($2 + 1 > h) h = $2 + 1; px[$1 "," $2] = $3 " " $4 " " $5 }
  END { far = -1
        for (y = h - 18; y < h - 3; y++) { bg = px["1," y]
          for (x = 2; x < w; x++) if (px[x "," y] != bg && x > far) far = x }
        print w, h, far }' "$work/narrowest.txt")
echo "narrowest: ${shotw}x${shoth} (minimum $minw), status panels end at x = $rightmost"
[ "$shotw" -eq "$minw" ] || fail "the window did not take its minimum width"
[ "$rightmost" -gt 100 ] && [ "$rightmost" -lt $((shotw - 2)) ] || fail "a status panel is cut off at the window's edge"
answer ctrl+q "Confirm" n
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "No at the close prompt did not close the window"
[ -e "$work/third - nre.jpg" ] && fail "No at the close prompt saved all the same"
echo "close prompt, No: closed without saving"
wait "$pid"
status=$?
echo "exit status: $status"
[ "$status" -eq 0 ] || { cat "$work/program.log"; exit 1; }
INNER

xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/drive.sh" "$program" "$photo" "$work"
status=$?
if [ -n "$shots" ]; then
  mkdir -p "$shots"
  for f in shown magnifier prompt savedialog final narrowest; do
    [ -f "$work/$f.xwd" ] && cp "$work/$f.xwd" "$shots/e2e_$f.xwd"
  done
fi
[ $status -eq 0 ] || exit $status

# The output's left pupil (652, 540) is no longer red; the original's is.
level() {  # file x y -> "r g b"
  djpeg -pnm "$1" > "$work/check.ppm" || return 1
  local width hdr
  width=$(head -n 2 "$work/check.ppm" | tail -n 1 | awk '{ print $1 }')
  hdr=$(head -n 3 "$work/check.ppm" | wc -c)
  tail -c +$((hdr + (${3} * width + ${2}) * 3 + 1)) "$work/check.ppm" | head -c 3 | od -An -tu1
}
read -r r0 g0 b0 < <(level "$photo" 652 540)
if [ "$r0" -le $((2 * g0)) ]; then echo "the sample's pupil is not red to begin with"; exit 1; fi
for name in "sample" "second"; do
  out="$work/$name - nre.jpg"
  read -r r1 g1 b1 < <(level "$out" 652 540)
  read -r r2 g2 b2 < <(level "$out" 948 540)
  echo "$name: pupil (652,540) before $r0 $g0 $b0, after $r1 $g1 $b1; other pupil after: $r2 $g2 $b2"
  if [ "$r1" -gt $((g1 * 3 / 2)) ] && [ "$r1" -gt $((b1 * 3 / 2)) ]; then echo "the saved pupil is still red"; exit 1; fi
  if [ "$r2" -le $((2 * g2)) ]; then echo "the other pupil was changed too"; exit 1; fi
done
echo "e2e: the whole job done"
