// carvix.js: the scripting classes of carvix-qx for web pages, through the carvix-qx
// browser extension and its native host.
//
//   import * as carvix from "./carvix.js";
//   const docAdmin = await carvix.createObject("CARVIX.DocAdmin");
//   const block = await docAdmin.ReadVLDocumentData(reader, 1);
//   block.CardID;                       // read from the snapshot that came with the block
//   await docAdmin.SomeProperty;        // a property get is one round trip, awaited
//   block.Street = "Main Street";       // a put is sent at once; await block.$put(...) to
//                                       // learn its outcome where it matters
//   block.release();                    // or let the page go: the host releases everything
//
// Every failure is a CarvixError (an Error) with `hresult` (a number), `hex` and the text.

const TO_EXTENSION = "carvix:page->extension";
const TO_PAGE = "carvix:extension->page";

// HRESULTs of failures that never reach the host.
export const E_EXTENSION_MISSING = 0x80040154;  // REGDB_E_CLASSNOTREG: nothing answers
const E_INVALIDARG = 0x80070057;
const E_DISCONNECTED = 0x800700e9;

export class CarvixError extends Error {
  constructor(error) {
    const hresult = Number(error && error.hresult) >>> 0;
    super((error && error.message) || "carvix-qx failed");
    this.name = "CarvixError";
    this.hresult = hresult;
    this.hex = "0x" + hresult.toString(16).toUpperCase().padStart(8, "0");
  }
}

function extensionMissing() {
  return new CarvixError({
    hresult: E_EXTENSION_MISSING,
    message: "The carvix-qx browser extension is not installed or not enabled in this browser.",
  });
}

// --- the channel to the content script --------------------------------------------------

let nextId = 1;
const waiting = new Map();  // id -> {resolve, reject}
let listening = false;
let disconnected = null;

function listen() {
  if (listening) {
    return;
  }
  listening = true;
  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.channel !== TO_PAGE) {
      return;
    }
    const m = event.data.message;
    if (!m) {
      return;
    }
    if (m.event === "disconnected") {
      disconnected = new CarvixError({
        hresult: E_DISCONNECTED,
        message: "The carvix-qx extension dropped this page's connection; reload the page.",
      });
      for (const entry of waiting.values()) {
        entry.reject(disconnected);
      }
      waiting.clear();
      return;
    }
    const entry = waiting.get(m.id);
    if (!entry) {
      return;
    }
    waiting.delete(m.id);
    entry.resolve(m);
  });
}

function post(message) {
  listen();
  window.postMessage({ channel: TO_EXTENSION, message }, window.location.origin);
}

// Sends `message` and resolves with the raw answer. Only ping has a time limit: a call may
// wait for the user as long as a prompt is open.
function exchange(message, timeoutMs) {
  const id = nextId++;
  return new Promise((resolve, reject) => {
    waiting.set(id, { resolve, reject });
    if (timeoutMs !== undefined) {
      setTimeout(() => {
        if (waiting.delete(id)) {
          reject(extensionMissing());
        }
      }, timeoutMs);
    }
    post({ ...message, id });
  });
}

async function request(message) {
  if (disconnected) {
    throw disconnected;
  }
  const answer = await exchange(message);
  if (!answer.ok) {
    throw new CarvixError(answer.error);
  }
  return answer.result;
}

// --- values -----------------------------------------------------------------------------

const handles = new WeakMap();  // proxy -> handle

function base64ToBytes(text) {
  const raw = atob(text);
  const bytes = new Uint8Array(raw.length);
  for (let i = 0; i < raw.length; i++) {
    bytes[i] = raw.charCodeAt(i);
  }
  return bytes;
}

function bytesToBase64(bytes) {
  let raw = "";
  for (let i = 0; i < bytes.length; i += 0x8000) {
    raw += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(raw);
}

const pad = (n, w = 2) => String(n).padStart(w, "0");

// A DATE travels as local wall-clock time without a zone, as the VARIANT holds it.
function dateToText(d) {
  return `${pad(d.getFullYear(), 4)}-${pad(d.getMonth() + 1)}-${pad(d.getDate())}T` +
         `${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}`;
}

function textToDate(text) {
  const m = /^(\d{4})-(\d{2})-(\d{2})(?:T(\d{2}):(\d{2}):(\d{2}))?/.exec(text);
  if (!m) {
    return new Date(NaN);
  }
  const d = new Date(0);
  d.setFullYear(Number(m[1]), Number(m[2]) - 1, Number(m[3]));
  d.setHours(Number(m[4] || 0), Number(m[5] || 0), Number(m[6] || 0), 0);
  return d;
}

export function decode(value) {
  if (Array.isArray(value)) {
    return value.map(decode);
  }
  if (value === null || typeof value !== "object") {
    return value;
  }
  if ("$bytes" in value) {
    return base64ToBytes(value.$bytes);
  }
  if ("$date" in value) {
    return textToDate(value.$date);
  }
  if ("$int64" in value) {
    return BigInt(value.$int64);
  }
  if ("$error" in value) {
    return { error: value.$error >>> 0 };
  }
  if ("$object" in value) {
    return makeObject(value);
  }
  return value;
}

export function encode(value) {
  if (value === undefined || value === null) {
    return null;
  }
  if (handles.has(value)) {
    return { $object: handles.get(value) };
  }
  if (value instanceof Uint8Array) {
    return { $bytes: bytesToBase64(value) };
  }
  if (value instanceof ArrayBuffer) {
    return { $bytes: bytesToBase64(new Uint8Array(value)) };
  }
  if (value instanceof Date) {
    return { $date: dateToText(value) };
  }
  if (typeof value === "bigint") {
    return { $int64: value.toString() };
  }
  if (Array.isArray(value)) {
    return value.map(encode);
  }
  if (typeof value === "object") {
    throw new CarvixError({ hresult: E_INVALIDARG,
                            message: "Only carvix objects, bytes, dates, arrays and plain " +
                                     "values can be passed to the card." });
  }
  return value;
}

// --- objects ----------------------------------------------------------------------------

// The proxy for an object value: members by name, as the class defines them.
function makeObject(value) {
  const handle = value.$object;
  const methods = new Set(value.methods || []);
  const properties = value.properties || {};
  const snapshot = new Map();
  for (const [name, v] of Object.entries(value.snapshot || {})) {
    snapshot.set(name, decode(v));
  }
  let released = false;

  const get = async (name, ...args) => {
    const result = decode(await request({ op: "get", handle, name, args: args.map(encode) }));
    if (args.length === 0 && snapshot.has(name)) {
      snapshot.set(name, result);
    }
    return result;
  };
  const put = async (name, v) => {
    await request({ op: "put", handle, name, value: encode(v) });
    if (snapshot.has(name)) {
      snapshot.set(name, v);
    }
  };
  const release = async () => {
    if (!released) {
      released = true;
      await request({ op: "release", handle });
    }
  };
  // A put through assignment cannot be awaited; its failure is kept and thrown by the next
  // request made through this object (requests run in order on the host).
  let failedPut = null;
  const checked = (f) => async (...args) => {
    if (failedPut) {
      const e = failedPut;
      failedPut = null;
      throw e;
    }
    return f(...args);
  };

  const own = {
    $handle: handle,
    $type: value.type,
    $methods: [...methods],
    $properties: { ...properties },
    $snapshot: () => Object.fromEntries(snapshot),
    $get: checked(get),
    $put: checked(put),
    $release: release,
  };

  const target = Object.create(null);
  const proxy = new Proxy(target, {
    get(_, name) {
      if (typeof name !== "string") {
        return undefined;
      }
      if (name in own) {
        return own[name];
      }
      if (methods.has(name)) {
        return checked(async (...args) =>
          decode(await request({ op: "call", handle, name, args: args.map(encode) })));
      }
      if (snapshot.has(name)) {
        return snapshot.get(name);
      }
      if (name in properties) {
        return checked(get)(name);  // awaitable
      }
      if (name === "release") {
        return release;
      }
      if (name === "then") {
        return undefined;  // a proxy is not itself a promise
      }
      return undefined;
    },
    set(_, name, v) {
      if (typeof name !== "string" || !(name in properties) || !properties[name].put) {
        throw new CarvixError({ hresult: 0x80020003, message: `${value.type} has no property ${String(name)} that can be set.` });
      }
      if (snapshot.has(name)) {
        snapshot.set(name, v);
      }
      request({ op: "put", handle, name, value: encode(v) }).catch((e) => { failedPut = e; });
      return true;
    },
    has(_, name) {
      return methods.has(name) || name in properties || name in own;
    },
    ownKeys() {
      return [...snapshot.keys()];
    },
    getOwnPropertyDescriptor(_, name) {
      return snapshot.has(name)
        ? { value: snapshot.get(name), enumerable: true, configurable: true, writable: true }
        : undefined;
    },
  });
  handles.set(proxy, handle);
  return proxy;
}

// --- the public functions ---------------------------------------------------------------

/// Creates an object of the module by ProgID ("CARVIX.DocAdmin", ...).
export async function createObject(progId) {
  return decode(await request({ op: "create", progId }));
}

/// Whether the page can use carvix-qx: {ok, extension, allowed, host, version, hresult,
/// message}. Tells a missing extension, a refused page, a missing host and a refused
/// consent apart with a message for the user.
export async function available({ timeoutMs = 1500 } = {}) {
  let pong;
  try {
    pong = await exchange({ op: "ping" }, timeoutMs);
  } catch (e) {
    return { ok: false, extension: false, allowed: false, host: false,
             hresult: e.hresult, message: e.message };
  }
  if (!pong.allowed) {
    const e = new CarvixError(pong.error);
    return { ok: false, extension: true, allowed: false, host: e.hresult !== 0x80070002,
             hresult: e.hresult, message: e.message };
  }
  try {
    const hello = await request({ op: "hello" });
    return { ok: true, extension: true, allowed: true, host: true, version: hello,
             hresult: 0, message: "" };
  } catch (e) {
    const host = e.hresult !== 0x80070002;
    return { ok: false, extension: true, allowed: true, host, hresult: e.hresult,
             message: e.message };
  }
}

/// Tells whether `value` is an object of the module.
export function isObject(value) {
  return handles.has(value);
}
