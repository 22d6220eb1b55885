#!/usr/bin/env bash
# Sets everything up, builds under AddressSanitizer + UndefinedBehaviorSanitizer
# and runs every test under a virtual X server.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
# Audio goes to a file instead of a sound card, paced in real time.
export SDL_AUDIODRIVER=disk
# Every test case is a test of its own (`ctest --preset sanitize -N` lists
# them); arguments go to ctest, e.g. -R markup_test or -L display.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
  ctest --preset sanitize "$@"
