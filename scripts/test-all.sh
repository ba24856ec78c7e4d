#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The test command: builds and tests every configuration the project ships.
#   native     the source tarball (scripts/dist.sh) unpacked and built on the host, every suite
#   sanitize   host build with ASan and UBSan, every suite
#   ppc        the board binary (32-bit big-endian PowerPC), every suite under qemu-ppc
#   packaging  the release as a packager meets it (scripts/check-packaging.sh)
#   fuzz       every fuzz target from its committed corpus, 30 s in all (scripts/fuzz.sh)
#   fleet      romflash-update through Debian's swupdate and mender (tests/fleet/fleet_test.sh)
#   kernel     after native: romflash through Linux's own spidev and SPI controller
#              driver on an emulated board, held against flashsim (scripts/kernel-stage.sh)
#
#   scripts/test-all.sh              all of them
#   scripts/test-all.sh ppc native   only those, in that order (native brings the kernel stage)
#
# Each stage's whole output goes to build-logs/STAGE.log; the terminal gets one line per
# stage (its counts and time), then a table of the stages and the fault sweeps' figures. A
# stage that fails has its log printed, less the lines of passing tests and build steps.
# Installs the Debian packages it needs when they are missing (log: build-logs/packages.log).
# Every stage is attempted even after one fails; the exit status is 1 when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."

readonly CTEST_STAGES=(native sanitize ppc)
readonly ALL_STAGES=("${CTEST_STAGES[@]}" packaging fuzz fleet)
readonly PACKAGES=(cmake ninja-build g++ googletest g++-powerpc-linux-gnu qemu-user flashrom busybox procps)

jobs=$(nproc 2>/dev/null || echo 2)
build_jobs=${ROMFLASH_BUILD_JOBS:-$jobs}
test_jobs=${ROMFLASH_TEST_JOBS:-$jobs}
logs=$PWD/build-logs

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=("${ALL_STAGES[@]}")
for stage in "${stages[@]}"; do
  case " ${ALL_STAGES[*]} " in
    *" $stage "*) ;;
    *) echo "test-all: unknown stage '$stage' (known: ${ALL_STAGES[*]})" >&2; exit 2 ;;
  esac
done
case " ${stages[*]} " in *" native "*) stages+=(kernel) ;; esac

# ---- stages: each prints what it likes (into its log), ends with the line
# "STAGE: COUNTS", and returns 0 passed, 77 skipped, anything else failed.

# The configure, build and test of one CMake preset in the current directory;
# the sweep figures go to build-logs/PRESET.sweeps.
ctest_stage() {
  local preset=$1 configured binary_dir out rc line total failed skipped
  configured=$(cmake --preset "$preset" 2>&1)
  rc=$?
  echo "$configured"
  [ "$rc" -eq 0 ] || { echo "$preset: configure failed"; return 1; }
  binary_dir=$(sed -n 's/^-- Build files have been written to: //p' <<<"$configured")
  cmake --build --preset "$preset" -j "$build_jobs" || { echo "$preset: build failed"; return 1; }
  out=$(ctest --preset "$preset" -j "$test_jobs" --output-on-failure 2>&1)
  rc=$?
  echo "$out"
  # CTest counts skipped tests among the passed ones and lists them apart.
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' <<<"$out" | tail -n 1)
  [ -n "$line" ] || { echo "$preset: ctest ran no test (exit $rc)"; return 1; }
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)' <<<"$out")
  # A passing test's output is not shown; the sweeps' figures are in CTest's own log.
  grep '^sweep ' "$binary_dir/Testing/Temporary/LastTest.log" | sort >"$logs/$preset.sweeps"
  # flashrom's conformance rows (profile | definition | result | device time), every one.
  grep '^flashrom | ' "$binary_dir/Testing/Temporary/LastTest.log" | sort |
    sed 's/^flashrom | //' >"$logs/$preset.flashrom"
  failed_tests_excerpt "$binary_dir/Testing/Temporary" | tee "$logs/$preset.failures"
  echo "$preset: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
  [ "$rc" -eq 0 ] && [ "$failed" -eq 0 ]
}

# The last lines of every failed test's output, from CTest's own logs in DIR: the tests
# announce each row and fault index before they try it, so these say where a test stood
# when it failed or ran out of time.
failed_tests_excerpt() {
  local dir=$1 name
  [ -s "$dir/LastTestsFailed.log" ] || return 0
  while IFS= read -r name; do
    echo "==== $name failed; the last lines of its output:"
    awk -v name="$name" '
      index($0, " Test: ") && substr($0, index($0, " Test: ") + 7) == name { found = 1; next }
      found && /^Output:$/ { getline; output = 1; next }
      output && /^<end of output>$/ { output = 0; next }
      output { print }
      found && index($0, "time elapsed: ") { print; exit }' "$dir/LastTest.log" |
      tail -n "${ROMFLASH_EXCERPT_LINES:-25}"
  done < <(sed 's/^[0-9]*://' "$dir/LastTestsFailed.log")
}

# Makes DIR hold exactly the files of TARBALL (one top folder, stripped) and
# keeps DIR/build: a file whose bytes did not change keeps its time stamp, so
# the build there stays incremental.
sync_tree() {
  local tarball=$1 dir=$2 fresh path
  fresh=$(mktemp -d)
  tar -xzf "$tarball" -C "$fresh" --strip-components=1 || return 1
  mkdir -p "$dir"
  while IFS= read -r path; do
    [ -e "$fresh/$path" ] || rm -f "$dir/$path"
  done < <(cd "$dir" && find . -path ./build -prune -o \( -type f -o -type l \) -print)
  while IFS= read -r path; do
    if ! cmp -s "$fresh/$path" "$dir/$path" ||
      [ "$(stat -c %a "$fresh/$path")" != "$(stat -c %a "$dir/$path")" ]; then
      mkdir -p "$(dirname "$dir/$path")" && rm -f "$dir/$path" && cp "$fresh/$path" "$dir/$path" &&
        chmod --reference="$fresh/$path" "$dir/$path"
    fi
  done < <(cd "$fresh" && find . -type f -print)
  rm -rf "$fresh"
}

# The native build is the release's: the tarball, unpacked beside it, with no
# git repository above it that anything could reach for.
stage_native() {
  tarball=$(scripts/dist.sh build-release) || return 1
  native_tree=$PWD/build-release/$(basename "$tarball" .tar.gz)
  echo "native: building $tarball in $native_tree"
  sync_tree "$tarball" "$native_tree" || return 1
  (cd "$native_tree" && GIT_CEILING_DIRECTORIES=$PWD/.. ctest_stage native)
}
stage_sanitize() { ctest_stage sanitize; }
stage_ppc() { ctest_stage ppc; }

# scripts/check-packaging.sh: the tarball the native stage tested and its outcome, if it ran.
stage_packaging() {
  ROMFLASH_BUILD_JOBS=$build_jobs ROMFLASH_TARBALL=${tarball:-} \
    ROMFLASH_TARBALL_TESTS=${tarball_tests:-} scripts/check-packaging.sh
}

# scripts/fuzz.sh (it installs clang and libclang-rt-14-dev): its closing line
# "fuzz: N targets, E executions, F findings" is the stage's counts; a finding fails it.
stage_fuzz() { scripts/fuzz.sh; }

# tests/fleet/fleet_test.sh: romflash-update behind Debian's swupdate and mender (installed
# here, into the packages log), on the native stage's build or, without one, its own.
stage_fleet() {
  local build=${native_tree:+$native_tree/build}
  scripts/install-packages.sh swupdate mender-client mender-artifact cpio openssl \
    >>"$logs/packages.log" 2>&1 || { echo "fleet: could not install its packages"; return 1; }
  if [ ! -x "${build:-/nonexistent}/src/romflash" ]; then
    cmake --preset native && cmake --build --preset native -j "$build_jobs" || return 1
    build=$PWD/build
  fi
  tests/fleet/fleet_test.sh "$build"
}

# scripts/kernel-stage.sh prints "kernel rows: P passed, F failed" per boot. It
# compares with the native build's flashsim, so it waits for that build.
stage_kernel() {
  local rc passed=0 failed=0 p f
  case ${counts[native]:-} in
    "configure failed" | "build failed") echo "kernel: no native build to compare with"; return 77 ;;
  esac
  ROMFLASH_BUILD_JOBS=$build_jobs scripts/kernel-stage.sh "$native_tree/build"
  rc=$?
  # (This stage's output is its log, on disk as it is written.)
  while read -r p f; do
    passed=$((passed + p)) failed=$((failed + f))
  done < <(sed -nE 's/^kernel rows: ([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' "$logs/kernel.log")
  if [ "$rc" -eq 77 ]; then
    echo "kernel: skipped, $(sed -n 's/^kernel stage: SKIPPED: //p' "$logs/kernel.log")"
    return 77
  fi
  echo "kernel: $passed passed, $failed failed"
  [ "$rc" -eq 0 ] && [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
}

# ---- the run ------------------------------------------------------------------

declare -A result seconds counts
any_failed=0 total_passed=0 total_failed=0 total_skipped=0

row() {  # row NAME RESULT SECONDS COUNTS
  printf '%-10s %-7s %5s s  %s\n' "$@"
}

# Prints a failed stage's log without what says nothing about the failure:
# passing tests and checks, build steps, CMake's probes of the compiler; for a stage
# whose tests failed, only the last lines of each failed test.
show_log() {
  if [ -s "${1%.log}.failures" ]; then
    echo "---- $1, its failed tests:"
    cat "${1%.log}.failures"
    echo "---- end of $1"
    return
  fi
  echo "---- $1, without passing tests and build steps:"
  grep -vE '^ *Start +[0-9]+: |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$|^\[[0-9]+/[0-9]+\] |^ok +' "$1" |
    grep -vE '^-- (Detecting|Check for working|The (C|CXX) compiler|Performing Test|Found )'
  echo "---- end of $1"
}

run_stage() {  # run_stage NAME
  local name=$1 start=$SECONDS rc line n
  "stage_$name" >"$logs/$name.log" 2>&1
  rc=$?
  seconds[$name]=$((SECONDS - start))
  line=$(grep -E "^$name: " "$logs/$name.log" | tail -n 1)
  counts[$name]=${line#"$name: "}
  [ -n "$line" ] || counts[$name]="stopped before its counts (exit $rc)"
  case $rc in
    0) result[$name]=ok ;;
    77) result[$name]=skipped total_skipped=$((total_skipped + 1)) ;;
    *) result[$name]=FAILED any_failed=1 ;;
  esac
  n=$(grep -oE '[0-9]+ passed' <<<"$line" | cut -d' ' -f1)
  total_passed=$((total_passed + ${n:-0}))
  n=$(grep -oE '[0-9]+ failed' <<<"$line" | cut -d' ' -f1)
  # A stage that failed before it counted anything counts as one failure.
  [ "${result[$name]}" = FAILED ] && [ "${n:-0}" -eq 0 ] && n=1
  total_failed=$((total_failed + ${n:-0}))
  n=$(grep -oE '[0-9]+ skipped' <<<"$line" | cut -d' ' -f1)
  total_skipped=$((total_skipped + ${n:-0}))
  row "$name" "${result[$name]}" "${seconds[$name]}" "${counts[$name]}"
  [ "${result[$name]}" != FAILED ] || show_log "$logs/$name.log"
}

rm -rf "$logs" && mkdir -p "$logs"
echo "test-all: stages ${stages[*]}; every stage's output in build-logs/"
start=$SECONDS
if scripts/install-packages.sh "${PACKAGES[@]}" >"$logs/packages.log" 2>&1; then
  installed=$(sed -n 's/^== installing //p' "$logs/packages.log")
  row packages ok "$((SECONDS - start))" "${installed:+installed $installed; }${#PACKAGES[@]} Debian packages present"
else
  row packages FAILED "$((SECONDS - start))" "could not install ${PACKAGES[*]}"
  show_log "$logs/packages.log"
  exit 1
fi
# The stages' own installs (fuzz, packaging, kernel) go to the same log, not theirs.
export ROMFLASH_PACKAGES_LOG=$logs/packages.log

for stage in "${stages[@]}"; do
  run_stage "$stage"
  [ "$stage" != native ] || tarball_tests=$([ "${result[native]}" = ok ] && echo passed || echo failed)
done

echo
echo "==== summary"
printf '%-10s %-7s %7s  %s\n' stage result time counts
for stage in "${stages[@]}"; do
  row "$stage" "${result[$stage]}" "${seconds[$stage]}" "${counts[$stage]}"
done
row all "$([ "$any_failed" -eq 0 ] && echo ok || echo FAILED)" "$SECONDS" \
  "$total_passed passed, $total_failed failed, $total_skipped skipped"
# The fault sweeps' figures, a line a sweep and a column a stage, so that the table fits a
# screen. A sweep run in slices has one line per slice: their counts add up.
swept=()
for stage in "${CTEST_STAGES[@]}"; do [ -s "$logs/$stage.sweeps" ] && swept+=("$stage"); done
if [ "${#swept[@]}" -gt 0 ]; then
  echo "fault sweeps: messages, and in each stage tried/survived/refused"
  for stage in "${swept[@]}"; do
    sed -E "s/^sweep /$stage|/; s/, slice [0-9]+ of [0-9]+:/:/" "$logs/$stage.sweeps"
  done | awk -F'|' -v stages="${swept[*]}" '
    { split($2, f, ": "); split(f[2], n, /[^0-9]+/); s = f[1]
      if (!(s in seen)) order[++names] = s
      seen[s] = 1; messages[s] = n[1]; k = s SUBSEP $1
      tried[k] += n[2]; survived[k] += n[3]; refused[k] += n[4]; ran[k] = 1 }
    END { m = split(stages, st, " "); line = ""
      for (j = 1; j <= m; j++) line = line sprintf("  %-11s", st[j])
      sub(/ +$/, "", line)
      printf "  %-37s %5s%s\n", "", "", line
      for (i = 1; i <= names; i++) { s = order[i]; line = ""
        for (j = 1; j <= m; j++) { k = s SUBSEP st[j]
          line = line sprintf("  %-11s", k in ran ? tried[k] "/" survived[k] "/" refused[k] : "-") }
        sub(/ +$/, "", line)
        printf "  %-37s %5d%s\n", s, messages[s], line } }'
fi
for stage in "${CTEST_STAGES[@]}"; do
  # flashrom's conformance rows (profile | definition | result | device time), one line a
  # profile: the definitions by result, the device time of a whole-chip write, and how many
  # definitions did not fit the part (every row, the reason included, in
  # build-logs/STAGE.flashrom).
  [ -s "$logs/$stage.flashrom" ] || continue
  echo "flashrom on flashsim, $stage (each row: build-logs/$stage.flashrom):"
  awk -F' [|] ' '
    { if (!($1 in seen)) order[++n] = $1; seen[$1] = 1 }
    $3 ~ /^not used/ { unused[$1]++; next }
    { key = $1 SUBSEP $3; split($4, t, " "); time[$1] = t[1]
      if (key in defs) defs[key] = defs[key] ", " $2
      else { results[$1] = results[$1] SUBSEP $3; defs[key] = $2 } }
    END { for (i = 1; i <= n; i++) { p = order[i]; line = ""
        m = split(substr(results[p], 2), r, SUBSEP)
        for (j = 1; j <= m; j++) line = line (line == "" ? "" : "; ") defs[p, r[j]] ": " r[j]
        if (time[p] != "") line = line " (whole chip " time[p] " s)"
        if (unused[p]) line = line (line == "" ? "" : "; ") unused[p] " not used"
        printf "  %-13s %s\n", p, line } }' "$logs/$stage.flashrom"
done
exit "$any_failed"
