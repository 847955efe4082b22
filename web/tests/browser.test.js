// The sample web application in a real browser (Chromium, or Firefox with
// CARVIX_BROWSER=firefox) with the extension and the native host, on the bench: reading,
// writing, enrolment, consent per capability, and the ways a page can be refused or lose the
// host, each with the error the page shows.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import path from "node:path";
import { after, before, describe, test } from "node:test";

import * as h from "./harness.js";

let world;
before(async () => {
  world = await h.makeWorld();
});
after(async () => {
  await world?.close();
});

// Opens the sample application and waits until it has asked the extension whether it can
// work (data-available on the body).
async function openSample(context, url) {
  const page = await context.newPage();
  await page.goto(url);
  await page.waitForSelector("body[data-available]", { timeout: 30000 });
  return page;
}

// Clicks `button` and waits for the action to finish; returns the page's error text.
async function act(page, selector) {
  const done = Number((await page.getAttribute("body", "data-done")) || 0);
  await page.click(selector);
  await page.waitForFunction((n) => Number(document.body.dataset.done || 0) > n, done,
                             { timeout: 60000 });
  return page.textContent("#error");
}

function cli(args, extraEnv = {}) {
  return spawnSync(h.tools.carvix, args, {
    encoding: "utf8",
    env: { ...world.profile.env, PCSCLITE_CSOCK_NAME: world.bench.socket, ...extraEnv },
    timeout: 30000,
  });
}

describe("an allowed page with the user's consent", () => {
  let browser;
  let page;

  before(async () => {
    world.profile = h.makeProfile(path.join(world.dir, "allowed"));
    browser = await h.launchBrowser(world, world.profile);
    // Nothing is asked before the page uses the card.
    page = await browser.context.newPage();
    await page.goto(world.server.url);
    await page.waitForSelector("body[data-available]", { timeout: 30000 });
    assert.equal(await page.getAttribute("body", "data-available"), "yes",
                 await page.textContent("#status"));
  });
  after(async () => {
    await browser?.close();
  });

  test("lists the bench's readers", async () => {
    // The first use of a capability asks for it, in its own words.
    const consent = h.answerPrompt(browser.context, "consent", "ok");
    assert.equal(await act(page, "#list-readers"), "");
    assert.equal(await consent, `${world.server.origin} wants to read your identity card.`);
    const readers = await page.$$eval("#readers li", (lis) => lis.map((li) => li.textContent));
    for (const reader of world.bench.readers) {
      assert.ok(readers.includes(reader), `${reader} in ${readers}`);
    }
  });

  test("reads every block of both cards and shows the photo", async () => {
    assert.equal(await act(page, "#read-all"), "");
    const vl = page.locator('.card[data-app="1"]');
    const zk = page.locator('.card[data-app="5"]');
    assert.equal(await vl.locator(".block").count(), 4);
    assert.equal(await zk.locator(".block").count(), 5);
    const cardId = vl.locator('[data-block="VLDocument"] tr[data-field="CardID"] td').nth(1);
    assert.equal(await cardId.textContent(), "VL0012345");
    const lastName = vl.locator('[data-block="VLFixedPerso"] tr[data-field="LastName"] td').nth(1);
    assert.equal(await lastName.textContent(), "Petrović");
    // The photo decoded as an image in the page.
    await page.waitForFunction(() => {
      const img = document.getElementById("photo");
      return img && img.complete;
    });
    const size = await page.$eval("#photo", (img) => [img.naturalWidth, img.naturalHeight]);
    assert.deepEqual(size, [240, 320]);
    const street = zk.locator('[data-block="ZKVariablePerso"] tr[data-field="Street"] td').nth(1);
    assert.notEqual(await street.textContent(), "");
  });

  test("block objects read like in-process ones: snapshot values, bytes and dates", async () => {
    const result = await page.evaluate(async (reader) => {
      const carvix = await import("/carvix.js");
      const admin = await carvix.createObject("CARVIX.DocAdmin");
      const block = await admin.ReadVLDocumentData(reader, 1);
      const photo = await admin.ReadVLPhotoData(reader, 1);
      const out = {
        cardId: block.CardID,
        issued: block.DateOfIssue instanceof Date ? block.DateOfIssue.getFullYear() : null,
        photo: typeof photo.Photo === "string" ? photo.Photo.slice(0, 4) : null,
        keys: Object.keys(block),
      };
      try {
        await admin.ReadVLDocumentData("No Such Reader", 1);
      } catch (e) {
        out.error = { isError: e instanceof Error, hresult: e.hresult, message: e.message };
      }
      await photo.release();
      await block.release();
      return out;
    }, world.bench.readers[0]);
    assert.equal(result.cardId, "VL0012345");
    assert.ok(result.issued > 2000);
    assert.equal(result.photo, "/9j/", "the photo's Base64 text starts with a JPEG marker");
    assert.ok(result.keys.includes("CardID"));
    assert.equal(result.error.isError, true);
    assert.ok(result.error.hresult > 0x80000000, String(result.error.hresult));
    assert.notEqual(result.error.message, "");
  });

  test("the signer of a read and its trust come by name from CARVIX.SignerTrust", async () => {
    const result = await page.evaluate(async (reader) => {
      const carvix = await import("/carvix.js");
      const admin = await carvix.createObject("CARVIX.DocAdmin");
      const trust = await carvix.createObject("CARVIX.SignerTrust");
      const block = await admin.ReadVLDocumentData(reader, 1);
      const signer = await trust.SignerOf(block);
      const out = { subject: signer.Subject, trust: signer.Trust, result: signer.TrustResult,
                    certificate: typeof signer.Certificate === "string" };
      const made = await carvix.createObject("CARVIX.VLDocBlock");
      try {
        await trust.SignerOf(made);
      } catch (e) {
        out.unread = e.hresult;
      }
      for (const o of [made, signer, block, trust, admin]) {
        await o.release();
      }
      return out;
    }, world.bench.readers[0]);
    assert.equal(result.subject, "CN=TEST Document Signer,O=carvix-qx test bench,C=XX");
    assert.equal(result.trust, "not checked", "no anchor is installed in this profile");
    assert.equal(result.result, 1);
    assert.equal(result.certificate, true);
    assert.equal(result.unread >>> 0, 0x800B0100, "a block made by the page has no signer");
  });

  test("authenticates with the back-end's response and writes the address", async () => {
    await page.selectOption("#address-reader", world.bench.readers[1]);
    await page.fill("#street", "Bulevar Oslobođenja");
    await page.fill("#number", "17");
    await page.fill("#apartment", "2");
    const consent = h.answerPrompt(browser.context, "consent", "ok");
    assert.equal(await act(page, "#write-address"), "");
    assert.equal(await consent, `${world.server.origin} wants to change data on your card.`);
    assert.equal(await page.textContent("#address-result"),
                 "Written and read back: Bulevar Oslobođenja 17, apartment 2");
    // Another client sees it on the card.
    const r = cli(["read", "zk-variable", "--reader", world.bench.readers[1], "--app", "5",
                   "--json"]);
    assert.equal(r.status, 0, r.stderr);
    assert.equal(JSON.parse(r.stdout).Street, "Bulevar Oslobođenja");
  });

  test("enrols a certificate on the token, the PIN asked in the extension", async () => {
    const done = Number((await page.getAttribute("body", "data-done")) || 0);
    const consent = h.answerPrompt(browser.context, "consent", "ok");
    await page.click("#run-enrolment");
    assert.equal(await consent, `${world.server.origin} wants to create keys on your token.`);
    // Every PIN prompt gets the PIN until the enrolment ends.
    let finished = false;
    const finishing = page.waitForFunction((n) => Number(document.body.dataset.done || 0) > n,
                                           done, { timeout: 120000 })
      .then(() => { finished = true; });
    while (!finished) {
      await Promise.race([
        finishing,
        h.answerPrompt(browser.context, "pin", "ok", (p) => p.fill("#pin", h.PIN)).catch(() => {}),
      ]);
    }
    assert.equal(await page.textContent("#error"), "");
    assert.equal(await page.getAttribute("body", "data-enrolled"), "yes");
    const steps = await page.$$eval("#enrolment li", (lis) => lis.map((li) => li.textContent));
    assert.equal(steps.length, 5);
    assert.match(steps[2], /TEST Web Signer/);
  });

  test("the reader chooser asks in the extension's window and the choice comes back", async () => {
    const choosing = page.evaluate(async () => {
      const carvix = await import("/carvix.js");
      const smartCard = await carvix.createObject("CARVIX.SmartCard");
      try {
        return await smartCard.SelectReader();
      } finally {
        await smartCard.release();
      }
    });
    let listed = [];
    assert.match(await h.answerPrompt(browser.context, "consent", "ok"),
                 /wants to choose which card reader is used\.$/);
    await h.answerPrompt(browser.context, "reader", "ok", async (p) => {
      listed = await p.$$eval("#choices label", (ls) => ls.map((l) => l.textContent));
      await p.check("#choice-1");
    });
    assert.deepEqual(listed, world.bench.readers);
    assert.equal(await choosing, world.bench.readers[1]);
  });

  // The reader chooser's window, once open (left unanswered).
  async function chooserWindow() {
    const prompt = await browser.context.waitForEvent("page", {
      predicate: (p) => p.url().includes("/prompt.html"),
      timeout: 30000,
    });
    await prompt.waitForSelector('body[data-kind="reader"]', { timeout: 10000 });
    return prompt;
  }

  // Waits until no window of the extension's prompts is open.
  async function promptsClosed(prompt) {
    await h.waitFor(async () => prompt.isClosed() ||
                      (await browser.context.pages()).every((p) => !p.url().includes("prompt.html")),
                    10000, "the chooser window to close");
  }

  test("a call times out while the card chooser waits, and its window closes", async () => {
    const calling = page.evaluate(async () => {
      const carvix = await import("/carvix.js");
      const smartCard = await carvix.createObject("CARVIX.SmartCard");
      try {
        await smartCard.SelectReader(carvix.options({ timeoutMs: 2000, userTimeoutMs: 2000 }));
        return null;
      } catch (e) {
        return { name: e.name, timeout: e instanceof carvix.TimeoutError,
                 hresult: e.hresult, message: e.message };
      } finally {
        await smartCard.release();
      }
    });
    const prompt = await chooserWindow();
    const error = await calling;
    assert.deepEqual([error.name, error.timeout, error.hresult], ["TimeoutError", true, 0x800705b4]);
    assert.match(error.message, /SelectReader\(\) did not end within 2 s/);
    await promptsClosed(prompt);
    // The host is free for the next call.
    assert.equal(await act(page, "#list-readers"), "");
  });

  test("an AbortSignal cancels the chooser, with the page's reason", async () => {
    const calling = page.evaluate(async () => {
      const carvix = await import("/carvix.js");
      const smartCard = await carvix.createObject("CARVIX.SmartCard");
      window.stopChoosing = new AbortController();
      try {
        await smartCard.SelectReader(carvix.options({ signal: window.stopChoosing.signal }));
        return null;
      } catch (e) {
        return { cancelled: e instanceof carvix.CancelledError, reason: e.reason,
                 hresult: e.hresult };
      } finally {
        await smartCard.release();
      }
    });
    const prompt = await chooserWindow();
    await page.evaluate(() => window.stopChoosing.abort("the form was closed"));
    assert.deepEqual(await calling, { cancelled: true, reason: "the form was closed",
                                      hresult: 0x800704c7 });
    await promptsClosed(prompt);
    assert.equal(await act(page, "#list-readers"), "");
  });

  test("a page library of another protocol is told which part to update", async () => {
    // What carvix.js of another version would send: its hello, straight on the channel.
    const answers = await page.evaluate(async () => {
      const ask = (id, protocol) => new Promise((resolve) => {
        const listen = (event) => {
          const m = event.data && event.data.message;
          if (event.data && event.data.channel === "carvix:extension->page" && m && m.id === id) {
            window.removeEventListener("message", listen);
            resolve(m.error);
          }
        };
        window.addEventListener("message", listen);
        window.postMessage({ channel: "carvix:page->extension",
                             message: { id, op: "hello", protocol, library: "9.0.0" } },
                           window.location.origin);
      });
      const carvix = await import("/carvix.js");
      const describe = (error) => {
        const e = new carvix.CarvixError(error);
        return { name: e.name, part: e.part, hresult: e.hresult, message: e.message };
      };
      const [major, minor] = carvix.PROTOCOL.split(".").map(Number);
      return [describe(await ask(900001, `${major + 1}.0`)),
              describe(await ask(900002, `${major}.${minor + 1}`)),
              describe(await ask(900003, `${major - 1}.0`))];
    });
    for (const [answer, part, words] of [[answers[0], "extension", /^Update the carvix-qx browser extension/],
                                         [answers[1], "extension", /^Update the carvix-qx browser extension/],
                                         [answers[2], "library", /^Update the page library/]]) {
      assert.equal(answer.name, "VersionMismatchError", JSON.stringify(answer));
      assert.equal(answer.part, part);
      assert.equal(answer.hresult, 0x8007051a);
      assert.match(answer.message, words);
    }
    // The hello of this library passes, with every part's version.
    const hello = await page.evaluate(async () => (await import("/carvix.js")).available());
    assert.equal(hello.ok, true, hello.message);
    assert.equal(hello.version.protocol, hello.version.extensionProtocol);
    assert.ok(hello.version.hostVersion && hello.version.extension);
  });

  test("a PIN prompt cancelled in the extension fails the call, not the page", async () => {
    const other = await openSample(browser.context, world.server.url);
    const calling = other.evaluate(async (token) => {
      const carvix = await import("/carvix.js");
      const pki = await carvix.createObject("CARVIX.PKI");
      try {
        await pki.GenerateKeyPair(`\\\\.\\${token}\\cancelled`, 2, 2048 * 65536);
        return null;
      } catch (e) {
        return { hresult: e.hresult, message: e.message };
      } finally {
        await pki.release();
      }
    }, h.TOKEN);
    await h.answerPrompt(browser.context, "pin", "cancel");
    const error = await calling;
    assert.deepEqual(error, { hresult: 0x8010006e,  // SCARD_W_CANCELLED_BY_USER
                              message: "The action was cancelled by the user." });
    // The page goes on working.
    assert.equal(await act(other, "#list-readers"), "");
    await other.close();
  });

  test("the host crashing gives the page a clear error", async () => {
    const before = new Set(h.bridgeProcesses(browser.marker));
    const crash = await openSample(browser.context, world.server.url);
    await crash.evaluate(async () => {
      const carvix = await import("/carvix.js");
      window.smartCard = await carvix.createObject("CARVIX.SmartCard");
    });
    const mine = h.bridgeProcesses(browser.marker).filter((pid) => !before.has(pid));
    assert.equal(mine.length, 1, "one host for the new page");
    process.kill(mine[0], "SIGKILL");
    const error = await crash.evaluate(async () => {
      try {
        await window.smartCard.ListReaders();
        return null;
      } catch (e) {
        return { hresult: e.hresult, message: e.message };
      }
    });
    assert.ok(error, "the call after the crash failed");
    assert.match(error.message, /host ended unexpectedly/);
    assert.equal(error.hresult, 0x800700e9);
    await crash.close();
  });

  test("a page closed mid-operation leaves no card connection open", async () => {
    const before = new Set(h.bridgeProcesses(browser.marker));
    const closing = await openSample(browser.context, world.server.url);
    await closing.evaluate(async (reader) => {
      const carvix = await import("/carvix.js");
      const auth = await carvix.createObject("CARVIX.Auth");
      await auth.Init(reader, 1);  // holds a connection to the card
      const admin = await carvix.createObject("CARVIX.DocAdmin");
      for (let i = 0; i < 20; i++) {
        admin.ReadVLPhotoData(reader, 1).catch(() => {});  // still running at close
      }
    }, world.bench.readers[0]);
    const mine = h.bridgeProcesses(browser.marker).filter((pid) => !before.has(pid));
    assert.equal(mine.length, 1);
    await closing.close();
    await h.waitFor(() => !h.bridgeProcesses(browser.marker).includes(mine[0]), 10000,
                    "the page's host to end");
    // The card is free: an exclusive user (the client's write path authenticates and holds
    // a transaction) and a fresh page both work.
    const r = cli(["read", "vl-document", "--reader", world.bench.readers[0], "--app", "1"]);
    assert.equal(r.status, 0, r.stderr);
    const fresh = await openSample(browser.context, world.server.url);
    assert.equal(await act(fresh, "#read-all"), "");
    assert.equal(await fresh.locator(".card").count(), 2);
    await fresh.close();
  });

  // Chromium stops an idle worker; the next page wakes it with its first request, which
  // must not be lost while the woken worker reads its allow-list (calls have no time limit:
  // a lost request would hang the page). Firefox has no handle to stop the add-on's
  // background from outside.
  test("a page that wakes a stopped worker loses no request",
       { skip: h.firefox && "Firefox offers no way to stop the background from outside" },
       async () => {
    // ServiceWorker.stopWorker over the DevTools protocol, as chrome://serviceworker-internals
    // does; the worker's version reports "stopped" once it is down.
    const tool = await browser.context.newPage();
    const cdp = await browser.context.newCDPSession(tool);
    let version = null;
    cdp.on("ServiceWorker.workerVersionUpdated", ({ versions }) => {
      version = versions.find((v) => v.scriptURL.endsWith("/service_worker.js")) || version;
    });
    await cdp.send("ServiceWorker.enable");
    await h.waitFor(() => version?.runningStatus === "running", 10000, "the worker's version");
    await cdp.send("ServiceWorker.stopWorker", { versionId: version.versionId });
    await h.waitFor(() => version.runningStatus === "stopped", 10000, "the worker to stop");
    await cdp.detach();
    await tool.close();
    const page = await browser.context.newPage();
    await page.goto(world.server.url);
    // The sample's first request (hello, in available()) reached the host.
    await page.waitForSelector("body[data-available]", { timeout: 15000 });
    assert.equal(await page.getAttribute("body", "data-available"), "yes",
                 await page.textContent("#status"));
    const readers = await page.evaluate(async () => {
      const carvix = await import("/carvix.js");
      const smartCard = await carvix.createObject("CARVIX.SmartCard");
      return Promise.race([smartCard.ListReaders(),
                           new Promise((resolve) => setTimeout(() => resolve("lost"), 10000))]);
    });
    assert.notEqual(readers, "lost");
    await page.close();
  });

  test("a page on an origin outside the list is refused and starts no host", async () => {
    const other = world.server.url.replace("localhost", "127.0.0.1");
    const before = new Set(h.bridgeProcesses(browser.marker));
    const refused = await openSample(browser.context, other);
    assert.equal(await refused.getAttribute("body", "data-available"), "no");
    const origin = new URL(other).origin;
    assert.equal(await refused.textContent("#status"),
                 `The page ${origin} is not allowed to use carvix-qx.`);
    assert.equal(await act(refused, "#list-readers"),
                 `The page ${origin} is not allowed to use carvix-qx. (0x80070005)`);
    // The failure table's meaning, shown beside the message.
    assert.equal(await refused.textContent("#explanation"), "Access was denied.");
    assert.deepEqual(h.bridgeProcesses(browser.marker).filter((pid) => !before.has(pid)), [],
                     "no host started for the refused page");
    await refused.close();
  });
});

describe("a page whose origin may only read", () => {
  test("cannot write, and each answer is remembered until withdrawn on the options page",
       async () => {
    const origin = world.server.origin;
    const readOnly = h.writeOrigins(world.dir, [`${origin} read`]);
    const profile = h.makeProfile(path.join(world.dir, "read-only"));
    const browser = await h.launchBrowser(world, profile,
                                          { CARVIX_BRIDGE_ORIGINS: readOnly.file });
    const prompts = async () => (await browser.context.pages())
      .filter((p) => p.url().includes("prompt.html")).length;
    try {
      const page = await openSample(browser.context, world.server.url);
      assert.equal(await page.getAttribute("body", "data-available"), "yes");
      // The options page, opened from the extension as the browser's add-on manager does,
      // shows the answer as soon as it is given.
      const optionsOpened = browser.context.waitForEvent("page", {
        predicate: (p) => p.url().includes("/options.html"),
        timeout: 30000,
      });
      const consent = h.answerPrompt(browser.context, "consent", "ok", (p) =>
        p.evaluate(() => chrome.runtime.openOptionsPage()));
      assert.equal(await act(page, "#list-readers"), "");
      await consent;
      const options = await optionsOpened;
      // Writing was not granted: refused without asking the user, naming the capability.
      await page.selectOption("#address-reader", world.bench.readers[1]);
      assert.equal(await act(page, "#write-address"),
                   `The page ${origin} is not allowed to change data on the card ` +
                   '(capability "write"). (0x80070005)');
      assert.equal(await page.getAttribute("body", "data-error-class"), "NotAllowedError");
      assert.equal(await prompts(), 0);

      // The options page lists the answer; withdrawn, it is asked again.
      await options.waitForSelector('body[data-shown="1"]');
      const row = `tr[data-origin="${origin}"][data-capability="read"]`;
      assert.match(await options.textContent(row), /read your identity card\s*Allowed/);
      await options.click(`${row} button`);
      await options.waitForSelector('body[data-shown="0"]');

      const refusing = h.answerPrompt(browser.context, "consent", "cancel");
      const refused = `The user did not allow ${origin} to read the card (capability "read").`;
      assert.equal(await act(page, "#list-readers"), `${refused} (0x800704C7)`);
      assert.equal(await page.getAttribute("body", "data-error-class"), "ConsentRefusedError");
      await refusing;
      // The refusal is remembered too: after a reload, refused again without a question.
      await page.reload();
      await page.waitForSelector("body[data-available]");
      assert.equal(await act(page, "#list-readers"), `${refused} (0x800704C7)`);
      assert.equal(await prompts(), 0);
      await options.waitForSelector('body[data-shown="1"]');
      assert.match(await options.textContent(row), /Not allowed/);
    } finally {
      await browser.close();
      readOnly.remove();
    }
  });
});

describe("a browser without the host", () => {
  test("tells the page the host is missing", async () => {
    const profile = h.makeProfile(path.join(world.dir, "no-host"), { registerHost: false });
    const browser = await h.launchBrowser(world, profile);
    try {
      const page = await browser.context.newPage();
      await page.goto(world.server.url);
      await page.waitForSelector("body[data-available]");
      const status = await page.textContent("#status");
      assert.match(status, /carvix-bridge\) is not installed for this browser/);
      const available = await page.evaluate(async () => (await import("/carvix.js")).available());
      assert.equal(available.extension, true);
      assert.equal(available.host, false);
    } finally {
      await browser.close();
    }
  });
});

describe("a browser without the extension", () => {
  test("tells the page the extension is missing", async () => {
    const browser = await h.launchPlain(path.join(world.dir, "plain"));
    try {
      const page = await browser.newPage();
      await page.goto(world.server.url);
      await page.waitForSelector("body[data-available]");
      assert.equal(await page.textContent("#status"),
                   "The carvix-qx browser extension is not installed or not enabled in this browser.");
    } finally {
      await browser.close();
    }
  });
});
