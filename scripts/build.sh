#!/usr/bin/env bash
# Configures and builds the three presets: native (with the tests), win32 and win64.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in win32 win64 native "$@"; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
