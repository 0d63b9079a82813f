#!/usr/bin/env bash
# Runs the Home page tests in headless Chromium (Debian's /usr/bin/chromium, or $VELVOX_CHROMIUM).
# Installs the pinned npm dependencies from the lock file when they are missing.
set -euo pipefail
cd "$(dirname "$0")"

if [ ! -d node_modules/playwright-core ]; then
  npm ci --no-audit --no-fund --loglevel=error >/dev/null
fi

exec node --test --test-concurrency=1 ./*.test.js
