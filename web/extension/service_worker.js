// The extension's service worker: learns the allow-list from the host, puts the bridge's
// content script on the allowed pages only, asks the user's consent once per origin and
// capability, and holds one native port (one carvix-bridge process) per page.
import { matchPattern } from "./origins.js";
import { Errors, errorResponse, explained } from "./errors.js";
import { HandleTypes, capability, effectiveRights, grantKey } from "./rights.js";
import { helloToHost, pageVersionProblem } from "./versions.js";

const HOST = "carvix.qx.bridge";
// What a page may ask of the host. "answer" comes only from the extension's own prompt
// window, "policy" only from the worker itself.
const PAGE_OPS = new Set(["hello", "create", "call", "get", "put", "release"]);
// Firefox's match patterns cannot name a port.
const PORTS_IN_PATTERNS = !chrome.runtime.getURL("").startsWith("moz-extension:");

// --- the allow-list -------------------------------------------------------------------

let policyPromise = null;

// {origins: [...], capabilities: {origin: [...]}, hostMissing: bool, reason: text}. Asked
// of the host once per worker life; the answer also lives in storage.session so a woken
// worker need not ask again.
function policy() {
  if (!policyPromise) {
    policyPromise = loadPolicy();
  }
  return policyPromise;
}

async function loadPolicy() {
  const saved = await chrome.storage.session.get("policy");
  if (saved.policy) {
    return saved.policy;
  }
  return refreshPolicy();
}

async function askHost() {
  try {
    const answer = await chrome.runtime.sendNativeMessage(HOST, { op: "policy" });
    return { answer, hostMissing: false, reason: "" };
  } catch (e) {
    return { answer: null, hostMissing: true, reason: String((e && e.message) || e) };
  }
}

async function managedOrigins() {
  try {
    const managed = await chrome.storage.managed.get("allowedOrigins");
    return managed.allowedOrigins;
  } catch {
    return undefined;  // no managed storage on this platform
  }
}

// Refreshes run one after the other: two at once would register the scripts twice.
let refreshing = Promise.resolve();
function refreshPolicy() {
  const run = refreshing.then(doRefreshPolicy, doRefreshPolicy);
  refreshing = run.catch(() => {});
  return run;
}

async function doRefreshPolicy() {
  const [host, managed] = await Promise.all([askHost(), managedOrigins()]);
  const rights = effectiveRights(host.answer, managed);
  const result = {
    origins: rights.origins,
    capabilities: rights.capabilities,
    hostMissing: host.hostMissing,
    reason: host.reason,
  };
  await chrome.storage.session.set({ policy: result });
  await registerScripts(result.origins);
  policyPromise = Promise.resolve(result);
  return result;
}

// The bridge's content script goes on the allowed origins only; every other web page gets
// the small script that answers carvix.js with the reason it is refused.
async function registerScripts(origins) {
  const existing = await chrome.scripting.getRegisteredContentScripts();
  if (existing.length > 0) {
    await chrome.scripting.unregisterContentScripts({ ids: existing.map((s) => s.id) });
  }
  const allowed = [...new Set(origins.map((o) => matchPattern(o, PORTS_IN_PATTERNS)))];
  const scripts = [{
    id: "refused",
    js: ["refused.js"],
    matches: ["https://*/*", "http://*/*"],
    excludeMatches: allowed,
    runAt: "document_start",
    persistAcrossSessions: false,
  }];
  if (allowed.length > 0) {
    scripts.push({
      id: "bridge",
      js: ["content.js"],
      matches: allowed,
      runAt: "document_start",
      persistAcrossSessions: false,
    });
  }
  await chrome.scripting.registerContentScripts(scripts);
}

async function isAllowed(origin) {
  return (await policy()).origins.includes(origin);
}

// Why `origin` cannot use the card: the host is missing, or the origin is not on the list.
async function refusal(origin) {
  let p = await policy();
  if (p.hostMissing) {
    // Installed since? Asking again costs one failed start; the page's reload then gets
    // the bridge's script if its origin is on the list.
    p = await refreshPolicy();
  }
  if (p.hostMissing) {
    return Errors.hostMissing(p.reason);
  }
  return Errors.notAllowed(origin);
}

// Ready once the allow-list is known and the content scripts are in place (the tests wait
// for it before they open a page).
self.carvixReady = policy();
chrome.runtime.onStartup.addListener(() => { self.carvixReady = refreshPolicy(); });
chrome.runtime.onInstalled.addListener(() => { self.carvixReady = refreshPolicy(); });
chrome.storage.onChanged.addListener((changes, area) => {
  if (area === "managed") {
    self.carvixReady = refreshPolicy();
  }
});

// --- prompts in the extension's own window ---------------------------------------------

let nextPromptKey = 1;
const openPrompts = new Map();  // key -> {details, resolve, windowId, port}

// Shows `details` (see prompt.js) in a window of the extension's own and resolves with the
// user's answer, or with null when the window is closed unanswered or `page` goes away.
async function ask(details, page) {
  const key = nextPromptKey++;
  const answered = new Promise((resolve) => {
    openPrompts.set(key, { details, resolve, windowId: null, page });
  });
  const win = await chrome.windows.create({
    url: chrome.runtime.getURL("prompt.html?key=" + key),
    type: "popup",
    width: 460,
    height: 380,
  });
  const entry = openPrompts.get(key);
  if (entry) {
    entry.windowId = win.id;
  } else {
    chrome.windows.remove(win.id).catch(() => {});
  }
  return answered;
}

function settle(key, value) {
  const entry = openPrompts.get(key);
  if (!entry) {
    return;
  }
  openPrompts.delete(key);
  entry.resolve(value);
  if (entry.windowId !== null) {
    chrome.windows.remove(entry.windowId).catch(() => {});
  }
}

function cancelPromptsOf(page) {
  for (const [key, entry] of openPrompts) {
    if (entry.page === page) {
      settle(key, null);
    }
  }
}

chrome.windows.onRemoved.addListener((windowId) => {
  for (const [key, entry] of openPrompts) {
    if (entry.windowId === windowId) {
      settle(key, null);
    }
  }
});

// Only the extension's own prompt page may read a prompt or answer it.
chrome.runtime.onMessage.addListener((message, sender, sendResponse) => {
  const own = sender.id === chrome.runtime.id &&
              typeof sender.url === "string" &&
              sender.url.startsWith(chrome.runtime.getURL("prompt.html"));
  if (!own || !message || typeof message.key !== "number") {
    return false;
  }
  if (message.kind === "details") {
    const entry = openPrompts.get(message.key);
    sendResponse(entry ? entry.details : null);
    return false;
  }
  if (message.kind === "answer") {
    settle(message.key, message.value === undefined ? null : message.value);
    sendResponse(true);
  }
  return false;
});

// --- consent ---------------------------------------------------------------------------

// The user's answer for one origin and one capability (true or false) is kept until it is
// withdrawn on the options page. A question that cannot be asked (no window, no storage)
// counts as not allowed.
async function consent(origin, name, page) {
  try {
    return await askConsent(origin, name, page);
  } catch {
    return false;
  }
}

async function askConsent(origin, name, page) {
  const key = grantKey(name, origin);
  const stored = await chrome.storage.local.get(key);
  if (typeof stored[key] === "boolean") {
    return stored[key];
  }
  const c = capability(name);
  // While the user is asked, the waiting requests' time limit is the user's.
  page.consentAsked(true);
  let answer;
  try {
    answer = await ask({ kind: "consent", origin, capability: name,
                         text: `${origin} ${c.consent}` }, page);
  } finally {
    page.consentAsked(false);
  }
  if (answer === null) {
    return false;  // closed without an answer: ask again next time
  }
  const allowed = answer === true;
  await chrome.storage.local.set({ [key]: allowed });
  return allowed;
}

// Answers given before consent was asked per capability covered every use at once; they are
// not carried over, so each capability is asked for afresh.
chrome.runtime.onInstalled.addListener(async () => {
  const all = await chrome.storage.local.get(null);
  const old = Object.keys(all).filter((k) => k.startsWith("consent:"));
  if (old.length > 0) {
    await chrome.storage.local.remove(old);
  }
});

// --- one page, one native port ---------------------------------------------------------

class PageSession {
  constructor(port, origin) {
    this.port = port;
    this.origin = origin;
    this.native = null;
    this.ended = null;     // the error every later request gets, once the host is gone
    this.handles = new HandleTypes();
    this.asking = new Map();  // capability -> the consent question open for it
    this.checked = Promise.resolve();  // requests pass the rights check in arrival order
    this.pending = new Set();
    this.arriving = new Map();  // id -> cancelled, for requests waiting for the consent
    this.waitingKey = null;  // the prompt key of an open "waiting for a card" window
    port.onMessage.addListener((m) => this.fromPage(m));
    port.onDisconnect.addListener(() => this.close());
  }

  post(message) {
    try {
      this.port.postMessage(message);
    } catch {
      // the page went away; close() follows
    }
  }

  async fromPage(message) {
    if (message && message.op === "cancel") {
      this.cancel(message);
      return;
    }
    const id = message && Number.isInteger(message.id) ? message.id : null;
    if (!message || !PAGE_OPS.has(message.op) || id === null) {
      this.post(errorResponse(id, Errors.badRequest()));
      return;
    }
    this.arriving.set(id, false);
    const check = this.checked.then(() => this.rightsRefusal(message));
    this.checked = check.catch(() => {});
    const refused = await check;
    const cancelled = this.arriving.get(id);
    this.arriving.delete(id);
    if (cancelled) {
      return;  // the page gave up on it before it could be sent: it never runs
    }
    if (refused) {
      this.post(errorResponse(id, refused));
      return;
    }
    if (this.ended) {
      this.post(errorResponse(id, this.ended));
      return;
    }
    const versionProblem = message.op === "hello" ? pageVersionProblem(message) : null;
    if (versionProblem) {
      this.post(errorResponse(id, versionProblem));
      return;
    }
    if (!this.native) {
      this.openNative();
    }
    // The origin is the one the browser gave this port, never what the page wrote.
    const request = { ...(message.op === "hello" ? helloToHost(message) : message),
                      origin: this.origin };
    this.pending.add(id);
    try {
      this.native.postMessage(request);
    } catch {
      // The host went away between its last answer and this request; onDisconnect has
      // answered what was pending, this one gets the same error.
      this.pending.delete(id);
      this.post(errorResponse(id, this.ended || Errors.hostEnded("")));
    }
  }

  // Why `message` may not go to the host, or null: a capability the administrator did not
  // grant the origin (the host's list narrowed by the managed policy), or one the user did
  // not allow. Consent is asked the first time the page needs each capability.
  async rightsRefusal(message) {
    const needs = this.handles.needsOf(message);
    if (needs === null) {
      return Errors.noSuchHandle();
    }
    const granted = (await policy()).capabilities?.[this.origin] || [];
    for (const name of needs) {
      if (!granted.includes(name)) {
        return Errors.notGranted(this.origin, capability(name));
      }
    }
    for (const name of needs) {
      if (!this.asking.has(name)) {
        const question = consent(this.origin, name, this);
        this.asking.set(name, question);
        question.finally(() => this.asking.delete(name));
      }
      if (!(await this.asking.get(name))) {
        return Errors.noConsent(this.origin, capability(name));
      }
    }
    if (message.op === "release") {
      this.handles.forget(message.handle);
    }
    return null;
  }

  // The page gave up on a request (its time limit, its AbortSignal): the host drops it if it
  // has not run yet, or ends its open prompt or wait for a card; the prompt windows of the
  // running request close. The host still answers the request; the page ignores that.
  cancel(message) {
    const request = message.request;
    if (this.arriving.has(request)) {
      this.arriving.set(request, true);
      return;
    }
    if (!Number.isInteger(request) || !this.pending.has(request) || !this.native) {
      return;  // answered already, or never sent: nothing runs for it
    }
    const running = this.pending.values().next().value === request;
    this.toHost({ op: "cancel", origin: this.origin, request });
    if (running) {
      this.userAsked(false);
      cancelPromptsOf(this);
    }
  }

  // Tells the page that the user is being asked for consent (open) or has answered, for every
  // request waiting for that answer.
  consentAsked(open) {
    for (const [id, cancelled] of this.arriving) {
      if (!cancelled) {
        this.post({ event: "prompt", id, open });
      }
    }
  }

  // Tells the page that the user is being asked something for its running request (open)
  // or has answered, so that the call's time limit for the user applies meanwhile.
  userAsked(open) {
    const running = this.pending.values().next().value;
    if (running !== undefined) {
      this.post({ event: "prompt", id: running, open });
    }
  }

  openNative() {
    this.native = chrome.runtime.connectNative(HOST);
    this.native.onMessage.addListener((m) => this.fromHost(m));
    this.native.onDisconnect.addListener(() => {
      const why = chrome.runtime.lastError ? chrome.runtime.lastError.message : "";
      this.native = null;
      // Chromium: "Specified native messaging host not found."; Firefox: "No such native
      // application ...".
      const missing = /not found|no such native application/i.test(why);
      this.ended = missing ? Errors.hostMissing(why) : Errors.hostEnded(why);
      for (const id of this.pending) {
        this.post(errorResponse(id, this.ended));
      }
      this.pending.clear();
      cancelPromptsOf(this);
    });
  }

  fromHost(message) {
    if (message && message.prompt !== undefined && message.kind !== undefined) {
      this.relayPrompt(message);
      return;
    }
    if (message && message.id !== undefined) {
      this.pending.delete(message.id);
      // The call that waited for a card is over: its "waiting" window goes.
      if (this.waitingKey !== null) {
        settle(this.waitingKey, "done");
      }
    }
    if (message && message.ok === false && message.error) {
      message = { ...message, error: explained(message.error) };
    }
    if (message && message.ok === true) {
      this.handles.note(message.result);
    }
    this.post(message);
  }

  async relayPrompt(prompt) {
    const details = { ...prompt, origin: this.origin };
    const asking = prompt.kind !== "notice";  // the host does not wait for a notice
    if (asking) {
      this.userAsked(true);
    }
    const value = await ask(details, this);
    if (!this.native) {
      return;
    }
    const answer = { op: "answer", origin: this.origin, prompt: prompt.prompt };
    if (prompt.kind === "pin") {
      answer.pin = typeof value === "string" ? value : null;
    } else if (prompt.kind === "reader" || prompt.kind === "certificate") {
      answer.index = Number.isInteger(value) ? value : null;
    }
    this.toHost(answer);
    if (prompt.kind === "reader" && (prompt.readers || []).length === 0 && answer.index === 0) {
      this.waitForCard(prompt);  // the user still waits: the call's time limit stays theirs
    } else if (asking) {
      this.userAsked(false);
    }
  }

  // The user chose to wait for a card: the host waits without asking again, and a window
  // lets the user stop the wait (the same prompt answered with null) until the call ends.
  async waitForCard(prompt) {
    const key = nextPromptKey;  // the key ask() is about to take
    this.waitingKey = key;
    const value = await ask({ kind: "waiting", origin: this.origin }, this);
    if (this.waitingKey === key) {
      this.waitingKey = null;
    }
    if (value === null && this.native) {
      this.toHost({ op: "answer", origin: this.origin, prompt: prompt.prompt, index: null });
    }
  }

  toHost(message) {
    try {
      this.native.postMessage(message);
    } catch {
      // the host ended meanwhile; onDisconnect tells the page
    }
  }

  close() {
    cancelPromptsOf(this);
    if (this.native) {
      const native = this.native;
      this.native = null;
      native.disconnect();  // the host reads end of input and exits
    }
  }
}

// The page's top-frame origin as the browser reports it (Firefox before 126 gives only the
// URL).
function senderOrigin(sender) {
  if (typeof sender.origin === "string" && sender.origin !== "null") {
    return sender.origin;
  }
  try {
    return new URL(sender.url).origin;
  } catch {
    return "null";
  }
}

// A page may connect to a worker that was asleep: the listeners go on the port at once and
// hold what arrives while the allow-list is read, so that no request is lost.
chrome.runtime.onConnect.addListener((port) => {
  if (port.name !== "carvix-page" || port.sender.id !== chrome.runtime.id) {
    port.disconnect();
    return;
  }
  const early = [];
  let closed = false;
  const hold = (m) => early.push(m);
  const gone = () => { closed = true; };
  port.onMessage.addListener(hold);
  port.onDisconnect.addListener(gone);
  const origin = senderOrigin(port.sender);
  const decide = async () => port.sender.frameId === 0 && (await isAllowed(origin));
  decide().then(async (allowed) => {
    port.onMessage.removeListener(hold);
    port.onDisconnect.removeListener(gone);
    if (closed) {
      return;
    }
    if (!allowed) {
      const error = await refusal(origin);
      const refuse = (m) => {
        try {
          port.postMessage(errorResponse(m && Number.isInteger(m.id) ? m.id : null, error));
        } catch {
          // the page went away
        }
      };
      port.onMessage.addListener(refuse);
      early.forEach(refuse);
      return;
    }
    const session = new PageSession(port, origin);
    early.forEach((m) => session.fromPage(m));
  });
});

// refused.js asks why its page is refused.
chrome.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (!message || message.kind !== "why-refused" || sender.id !== chrome.runtime.id || !sender.tab) {
    return false;
  }
  refusal(senderOrigin(sender)).then(sendResponse);
  return true;
});
