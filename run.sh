#!/usr/bin/env bash
# Sets everything up, builds, and plays the presentation.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
cmake --preset release >/dev/null
cmake --build --preset release
exec scripts/play build/release
