#!/usr/bin/env bash
# The main job, off the appliance: load the module in the development host
# and show what it reports.
set -euo pipefail
build=${1:-build}
host="$build/bin/quorvane-host"

echo "== Probing the module's instances (quorvane-host probe)"
"$host" probe
