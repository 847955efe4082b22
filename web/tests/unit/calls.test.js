// carvix.js's calls through a stand-in extension: named error classes, the version rule in
// each direction, time limits and AbortSignals that cancel the request in the host.
import assert from "node:assert/strict";
import { after, describe, test } from "node:test";

// The page's window: carvix.js posts to it and listens on it; the stand-in extension answers.
const listeners = [];
const sent = [];
let extension = () => {};
globalThis.window = {
  location: { origin: "https://id.example.org" },
  addEventListener: (type, listener) => listeners.push(listener),
  postMessage: (data) => {
    sent.push(data.message);
    queueMicrotask(() => extension(data.message));
  },
};
function toPage(message) {
  for (const listener of listeners) {
    listener({ source: window, data: { channel: "carvix:extension->page", message } });
  }
}

const carvix = await import("../../carvix.js");
const { CarvixError, Failures, PROTOCOL, VERSION, options, setDefaults, versionProblem } = carvix;
const { helloToHost, pageVersionProblem } = await import("../../extension/versions.js");
const own = await import("../../extension/version.js");

const [major, minor] = PROTOCOL.split(".").map(Number);
const goodHello = { version: major, protocol: PROTOCOL, host: "carvix-bridge", hostVersion: VERSION,
                    module: "carvix-qx " + VERSION, extension: VERSION,
                    extensionProtocol: PROTOCOL };
const docAdmin = { $object: 1, type: "IDocAdminService", methods: ["ReadVLDocumentData"],
                   properties: {} };

// Answers hello and create at once; everything else is left to the test.
function standIn(onOther = () => {}) {
  extension = (m) => {
    if (m.op === "hello") toPage({ id: m.id, ok: true, result: goodHello });
    else if (m.op === "create") toPage({ id: m.id, ok: true, result: docAdmin });
    else onOther(m);
  };
}
const cancels = () => sent.filter((m) => m.op === "cancel").map((m) => m.request);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

after(() => { extension = () => {}; });

describe("named errors", () => {
  test("each situation has its class, all CarvixErrors that keep the hresult", () => {
    const cases = [
      [Failures.NoCard, carvix.NoCardError], [Failures.CardRemoved, carvix.CardRemovedError],
      [Failures.UnknownCard, carvix.WrongCardError], [Failures.InUse, carvix.InUseError],
      [Failures.CancelledByUser, carvix.CancelledError],
      [Failures.AccessDenied, carvix.NotAllowedError],
      [Failures.VersionMismatch, carvix.VersionMismatchError],
      [Failures.Timeout, carvix.TimeoutError], [Failures.WrongPin, carvix.WrongPinError],
      [0x80076a82, carvix.CardRefusedError],
    ];
    for (const [hresult, cls] of cases) {
      const e = new CarvixError({ hresult: hresult | 0, message: "m" });
      assert.ok(e instanceof cls, `${hresult.toString(16)} is a ${cls.name}`);
      assert.ok(e instanceof CarvixError && e instanceof Error);
      assert.equal(e.hresult, hresult >>> 0);
      assert.equal(e.name, cls.name);
      assert.equal(e.message, "m");
    }
    const plain = new CarvixError({ hresult: Failures.Failed });
    assert.equal(plain.constructor, CarvixError, "no situation, no subclass");
    assert.equal(plain.name, "CarvixError");
  });

  test("the extension's situation wins where one hresult serves two situations", () => {
    const refused = new CarvixError({ hresult: Failures.OperationCancelled, message: "no",
                                      situation: "ConsentRefused" });
    assert.ok(refused instanceof carvix.ConsentRefusedError);
    assert.equal(refused.hresult, Failures.OperationCancelled);
    assert.ok(new CarvixError({ hresult: Failures.FileNotFound, situation: "HostMissing" })
      instanceof carvix.HostMissingError);
    assert.ok(new CarvixError({ hresult: Failures.OperationCancelled }) instanceof
              carvix.CancelledError);
    // A situation nobody defined is ignored, not trusted.
    const odd = new CarvixError({ hresult: Failures.NoCard, situation: "toString" });
    assert.ok(odd instanceof carvix.NoCardError);
  });
});

describe("the version rule", () => {
  test("matching parts pass, and the page library names the part to update", () => {
    assert.equal(versionProblem(goodHello), null);
    const cases = [
      [{ ...goodHello, protocol: `${major}.${minor - 1}` }, "host",
       "Update the carvix-qx host (package carvix-qx)"],
      [{ version: 1, host: "carvix-bridge", module: "carvix-qx 0.0.9" }, "host",
       "Update the carvix-qx host (package carvix-qx)"],
      [{ ...goodHello, protocol: `${major + 1}.0` }, "library", "Update the page library"],
      [{ ...goodHello, extension: undefined, extensionProtocol: undefined }, "extension",
       "Update the carvix-qx browser extension"],
      [{ ...goodHello, extensionProtocol: `${major}.${minor - 1}` }, "extension",
       "Update the carvix-qx browser extension"],
      [{ ...goodHello, extensionProtocol: `${major + 1}.0` }, "library",
       "Update the page library"],
    ];
    for (const [hello, part, words] of cases) {
      const e = versionProblem(hello);
      assert.ok(e instanceof carvix.VersionMismatchError, JSON.stringify(hello));
      assert.equal(e.hresult, Failures.VersionMismatch);
      assert.equal(e.part, part);
      assert.ok(e.message.startsWith(words), e.message);
    }
    // A newer minor version of the host or the extension serves this library.
    assert.equal(versionProblem({ ...goodHello, protocol: `${major}.${minor + 3}`,
                                  extensionProtocol: `${major}.${minor + 1}` }), null);
  });

  test("the extension refuses a page library it cannot serve and adds its own version", () => {
    assert.equal(own.PROTOCOL, PROTOCOL, "one protocol version for every part");
    assert.equal(own.VERSION, VERSION);
    assert.equal(pageVersionProblem({ op: "hello", protocol: PROTOCOL }), null);
    assert.equal(pageVersionProblem({ op: "hello" }), major === 1 ? null : pageVersionProblem({}));
    const newer = pageVersionProblem({ protocol: `${major}.${minor + 1}`, library: "9.0.0" });
    assert.equal(newer.part, "extension");
    assert.match(newer.message, /^Update the carvix-qx browser extension/);
    assert.match(newer.message, /carvix\.js 9\.0\.0/);
    const older = pageVersionProblem({ protocol: `${major - 1}.5` });
    assert.equal(older.part, "library");
    assert.equal(new CarvixError(older).constructor, carvix.VersionMismatchError);
    assert.deepEqual(helloToHost({ op: "hello", protocol: PROTOCOL }),
                     { op: "hello", protocol: PROTOCOL, extension: VERSION,
                       extensionProtocol: PROTOCOL });
  });
});

describe("time limits and cancelling", () => {
  test("a call over its time limit fails as a TimeoutError and is cancelled in the host", async () => {
    standIn();
    const admin = await carvix.createObject("CARVIX.DocAdmin");
    const start = sent.length;
    await assert.rejects(admin.ReadVLDocumentData("Reader 0", 1, options({ timeoutMs: 40 })),
                         (e) => e instanceof carvix.TimeoutError &&
                                e.hresult === Failures.Timeout &&
                                /ReadVLDocumentData\(\) did not end within 0\.04 s/.test(e.message));
    const call = sent.slice(start).find((m) => m.op === "call");
    assert.deepEqual(call.args, ["Reader 0", 1], "the options are not sent as an argument");
    assert.deepEqual(cancels().slice(-1), [call.id]);
    // The host's late answer is dropped.
    toPage({ id: call.id, ok: false, error: { hresult: Failures.OperationCancelled } });
  });

  test("while the user is asked, the user's time limit applies", async () => {
    const previous = setDefaults({ timeoutMs: 40, userTimeoutMs: 400 });
    try {
      standIn((m) => {
        if (m.op !== "call") return;
        setTimeout(() => toPage({ event: "prompt", id: m.id, open: true }), 10);
        setTimeout(() => toPage({ id: m.id, ok: true, result: "chosen" }), 120);
      });
      const admin = await carvix.createObject("CARVIX.DocAdmin");
      assert.equal(await admin.ReadVLDocumentData("Reader 0", 1), "chosen");
      // Once answered, the host's time limit is back.
      standIn((m) => {
        if (m.op !== "call") return;
        setTimeout(() => toPage({ event: "prompt", id: m.id, open: true }), 5);
        setTimeout(() => toPage({ event: "prompt", id: m.id, open: false }), 10);
      });
      await assert.rejects(admin.ReadVLDocumentData("Reader 0", 1), carvix.TimeoutError);
    } finally {
      setDefaults(previous);
      setDefaults({ timeoutMs: 60000, userTimeoutMs: 600000 });
    }
  });

  test("an AbortSignal cancels the call with its reason", async () => {
    standIn();
    const admin = await carvix.createObject("CARVIX.DocAdmin");
    const controller = new AbortController();
    const pending = admin.ReadVLDocumentData("Reader 0", 1, options({ signal: controller.signal }));
    await sleep(5);
    const call = sent.filter((m) => m.op === "call").pop();
    controller.abort("the user left the form");
    await assert.rejects(pending, (e) => e instanceof carvix.CancelledError &&
                                         e.hresult === Failures.OperationCancelled &&
                                         e.reason === "the user left the form" &&
                                         /the user left the form/.test(e.message));
    assert.deepEqual(cancels().slice(-1), [call.id]);

    // AbortSignal.timeout() ends the call as a time-out, with the signal's reason.
    await assert.rejects(admin.ReadVLDocumentData("Reader 0", 1,
                                                  options({ signal: AbortSignal.timeout(20) })),
                         (e) => e instanceof carvix.TimeoutError && e.reason.name === "TimeoutError");

    // A signal aborted before the call sends nothing.
    const before = sent.length;
    await assert.rejects(carvix.createObject("CARVIX.DocAdmin",
                                             { signal: AbortSignal.abort("no") }),
                         carvix.CancelledError);
    assert.equal(sent.length, before);
  });

  test("options are checked", () => {
    assert.throws(() => options({ timeoutMs: -1 }), carvix.BadCallError);
    assert.throws(() => options({ signal: "stop" }), carvix.BadCallError);
    assert.throws(() => setDefaults({ userTimeoutMs: "long" }), carvix.BadCallError);
  });
});
