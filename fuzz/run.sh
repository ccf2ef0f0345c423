#!/usr/bin/env bash
# Builds every libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-fuzz/, apart from the other builds)
# and runs each for SECONDS, one after the other, on one core. Prints per
# target the executions, exec/s, coverage (cov/ft) and any crash, leak or
# sanitizer report; exits 1 when there was one.
#
#   fuzz/run.sh SECONDS [TARGET...]     targets: decode save redeye ini metadata transform cli
#
# Each target starts from its corpus in the tree (fuzz/corpus/<target>/: the
# inputs build-fuzz/fuzz/seeds/fuzz_seeds writes, and what the targets grew
# from them alone, minimised with -set_cover_merge=1 -use_counters=0),
# what earlier runs found (build-fuzz/corpus/<target>/, where new inputs
# go) and, for the JPEG readers, the photographs of ../shared/testdata when
# present (SCARLEX_TESTDATA names another folder; set it empty to leave them
# out). Failing inputs are kept in build-fuzz/artifacts/<target>/, full logs
# in build-fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

usage() { echo "usage: fuzz/run.sh SECONDS [decode|save|redeye|ini|metadata|transform|cli ...]" >&2; exit 2; }
[ $# -ge 1 ] || usage
seconds=$1
shift
[[ $seconds =~ ^[0-9]+$ ]] && [ "$seconds" -gt 0 ] || usage
all=(decode save redeye ini metadata transform cli)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "fuzz/run.sh: unknown target '$t'" >&2; usage; }
done

# What the build needs, then clang and its sanitizer and libFuzzer runtimes.
scripts/deps.sh
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=$root/build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSCARLEX_FUZZ=ON \
  -DSCARLEX_BUILD_TESTS=OFF -DSCARLEX_BUILD_GUI=OFF -DSCARLEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "${SCARLEX_JOBS:-2}" --target $(printf '%s_fuzz ' "${targets[@]}")

testdata=${SCARLEX_TESTDATA-$root/../shared/testdata}
# Leak checks on, and UBSan's reports fatal and kept like any crash.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:handle_abort=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

declare -A jpeg=([decode]=1 [save]=1 [metadata]=1 [transform]=1)
declare -A dict=([decode]=fuzz/metadata/jpeg_segments.dict [save]=fuzz/metadata/jpeg_segments.dict
                 [metadata]=fuzz/metadata/jpeg_segments.dict [transform]=fuzz/metadata/jpeg_segments.dict
                 [ini]=fuzz/settings/ini.dict [cli]=fuzz/cli/cli.dict)

summary=()
failed=0
scratch=""
trap 'if [ -n "$scratch" ]; then rm -rf "$scratch"; fi' EXIT
for t in "${targets[@]}"; do
  bin=$(find "$build/fuzz" -name "${t}_fuzz" -type f -perm -u+x | head -n1)
  work=$build/corpus/$t
  artifacts=$build/artifacts/$t
  logs=$build/logs
  mkdir -p "$work" "$artifacts" "$logs"
  # The targets write and rename files at every input: on a memory file
  # system when there is one, since a disk's journal makes renames slow.
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch=$(mktemp -d /dev/shm/scarlex-fuzz-$t.XXXXXX)
  else
    mkdir -p "$build/tmp" && scratch=$(mktemp -d "$build/tmp/$t.XXXXXX")
  fi

  dirs=("$work")
  [ -d fuzz/corpus/$t ] && dirs+=("$root/fuzz/corpus/$t")
  if [ -n "${jpeg[$t]:-}" ] && [ -n "$testdata" ] && [ -d "$testdata" ]; then
    if [ "$t" = transform ]; then
      # The transform target reads an 11-byte request before the file: a
      # 64x64 crop at (8, 8).
      seeded=$build/seeds/transform
      mkdir -p "$seeded"
      for f in "$testdata"/*.jpg; do
        [ -f "$f" ] || continue
        { printf '\x00\x40\x00\x40\x00\x08\x00\x08\x00\x00\x00'; cat "$f"; } >"$seeded/$(basename "$f")"
      done
      dirs+=("$seeded")
    else
      dirs+=("$testdata")
    fi
  fi
  opts=(-max_total_time="$seconds" -timeout=60 -rss_limit_mb=2560 -print_final_stats=1
        -artifact_prefix="$artifacts/")
  [ -n "${jpeg[$t]:-}" ] && opts+=(-max_len=262144)
  [ -n "${dict[$t]:-}" ] && opts+=(-dict="$root/${dict[$t]}")

  before=$(find "$artifacts" -type f | wc -l)
  log=$logs/$t.log
  echo "== $t: ${seconds}s"
  status=0
  TMPDIR=$scratch "$bin" "${opts[@]}" "${dirs[@]}" >"$log" 2>&1 || status=$?
  rm -rf "$scratch"

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -n1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p' <<<"$last")
  after=$(find "$artifacts" -type f | wc -l)
  problem=""
  if grep -qE '^==[0-9]+==ERROR|runtime error:|deadly signal|ERROR: libFuzzer|SUMMARY: (Address|Leak|Undefined)' "$log" ||
     [ "$status" -ne 0 ] || [ "$after" -gt "$before" ]; then
    problem=$(grep -m1 -E 'ERROR:|runtime error:|deadly signal' "$log" || echo "exit status $status")
    written=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n1)
    [ -n "$written" ] && problem="$problem; input kept in $written"
    failed=1
  fi
  line=$(printf '%-10s executions %-10s exec/s %-7s cov %-6s ft %-7s corpus %-12s rss %sMB' \
    "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "${rss:-?}")
  if [ -n "$problem" ]; then line="$line  FAILED: $problem"; else line="$line  no crash"; fi
  echo "$line"
  summary+=("$line")
done

echo
echo "== summary (logs in $build/logs)"
printf '%s\n' "${summary[@]}"
exit $failed
