#!/usr/bin/env bash
# Runs every fuzz target for a fixed time (FUZZ_SECONDS, default 60) with libFuzzer; fails on a
# finding. Builds them with clang in build-fuzz beside this folder's parent.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${FUZZ_BUILD:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
targets=(fuzz_queuelist fuzz_entry fuzz_commandline)

if ! command -v clang++ >/dev/null ||
  ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  $sudo apt-get install -y clang libclang-rt-14-dev || $sudo apt-get install -y clang
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIVEX_FUZZ=ON -DMIVEX_BUILD_GUI=OFF
ninja -C "$build" "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  work="$build/fuzz-run/$target"
  mkdir -p "$work/corpus"
  cp -n "$here/corpus/$target/"* "$work/corpus/" 2>/dev/null || true
  echo "== $target for ${seconds}s"
  if ! (cd "$work" && "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    corpus "$here/corpus/$target" 2>&1 | tail -n 30); then
    echo "== $target: FINDING (see $work for the crash-* input)"
    status=1
  fi
done
exit $status
