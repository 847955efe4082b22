// What a page may do: the capabilities of its origin (the host's list narrowed by the managed
// policy) and the capabilities each request needs (the generated table). Pure functions and
// one small class, shared by the service worker and the tests.
import { CAPABILITIES, CLASS_NEEDS, MEMBER_NEEDS } from "./capabilities.js";
import { isServableOrigin } from "./origins.js";

const NAMES = CAPABILITIES.map((c) => c.name);

// The capability named `name`: {name, refusal, consent}, or undefined.
export function capability(name) {
  return CAPABILITIES.find((c) => c.name === name);
}

// Where the user's answer for `name` and `origin` is kept in storage.local.
const GRANT_PREFIX = "grant:";
export function grantKey(name, origin) {
  return `${GRANT_PREFIX}${name}:${origin}`;
}
// {capability, origin} of a storage key grantKey made, or null for any other key.
export function parseGrantKey(key) {
  if (typeof key !== "string" || !key.startsWith(GRANT_PREFIX)) {
    return null;
  }
  const rest = key.slice(GRANT_PREFIX.length);
  const colon = rest.indexOf(":");
  const name = rest.slice(0, colon);
  return colon > 0 && NAMES.includes(name) ? { capability: name, origin: rest.slice(colon + 1) }
                                           : null;
}

// A line of the managed list, "https://id.example.org read write" or a bare origin:
// {origin, capabilities} (capabilities null when the line names none: it does not narrow
// them), or null for a line that names no servable origin. Words the table does not know are
// dropped.
export function parseManagedEntry(text) {
  if (typeof text !== "string") {
    return null;
  }
  const [first, ...words] = text.trim().split(/\s+/);
  let origin;
  try {
    origin = new URL(first).origin;  // lower case, no default port, no trailing slash
  } catch {
    return null;
  }
  if (!isServableOrigin(origin)) {
    return null;
  }
  const known = words.map((w) => w.toLowerCase()).filter((w) => NAMES.includes(w));
  return { origin, capabilities: words.length === 0 ? null : known };
}

// {origins: [...], capabilities: {origin: [names]}}: the host's list (its answer to "policy"),
// narrowed by the managed list when the administrator set one. An origin stays only when both
// lists have it, with the capabilities both give it; an empty managed list allows nothing.
export function effectiveRights(hostAnswer, managedList) {
  const hostOrigins = Array.isArray(hostAnswer?.origins) ? hostAnswer.origins : [];
  const hostCapabilities = hostAnswer?.capabilities && typeof hostAnswer.capabilities === "object"
    ? hostAnswer.capabilities : {};
  let managed = null;
  if (Array.isArray(managedList)) {
    managed = new Map();
    for (const entry of managedList.map(parseManagedEntry).filter(Boolean)) {
      const before = managed.has(entry.origin) ? managed.get(entry.origin) : [];
      // Several lines for one origin add up, as on the host's list; a bare line allows all.
      managed.set(entry.origin, before === null || entry.capabilities === null
        ? null : [...before, ...entry.capabilities]);
    }
  }
  const origins = [];
  const capabilities = {};
  for (const origin of hostOrigins) {
    if (typeof origin !== "string" || !isServableOrigin(origin) || origins.includes(origin)) {
      continue;
    }
    if (managed && !managed.has(origin)) {
      continue;
    }
    const granted = Array.isArray(hostCapabilities[origin]) ? hostCapabilities[origin] : [];
    const narrowed = managed ? managed.get(origin) : null;
    origins.push(origin);
    capabilities[origin] = NAMES.filter((n) => granted.includes(n) &&
                                              (narrowed === null || narrowed.includes(n)));
  }
  return { origins, capabilities };
}

// What a member needs, the host's way: a method counts for every kind of request and every
// kind counts for a call, since an object may resolve a name given as one to the other.
function memberNeeds(type, name, op) {
  const rows = MEMBER_NEEDS[String(type).toLowerCase()];
  if (!rows) {
    return null;
  }
  const member = String(name).toLowerCase();
  const kinds = op === "call" ? ["method", "get", "put"] : ["method", op];
  const needs = new Set();
  let found = false;
  for (const kind of kinds) {
    const row = rows[`${kind} ${member}`];
    if (row) {
      found = true;
      row.forEach((n) => needs.add(n));
    }
  }
  return found ? NAMES.filter((n) => needs.has(n)) : null;
}

// The objects a page was handed, by handle, with their interface's name: what a call on a
// handle needs depends on the object's type.
export class HandleTypes {
  constructor() {
    this.types = new Map();
  }

  // Notes the object values in a result from the host (nested in arrays and objects too).
  note(value, depth = 0) {
    if (depth > 32 || value === null || typeof value !== "object") {
      return;
    }
    if (Array.isArray(value)) {
      value.forEach((v) => this.note(v, depth + 1));
      return;
    }
    if (Number.isInteger(value.$object) && typeof value.type === "string") {
      this.types.set(value.$object, value.type);
    }
    for (const v of Object.values(value)) {
      this.note(v, depth + 1);
    }
  }

  forget(handle) {
    this.types.delete(handle);
  }

  // What `request` needs: a list of capability names ([] for nothing), or null when it
  // names a handle this page was never handed (the host refuses it too).
  needsOf(request) {
    if (request.op === "create") {
      return CLASS_NEEDS[String(request.progId).toLowerCase()] || [];
    }
    if (request.op === "call" || request.op === "get" || request.op === "put") {
      if (!this.types.has(request.handle)) {
        return null;
      }
      return memberNeeds(this.types.get(request.handle), request.name, request.op) || [];
    }
    return [];
  }
}
