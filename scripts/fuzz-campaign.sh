#!/usr/bin/env bash
# The long fuzzing campaign: builds the libFuzzer targets in
# build-fuzz-campaign/, runs each for a number of executions on a copy of its
# seed corpus, and prints one Markdown table row per target (executions,
# final coverage, corpus size, crashes, elapsed time) for docs/fuzzing.md.
#
# Usage: scripts/fuzz-campaign.sh [options] [target...] [-- libFuzzer flags]
#   target          fuzz_* names (default: every fuzz/fuzz_*.cpp)
#   -n, --runs N    executions per target (default 10000000, and 20000000
#                   for fuzz_cert and fuzz_cert_query)
#   --fork J        run J worker processes per target (libFuzzer -fork=J,
#                   crashes do not stop the target: -ignore_crashes=1)
#   --jobs J        run J independent jobs per target (libFuzzer -jobs=J
#                   -workers=J; each job runs N executions)
#   --work DIR      keep the grown corpora, logs and crash inputs in DIR
#                   (default: a temporary folder removed at the end)
#   --no-build      use the executables already in build-fuzz-campaign/
# Without --fork or --jobs each target runs in one process and stops at its
# first crash; the crashing input is printed in hex and kept under the work
# folder. The script exits non-zero when any target crashed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$(pwd)"

build="build-fuzz-campaign"
runs=""
fork=""
jobs=""
work=""
do_build=1
targets=()
extra=()

usage() { sed -n '2,21s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; }

while (($# > 0)); do
  case "$1" in
    -n | --runs) runs="$2"; shift 2 ;;
    --fork) fork="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    -h | --help) usage; exit 0 ;;
    --) shift; extra=("$@"); break ;;
    -*) echo "fuzz-campaign.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [[ -n $fork && -n $jobs ]]; then
  echo "fuzz-campaign.sh: --fork and --jobs exclude each other" >&2
  exit 2
fi

if ((${#targets[@]} == 0)); then
  for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
for target in "${targets[@]}"; do
  if [[ ! -f fuzz/$target.cpp ]]; then
    echo "fuzz-campaign.sh: no target $target (fuzz/$target.cpp)" >&2
    exit 2
  fi
done

# Executions for one target: the option, else the default for its kind.
runs_for() {
  if [[ -n $runs ]]; then
    echo "$runs"
  elif [[ $1 == fuzz_cert || $1 == fuzz_cert_query ]]; then
    echo 20000000
  else
    echo 10000000
  fi
}

if ((do_build)); then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRIX_FUZZ=ON -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=OFF \
    -DKESTRIX_WERROR=ON >/dev/null
  cmake --build "$build" -j2 --target "${targets[@]}"
fi

# A temporary work folder is removed at the end unless a target crashed.
keep=1 # read by the EXIT trap
if [[ -z $work ]]; then
  work="$(mktemp -d)"
  keep=0
  trap '((keep)) || rm -rf "$work"' EXIT
fi
mkdir -p "$work"

# A field of libFuzzer's last status line ("#N DONE cov: C ft: F corp: ...").
last_field() {
  { grep -E '^#[0-9]+' "$2" || true; } | tail -n 1 | sed -n "s/.* $1: \([0-9]*\).*/\1/p"
}

rows=()
failed=()
for target in "${targets[@]}"; do
  n="$(runs_for "$target")"
  corpus="$work/$target/corpus"
  artifacts="$work/$target/artifacts"
  log="$work/$target/fuzz.log"
  rm -rf "${work:?}/$target"
  mkdir -p "$corpus" "$artifacts"
  if [[ -d fuzz/corpus/$target ]]; then cp -R "fuzz/corpus/$target/." "$corpus/"; fi

  flags=(-runs="$n" -rss_limit_mb=4096 -timeout=60 -print_final_stats=1
    -artifact_prefix="$artifacts/")
  [[ -n $fork ]] && flags+=(-fork="$fork" -ignore_crashes=1)
  [[ -n $jobs ]] && flags+=(-jobs="$jobs" -workers="$jobs")
  echo "-- $target: $n executions (log: $log)" >&2
  start=$(date +%s)
  status=0
  (cd "$work/$target" && "$root/$build/fuzz/$target" "${flags[@]}" "${extra[@]}" "$corpus") \
    >"$log" 2>&1 || status=$?
  seconds=$(($(date +%s) - start))
  # -jobs writes one log per job (fuzz-N.log) beside the corpus.
  for job_log in "$work/$target"/fuzz-*.log; do
    [[ -f $job_log ]] && cat "$job_log" >>"$log"
  done

  executed="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | awk '{s += $1} END {print s + 0}')"
  cov="$(last_field cov "$log")"
  ft="$(last_field ft "$log")"
  files="$(find "$corpus" -type f | wc -l)"
  bytes="$(find "$corpus" -type f -exec cat {} + | wc -c)"
  crashes="$(find "$artifacts" -type f | wc -l)"
  rate=$((seconds > 0 ? executed / seconds : executed))
  rows+=("| $target | $executed | ${cov:-?} | ${ft:-?} | $files / $bytes | $crashes | $seconds | $rate |")

  if ((status != 0 || crashes > 0)); then
    failed+=("$target")
    # shellcheck disable=SC2034 # read by the EXIT trap
    keep=1
    tail -n 40 "$log" >&2
    for artifact in "$artifacts"/*; do
      [[ -f $artifact ]] || continue
      echo "$target: crashing input $(basename "$artifact"):" >&2
      od -An -tx1 "$artifact" | head -n 32 >&2
    done
  fi
done

echo
echo "| target | executions | cov | ft | corpus (files / bytes) | crashes | seconds | exec/s |"
echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
printf '%s\n' "${rows[@]}"

if ((${#failed[@]} > 0)); then
  echo "fuzz-campaign.sh: crashes or errors in ${failed[*]} (logs and inputs in $work)" >&2
  exit 1
fi
