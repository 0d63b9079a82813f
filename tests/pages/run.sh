#!/usr/bin/env bash
# Runs the Home page tests in headless Chromium (Debian's /usr/bin/chromium).
# Installs the pinned npm dependencies from the lock file when they are missing.
set -euo pipefail
cd "$(dirname "$0")"

if [ ! -d node_modules/playwright-core ]; then
  npm ci --no-audit --no-fund --loglevel=error >/dev/null
fi

if [ ! -x "${VELVOX_CHROMIUM:-/usr/bin/chromium}" ]; then
  echo "page tests need Chromium at ${VELVOX_CHROMIUM:-/usr/bin/chromium} (Debian package chromium)" >&2
  exit 1
fi

exec node --test --test-concurrency=1 ./*.test.js
