#!/usr/bin/env bash
# Refreshes the chart library the web page carries (uPlot, from the npm
# registry) in src/web/assets/vendor: its built script, style sheet and licence.
# Usage: scripts/update-uplot.sh [version]   (default: the version pinned below)
set -euo pipefail
version="${1:-1.6.32}"
here="$(cd "$(dirname "$0")/.." && pwd)"
vendor="$here/src/web/assets/vendor"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
npm init -y >/dev/null
npm install --no-audit --no-fund --ignore-scripts "uplot@$version" >/dev/null
src="$work/node_modules/uplot"
mkdir -p "$vendor"
cp "$src/dist/uPlot.iife.min.js" "$src/dist/uPlot.min.css" "$vendor/"
cp "$src/LICENSE" "$vendor/uPlot.LICENSE"
echo "uPlot $(node -p "require('$src/package.json').version") in $vendor"
