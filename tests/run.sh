#!/usr/bin/env bash
# Installs what the build and every test need when it is missing (tools/packages.sh),
# then builds and runs every test: the `default` workflow.
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/packages.sh
ensure_packages "${TEST_PACKAGES[@]}"
cmake --workflow --preset default </dev/null
