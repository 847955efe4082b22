// The world of the browser tests: a private bench with both sample cards, a SoftHSM2 token,
// the module registered in a throw-away home, the sample server, and the browser with the
// extension loaded and the native host registered: Debian's Chromium (the manifest in a
// throw-away profile) or, with CARVIX_BROWSER=firefox, Debian's Firefox ESR (the manifest
// under the throw-away home). The allow-list is a root-owned file named by
// CARVIX_BRIDGE_ORIGINS in the browser's environment.
import { spawn, spawnSync } from "node:child_process";
import { randomUUID } from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import { fileURLToPath } from "node:url";

import { chromium } from "playwright-core";

import { firefoxPath, launchFirefox } from "./firefox.js";

const here = path.dirname(fileURLToPath(import.meta.url));
export const root = path.resolve(here, "..", "..");
export const build = path.resolve(process.env.CARVIX_BUILD || path.join(root, "build"));
export const extensionDir = path.join(root, "web", "extension");
export const chromiumPath = process.env.CARVIX_CHROMIUM || "/usr/bin/chromium";
export const browserName = process.env.CARVIX_BROWSER || "chromium";
export const firefox = browserName === "firefox";
export const browserPath = firefox ? firefoxPath : chromiumPath;

export const tools = {
  carvix: path.join(build, "tools", "carvix", "carvix"),
  bridge: path.join(build, "tools", "bridge", "carvix-bridge"),
  module: path.join(build, "src", "com", "carvix-qx.so"),
  vcard: path.join(build, "testbench", "vcard", "carvix-vcard"),
  probe: path.join(build, "testbench", "probe", "carvix-probe"),
  bench: path.join(root, "testbench", "supervisor", "carvix-bench"),
  server: path.join(root, "scripts", "web-sample"),
  cards: path.join(build, "tests", "integration", "app", "cards"),
};

// What the sample application needs: everything but the contactless part.
export const SAMPLE_CAPABILITIES = "read write pki select";

// The Chromium flags for this machine: headless, no sandbox as root, and nothing that
// reaches out to the network on its own.
export const chromiumFlags = [
  "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
  "--no-default-browser-check",
];

export const TOKEN = "Web Test Token";
export const PIN = "1234";

// What is missing for these tests to run, or null.
export function missingPrerequisite() {
  if (browserName !== "chromium" && !firefox) {
    return `CARVIX_BROWSER=${browserName}: only chromium and firefox are known`;
  }
  if (!fs.existsSync(browserPath)) {
    return `${browserPath} is missing (scripts/deps installs it)`;
  }
  for (const [name, file] of Object.entries(tools)) {
    if (!fs.existsSync(file)) {
      return `${name} (${file}) is missing; build first`;
    }
  }
  if (process.getuid && process.getuid() !== 0) {
    return "the bench and the root-owned allow-list need root";
  }
  return null;
}

function run(command, args, options = {}) {
  const r = spawnSync(command, args, { encoding: "utf8", ...options });
  if (r.status !== 0) {
    throw new Error(`${path.basename(command)} ${args.join(" ")} failed (${r.status}): ` +
                    `${r.stderr || ""}${r.stdout || ""}`);
  }
  return r.stdout;
}

function readEnvFile(file) {
  const env = {};
  for (const line of fs.readFileSync(file, "utf8").split("\n")) {
    const m = /^([A-Z0-9_]+)=(.*)$/.exec(line);
    if (m) {
      env[m[1]] = m[2].replace(/^'(.*)'$/, "$1");
    }
  }
  return env;
}

// A private bench with the VL card (T=0) in reader 0 and the ZK card (T=1) in reader 1.
export function startBench(dir) {
  run("python3", [tools.bench, "start", "--dir", dir, "--readers", "2",
                  "--card", path.join(tools.cards, "vl-full-t0.json"),
                  "--card", path.join(tools.cards, "zk-full-t1.json"),
                  "--watch-pid", String(process.pid), "--probe", tools.probe,
                  "--vcard", tools.vcard]);
  const env = readEnvFile(path.join(dir, "bench.env"));
  if (env.CARVIX_BENCH_STATE !== "ready") {
    throw new Error("the bench is not ready: " + (env.CARVIX_BENCH_REASON || "unknown"));
  }
  return {
    socket: env.PCSCLITE_CSOCK_NAME,
    readers: [env.CARVIX_BENCH_READER_0, env.CARVIX_BENCH_READER_1],
    stop: () => spawnSync("python3", [tools.bench, "stop", "--dir", dir]),
  };
}

// A SoftHSM2 token of its own, as scripts/demo sets one up.
export function makeToken(dir) {
  const conf = path.join(dir, "softhsm2.conf");
  fs.mkdirSync(path.join(dir, "tokens"), { recursive: true });
  fs.writeFileSync(conf, `directories.tokendir = ${path.join(dir, "tokens")}\n` +
                         "objectstore.backend = file\nlog.level = ERROR\n");
  run("softhsm2-util", ["--init-token", "--free", "--label", TOKEN, "--pin", PIN,
                        "--so-pin", "87654321"], { env: { ...process.env, SOFTHSM2_CONF: conf } });
  return conf;
}

// The allow-list: a file owned by root and writable by root only, in a folder of the same
// kind, as the host demands of CARVIX_BRIDGE_ORIGINS. Each line an origin and its
// capabilities.
export function writeOrigins(dir, origins) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "carvix-origins-"));
  fs.chmodSync(folder, 0o755);
  const file = path.join(folder, "allowed-origins");
  fs.writeFileSync(file, "# origins for the browser tests\n" + origins.join("\n") + "\n",
                   { mode: 0o644 });
  fs.chmodSync(file, 0o644);
  return { file, remove: () => fs.rmSync(folder, { recursive: true, force: true }) };
}

// The sample server on a free port; resolves with {url, stop}.
export function startServer() {
  const child = spawn("python3", [tools.server, "--port", "0", "--build", build, "--token", TOKEN],
                      { stdio: ["ignore", "pipe", "inherit"] });
  return new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child.stdout });
    lines.once("line", (url) => resolve({ url, origin: new URL(url).origin,
                                          stop: () => child.kill("SIGTERM") }));
    child.once("exit", (code) => reject(new Error(`the sample server ended (${code})`)));
  });
}

// A throw-away browser profile: the module registered in its own home, the host's manifest
// in the profile's NativeMessagingHosts (unless `registerHost` is false).
export function makeProfile(dir, { registerHost = true } = {}) {
  const home = path.join(dir, "home");
  const profile = path.join(dir, "profile");
  fs.mkdirSync(home, { recursive: true });
  fs.mkdirSync(profile, { recursive: true });
  const env = { ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, ".config"),
                XDG_CONFIG_DIRS: path.join(dir, "system") };
  run(tools.carvix, ["register", "--module", tools.module], { env });
  // The test document signer in the store "My": writes re-sign the block's SOD with it.
  const pki = path.join(root, "tests", "data", "pki");
  run(tools.carvix, ["certs", "add", "--cert", path.join(pki, "document-signer.cert.pem"),
                     "--key", path.join(pki, "TEST-KEY-document-signer.key.pem")], { env });
  if (registerHost) {
    registerBridge(profile, env);
  }
  return { home, profile, env };
}

// The host's manifest by `carvix register --browser`: in Chromium's profile folder (it reads
// no other with --user-data-dir), or in the throw-away home's folders for Firefox.
function registerBridge(profile, env) {
  const where = firefox ? [] : ["--profile", profile];
  run(tools.carvix, ["register", "--browser", ...where, "--host", tools.bridge], { env });
}

// Launches the browser with the extension on `profile` and waits until the extension knows
// its allow-list. `marker` lands in the environment of every host the browser starts.
export async function launchBrowser(world, profile, extraEnv = {}) {
  const marker = randomUUID();
  const env = {
    ...profile.env,
    PCSCLITE_CSOCK_NAME: world.bench.socket,
    SOFTHSM2_CONF: world.softhsmConf,
    CARVIX_BRIDGE_ORIGINS: world.origins.file,
    CARVIX_WEB_TEST_MARKER: marker,
    ...extraEnv,
  };
  if (firefox) {
    const context = await launchFirefox({ profileDir: profile.profile, env, extensionDir });
    await waitForContentScripts(context, world.server.origin);
    return { context, worker: null, marker, close: () => context.close() };
  }
  const context = await chromium.launchPersistentContext(profile.profile, {
    executablePath: chromiumPath,
    headless: false,  // --headless=new is among the flags: extensions need it
    args: [...chromiumFlags, `--disable-extensions-except=${extensionDir}`,
           `--load-extension=${extensionDir}`],
    env,
    timeout: 60000,
  });
  let [worker] = context.serviceWorkers();
  if (!worker) {
    worker = await context.waitForEvent("serviceworker", { timeout: 30000 });
  }
  await worker.evaluate(() => self.carvixReady);
  return { context, worker, marker, close: () => context.close() };
}

// Firefox offers no handle on the extension's background: a page of `origin` (a missing
// file, so that nothing of the sample runs) asks until one of the extension's content
// scripts answers, which it does once the allow-list is known.
async function waitForContentScripts(context, origin) {
  const page = await context.newPage();
  try {
    const end = Date.now() + 30000;
    for (;;) {
      await page.goto(`${origin}/carvix-test-probe`);
      const answered = await page.evaluate(() => new Promise((resolve) => {
        window.addEventListener("message", (e) => {
          if (e.data && e.data.channel === "carvix:extension->page" &&
              e.data.message && e.data.message.event === "pong") {
            resolve(true);
          }
        });
        window.postMessage({ channel: "carvix:page->extension",
                             message: { op: "ping", id: 1 } }, window.location.origin);
        setTimeout(() => resolve(false), 500);
      }));
      if (answered) {
        return;
      }
      if (Date.now() > end) {
        throw new Error("the extension put no content script on the test pages");
      }
    }
  } finally {
    await page.close();
  }
}

// The browser without the extension.
export async function launchPlain(dir) {
  if (firefox) {
    const context = await launchFirefox({ profileDir: dir, env: process.env });
    return { newPage: () => context.newPage(), close: () => context.close() };
  }
  const browser = await chromium.launch({ executablePath: chromiumPath, headless: false,
                                          args: chromiumFlags });
  return { newPage: () => browser.newPage(), close: () => browser.close() };
}

// The pids of carvix-bridge processes started by the browser that carries `marker`.
export function bridgeProcesses(marker) {
  const pids = [];
  for (const entry of fs.readdirSync("/proc")) {
    if (!/^\d+$/.test(entry)) {
      continue;
    }
    try {
      const comm = fs.readFileSync(`/proc/${entry}/comm`, "utf8").trim();
      if (!comm.startsWith("carvix-bridge")) {
        continue;
      }
      const environ = fs.readFileSync(`/proc/${entry}/environ`, "utf8");
      if (environ.includes(`CARVIX_WEB_TEST_MARKER=${marker}`)) {
        pids.push(Number(entry));
      }
    } catch {
      // the process ended meanwhile
    }
  }
  return pids;
}

export async function waitFor(predicate, timeoutMs = 10000, what = "a condition") {
  const end = Date.now() + timeoutMs;
  while (Date.now() < end) {
    if (await predicate()) {
      return;
    }
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`timed out waiting for ${what}`);
}

// Answers the extension's next prompt window of `kind` by clicking `button` ("ok" or
// "cancel"), after `fill` (a function of the prompt page) when given.
export async function answerPrompt(context, kind, button = "ok", fill = null) {
  const page = await context.waitForEvent("page", {
    predicate: (p) => p.url().includes("/prompt.html"),
    timeout: 30000,
  });
  await page.waitForSelector(`body[data-kind="${kind}"]`, { timeout: 10000 });
  const text = await page.textContent("#text");
  if (fill) {
    await fill(page);
  }
  // The window closes itself once answered, sometimes before the click reports back.
  await page.click(`#${button}`).catch((e) => {
    if (!page.isClosed()) {
      throw e;
    }
  });
  return text;
}

// Sets up everything but the browser; `close()` removes it all.
export async function makeWorld() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "carvix-web-test-"));
  const world = { dir };
  const cleanups = [];
  world.close = async () => {
    for (const f of cleanups.reverse()) {
      try {
        await f();
      } catch {
        // keep cleaning
      }
    }
    fs.rmSync(dir, { recursive: true, force: true });
  };
  try {
    world.bench = startBench(path.join(dir, "bench"));
    cleanups.push(() => world.bench.stop());
    world.softhsmConf = makeToken(dir);
    world.server = await startServer();
    cleanups.push(() => world.server.stop());
    world.origins = writeOrigins(dir, [`${world.server.origin} ${SAMPLE_CAPABILITIES}`]);
    cleanups.push(() => world.origins.remove());
  } catch (e) {
    await world.close();
    throw e;
  }
  return world;
}
