#!/usr/bin/env bash
# The lifetime stress test for long: random operations on components and their registrations from
# several threads (jtztest.LifetimeStress through build/<preset>/tests/lifetime_tests), with every
# invariant checked after each seed.
# Usage: tools/stress.sh [OPERATIONS_PER_SEED] [SEED...]     (default 200000 operations, seeds 1..5)
#   JTZ_STRESS_THREADS  worker threads (default 4)
#   JTZ_STRESS_PRESET   the build to run (default host; host-asan and host-tsan are slower)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${JTZ_STRESS_PRESET:-host}
ops=${1:-200000}
shift || true
seeds=${*:-1 2 3 4 5}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target lifetime_tests jtrazelo_testclasses >/dev/null
echo "lifetime stress: $preset, seeds $seeds, $ops operations each, ${JTZ_STRESS_THREADS:-4} threads"
start=$(date +%s)
JTZ_STRESS_SEEDS="$seeds" JTZ_STRESS_OPS=$ops "build/$preset/tests/lifetime_tests"
echo "$(( $(date +%s) - start )) s"
