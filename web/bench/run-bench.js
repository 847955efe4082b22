// The browser benchmark: on a private bench with both sample cards, the page's round trip
// (median of many cheap calls) and its full read of both cards, against `carvix read all`
// for the same two cards in the same run, alternated round by round.
//
//   node web/bench/run-bench.js [ROUNDS] [CALLS]   (CARVIX_BROWSER=firefox: in Firefox ESR)
import { spawnSync } from "node:child_process";
import path from "node:path";

import * as h from "../tests/harness.js";

const rounds = Number(process.argv[2] || 21);
const calls = Number(process.argv[3] || 500);
const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

const missing = h.missingPrerequisite();
if (missing) {
  console.error(`web benchmark: ${missing}`);
  process.exit(1);
}

const world = await h.makeWorld();
let browser;
try {
  const profile = h.makeProfile(path.join(world.dir, "bench"));
  browser = await h.launchBrowser(world, profile);
  const consent = h.answerPrompt(browser.context, "consent", "ok");
  const page = await browser.context.newPage();
  await page.goto(world.server.url.replace(/\/$/, "") + "/bench/");
  await page.evaluate(() => import("/carvix.js").then((c) => c.available()));
  await consent;
  const [vl, zk] = world.bench.readers;
  const env = { ...profile.env, PCSCLITE_CSOCK_NAME: world.bench.socket };
  const cli = () => {
    const start = process.hrtime.bigint();
    for (const [reader, app] of [[vl, "1"], [zk, "5"]]) {
      const r = spawnSync(h.tools.carvix, ["read", "all", "--reader", reader, "--app", app],
                          { env, encoding: "utf8" });
      if (r.status !== 0) {
        throw new Error(`carvix read all failed: ${r.stderr}`);
      }
    }
    return Number(process.hrtime.bigint() - start) / 1e6;
  };
  const inPage = () => page.evaluate(([a, b]) => window.carvixBench.fullRead(a, b), [vl, zk]);

  // Warm-up: the first host start, the first module load, the page's first module import.
  await page.waitForFunction(() => window.carvixBench !== undefined);
  await inPage();
  cli();

  const trips = await page.evaluate(([r, n]) => window.carvixBench.roundTrips(r, n), [vl, calls]);
  const pageReads = [];
  const cliReads = [];
  let fields = 0;
  for (let i = 0; i < rounds; i++) {
    const read = await inPage();
    pageReads.push(read.ms);
    fields = read.fields;
    cliReads.push(cli());
  }
  const trip = median(trips);
  const pageRead = median(pageReads);
  const cliRead = median(cliReads);
  console.log(`round trip (page -> module -> page, a property get): median ${trip.toFixed(3)} ms ` +
              `of ${calls} (goal <= 5 ms)`);
  console.log(`full read of both cards from the page (${fields} fields): median ` +
              `${pageRead.toFixed(1)} ms of ${rounds}`);
  console.log(`carvix read all, both cards (two processes): median ${cliRead.toFixed(1)} ms ` +
              `of ${rounds}`);
  console.log(`ratio page / client: ${(pageRead / cliRead).toFixed(2)} (goal <= 1.5)`);
} finally {
  await browser?.close();
  await world.close();
}
