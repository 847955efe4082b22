// The extension as a Firefox add-on through web-ext lint (Mozilla's add-on linter): no error,
// and no warning but the two this one code base must carry.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import path from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

const web = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..");

// Chromium needs background.service_worker, which Firefox ignores in favour of
// background.scripts; and the add-on is not meant for Firefox for Android, which has no
// native messaging.
const EXPECTED = new Set(["BACKGROUND_SERVICE_WORKER_IGNORED",
                          "KEY_FIREFOX_ANDROID_UNSUPPORTED_BY_MIN_VERSION"]);

test("web-ext lint finds nothing to mend in the add-on", () => {
  const r = spawnSync(path.join(web, "node_modules", ".bin", "web-ext"),
                      ["lint", "--source-dir", path.join(web, "extension"), "--output", "json",
                       "--no-config-discovery"],
                      { encoding: "utf8", timeout: 120000 });
  const report = JSON.parse(r.stdout);
  const problems = [...report.errors, ...report.warnings.filter((w) => !EXPECTED.has(w.code))];
  assert.deepEqual(problems.map((p) => `${p.code}: ${p.message} (${p.file})`), []);
});
