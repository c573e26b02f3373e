#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang and runs each for a short time over a copy
# of its seeds in fuzz/corpus/<target>/. Fails when any target crashes (or hangs, for a target
# not marked KNOWN_HANGS), naming the target and the input that reproduces it.
#
#   scripts/fuzz.sh [target...]          all targets, or the ones named
#   FUZZ_SECONDS=60 scripts/fuzz.sh sysfs
#
# FUZZ_SECONDS (20) is each target's time, FUZZ_TIMEOUT (10) the seconds one input may take.
# BUILD_DIR (build-fuzz) is the build tree; the runs' corpora, logs and reproducers go to
# BUILD_DIR/fuzz-runs/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

BUILD_DIR=${BUILD_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
FUZZ_TIMEOUT=${FUZZ_TIMEOUT:-10}
RUNS_DIR=$BUILD_DIR/fuzz-runs
LOCK=/tmp/caspira-build.lock  # every build on a shared machine goes through it

# The fuzz build needs what the project's own build needs (clang and its runtime among it).
scripts/setup.sh --packages-only

launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$PWD")} CCACHE_NOHASHDIR=1
fi
mkdir -p "$BUILD_DIR" "$(dirname "$LOCK")"
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCASPIRA_FUZZ=ON \
  "${launcher[@]}" > "$BUILD_DIR.configure.log" 2>&1 || { cat "$BUILD_DIR.configure.log"; exit 1; }
flock "$LOCK" cmake --build "$BUILD_DIR" --target fuzzers -- -j2
built=$SECONDS

# "<name> <mode>" lines, written by fuzz/CMakeLists.txt.
declare -A mode_of=()
targets=()
while read -r name mode; do
  [ -n "$name" ] || continue
  mode_of[$name]=$mode
  targets+=("$name")
done < "$BUILD_DIR/fuzz/targets.txt"
if (($#)); then
  for name in "$@"; do
    [ -n "${mode_of[$name]:-}" ] || { echo "No fuzz target \"$name\" (have: ${targets[*]})"; exit 2; }
  done
  targets=("$@")
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for name in "${targets[@]}"; do
  run=$RUNS_DIR/$name
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/artifacts"
  if [ -d "fuzz/corpus/$name" ]; then cp -R "fuzz/corpus/$name/." "$run/corpus/"; fi
  options=(-max_total_time="$FUZZ_SECONDS" -timeout="$FUZZ_TIMEOUT" -rss_limit_mb=2048
           -artifact_prefix="$run/artifacts/" -print_final_stats=1)
  if [ -f "fuzz/$name.dict" ]; then options+=(-dict="fuzz/$name.dict"); fi
  # Fork mode notes a timeout and goes on; a crash still ends the run.
  [ "${mode_of[$name]}" = known-hangs ] && options+=(-fork=1 -ignore_timeouts=1 -ignore_ooms=0)

  label=""
  [ "${mode_of[$name]}" = plain ] || label=", ${mode_of[$name]}"
  echo "== fuzz $name (${FUZZ_SECONDS} s$label)"
  status=0
  "$BUILD_DIR/fuzz/fuzz_$name" "${options[@]}" "$run/corpus" > "$run/log" 2>&1 || status=$?
  # Plain runs end with statistics; fork mode prints "#<inputs>: cov: ..." as it goes.
  executed=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$run/log" | grep -Eo '[0-9]+$' | tail -1 || true)
  [ -n "$executed" ] || executed=$(grep -Eo '^#[0-9]+:' "$run/log" | tr -d '#:' | tail -1 || true)
  hangs=$(find "$run/artifacts" -name 'timeout-*' | sort)
  problems=$(find "$run/artifacts" -type f ! -name 'timeout-*' | sort)
  if [ "$status" -ne 0 ] || [ -n "$problems" ]; then
    failed+=("$name")
    echo "FAILED: fuzz target $name (exit $status), log $run/log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$run/log" | head -5 || true
    for artifact in $problems $hangs; do
      echo "  reproducer: $artifact"
      echo "  run it:     $BUILD_DIR/fuzz/fuzz_$name $artifact"
    done
    [ -n "$problems$hangs" ] || tail -20 "$run/log"
  else
    echo "ok: $name, ${executed:-?} inputs"
    for artifact in $hangs; do echo "  known hang (timeout): $artifact"; done
  fi
done

echo "fuzz: build $((built - started)) s, runs $((SECONDS - built)) s"
if ((${#failed[@]})); then
  echo "fuzz: crashes in ${failed[*]}"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran without a crash"
