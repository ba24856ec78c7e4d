#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and tests every configuration the project ships:
#   native    host build, every suite
#   sanitize  host build with ASan and UBSan, every suite
#   ppc       the board binary (32-bit big-endian PowerPC), every suite under qemu-ppc
# and then
#   packaging the packager's build, manual pages, completions, Debian packages
# and, when the native configuration ran, the kernel stage
# (scripts/kernel-stage.sh): romflash through Linux's own spidev and SPI
# controller driver on an emulated board, held against flashsim.
#
#   scripts/test-all.sh              all of them
#   scripts/test-all.sh ppc native   only those, in that order (native brings the kernel stage)
#
# Installs the Debian packages it needs when they are missing. Every
# configuration is attempted even after one fails, so one run shows them all;
# the exit status is non-zero when anything failed.
set -uo pipefail

cd "$(dirname "$0")/.."

readonly ALL_PRESETS=(native sanitize ppc)
readonly PACKAGES=(cmake ninja-build g++ googletest g++-powerpc-linux-gnu qemu-user flashrom busybox)

jobs=$(nproc 2>/dev/null || echo 2)
build_jobs=${ROMFLASH_BUILD_JOBS:-$jobs}
test_jobs=${ROMFLASH_TEST_JOBS:-$jobs}

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=("${ALL_PRESETS[@]}" packaging)
fi
for preset in "${presets[@]}"; do
  case " ${ALL_PRESETS[*]} packaging " in
    *" $preset "*) ;;
    *) echo "test-all: unknown configuration '$preset' (known: ${ALL_PRESETS[*]} packaging)" >&2; exit 2 ;;
  esac
done

section() {
  printf '\n==== %s ====\n' "$*"
}

# Fills the PASSED/FAILED/SKIPPED counters of one configuration from CTest's log.
count_results() {
  local log=$1 line total failed
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    PASSED=0 FAILED=0 SKIPPED=0
    return 1
  fi
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  # CTest counts skipped tests among the passed ones and lists them separately.
  SKIPPED=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)' "$log" || true)
  PASSED=$((total - failed - SKIPPED))
  FAILED=$failed
}

if ! scripts/install-packages.sh "${PACKAGES[@]}"; then
  echo "test-all: could not install ${PACKAGES[*]}" >&2
  exit 1
fi

log_dir=$(mktemp -d "${TMPDIR:-/tmp}/romflash-test-all.XXXXXX")
trap 'rm -rf "$log_dir"' EXIT

declare -A outcome seconds
total_passed=0 total_failed=0 total_skipped=0 any_failed=0
script_start=$SECONDS

# ---- stage: packaging ----------------------------------------------------
# scripts/check-packaging.sh: the packager's PowerPC build and install tree,
# manual pages, completions, Debian packages. Each of its checks counts as one
# test in the totals; a run that stops before its closing line counts as one
# failure.
packaging_stage() {
  local start=$SECONDS log="$log_dir/packaging.log" rc line
  section "packaging"
  ROMFLASH_BUILD_JOBS=$build_jobs scripts/check-packaging.sh 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  line=$(grep -E '^packaging: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    outcome[packaging]="stopped before its checks ended (exit $rc)"
    total_failed=$((total_failed + 1))
    any_failed=1
  else
    PASSED=$(sed -E 's/^packaging: ([0-9]+) passed.*/\1/' <<<"$line")
    FAILED=$(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")
    total_passed=$((total_passed + PASSED))
    total_failed=$((total_failed + FAILED))
    if [ "$rc" -ne 0 ] || [ "$FAILED" -ne 0 ]; then
      outcome[packaging]="FAILED: $PASSED passed, $FAILED failed"
      any_failed=1
    else
      outcome[packaging]="ok: $PASSED passed, 0 failed"
    fi
  fi
  seconds[packaging]=$((SECONDS - start))
}
# ---- end of stage: packaging ----------------------------------------------

for preset in "${presets[@]}"; do
  if [ "$preset" = packaging ]; then
    packaging_stage
    continue
  fi
  start=$SECONDS
  log="$log_dir/$preset.log"
  section "$preset: configure"
  if ! cmake --preset "$preset"; then
    outcome[$preset]="configure failed"
  else
    section "$preset: build"
    if ! cmake --build --preset "$preset" -j "$build_jobs"; then
      outcome[$preset]="build failed"
    else
      section "$preset: test"
      ctest --preset "$preset" -j "$test_jobs" --output-on-failure 2>&1 | tee "$log"
      rc=${PIPESTATUS[0]}
      if ! count_results "$log"; then
        outcome[$preset]="ctest ran no test (exit $rc)"
      elif [ "$rc" -ne 0 ] || [ "$FAILED" -ne 0 ]; then
        outcome[$preset]="FAILED: $PASSED passed, $FAILED failed, $SKIPPED skipped"
      else
        outcome[$preset]="ok: $PASSED passed, $FAILED failed, $SKIPPED skipped"
      fi
      total_passed=$((total_passed + PASSED))
      total_failed=$((total_failed + FAILED))
      total_skipped=$((total_skipped + SKIPPED))
    fi
  fi
  case ${outcome[$preset]} in
    ok:*) ;;
    FAILED:*) any_failed=1 ;;
    *)
      # A configuration that never got to its tests counts as one failure,
      # so the closing line cannot read "0 failed" for a broken build.
      any_failed=1
      total_failed=$((total_failed + 1))
      ;;
  esac
  seconds[$preset]=$((SECONDS - start))
done

# The kernel stage uses the native build's flashsim for its comparison.
stages=("${presets[@]}")
if [ -n "${outcome[native]:-}" ]; then
  stages+=(kernel)
  start=$SECONDS
  log="$log_dir/kernel.log"
  section "kernel: romflash on Linux's spidev under qemu-system-arm"
  scripts/kernel-stage.sh build 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  PASSED=0 FAILED=0
  while read -r p f; do
    PASSED=$((PASSED + p)) FAILED=$((FAILED + f))
  done < <(sed -nE 's/^kernel rows: ([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' "$log")
  if [ "$rc" -eq 77 ]; then
    outcome[kernel]="skipped: $(sed -n 's/^kernel stage: SKIPPED: //p' "$log")"
    total_skipped=$((total_skipped + 1))
  elif [ "$rc" -ne 0 ] || [ "$FAILED" -ne 0 ] || [ "$PASSED" -eq 0 ]; then
    outcome[kernel]="FAILED: $PASSED passed, $FAILED failed (exit $rc)"
    any_failed=1
    # A stage that broke before its checks still counts as one failure.
    total_failed=$((total_failed + (FAILED > 0 ? FAILED : 1)))
    total_passed=$((total_passed + PASSED))
  else
    outcome[kernel]="ok: $PASSED passed, 0 failed"
    total_passed=$((total_passed + PASSED))
  fi
  seconds[kernel]=$((SECONDS - start))
fi

section "summary"
for preset in "${stages[@]}"; do
  printf '  %-9s %5ss  %s\n' "$preset" "${seconds[$preset]}" "${outcome[$preset]}"
done
printf '  %-9s %5ss\n' "all" "$((SECONDS - script_start))"
echo
echo "Total: $total_passed passed, $total_failed failed, $total_skipped skipped"
exit "$any_failed"
