// The errors the extension itself answers with, in the host's response form, named from the
// failure table.
import { Failures, explain } from "./failures.js";

const E_ACCESSDENIED = Failures.AccessDenied;
const E_INVALIDARG = Failures.InvalidArgument;
const ERROR_CANCELLED = Failures.OperationCancelled;
// The host could not be started or ended unexpectedly (ERROR_PIPE_NOT_CONNECTED and
// ERROR_FILE_NOT_FOUND as HRESULTs).
const HOST_ENDED = Failures.Disconnected;
const HOST_MISSING = Failures.FileNotFound;
// A handle that names no object of the page (ERROR_INVALID_HANDLE), as the host answers it.
const E_HANDLE = 0x80070006;

// `situation` names the page's error class where the HRESULT alone does not (a refused
// consent shares ERROR_CANCELLED with a cancelled call, a missing host ERROR_FILE_NOT_FOUND
// with any missing file).
function error(hresult, message, situation) {
  const e = { hresult, hex: "0x" + hresult.toString(16).toUpperCase().padStart(8, "0"), message };
  if (situation) {
    e.situation = situation;
  }
  return e;
}

// An error of the host or the extension with the failure table's name, meaning and next step
// (fields the page's carvix.js also finds on its own; other extensions' pages read them here).
export function explained(err) {
  if (!err || typeof err !== "object" || err.failure !== undefined) {
    return err;
  }
  const known = explain(err.hresult);
  return known ? { ...err, failure: known.name, meaning: known.meaning, nextStep: known.nextStep }
               : err;
}

export const Errors = {
  notAllowed: (origin) =>
    error(E_ACCESSDENIED, `The page ${origin} is not allowed to use carvix-qx.`),
  // `capability` is {name, refusal} from the capability table.
  notGranted: (origin, capability) =>
    error(E_ACCESSDENIED, `The page ${origin} is not allowed to ${capability.refusal} ` +
                          `(capability "${capability.name}").`),
  noConsent: (origin, capability) =>
    error(ERROR_CANCELLED, `The user did not allow ${origin} to ${capability.refusal} ` +
                           `(capability "${capability.name}").`, "ConsentRefused"),
  noSuchHandle: () =>
    error(E_HANDLE, "The request names no object of this page (\"handle\")."),
  badRequest: () => error(E_INVALIDARG, "The page sent a request the extension does not pass on."),
  // The host cannot be started: no manifest for this browser ("not found", "No such native
  // application"), or one whose program is missing or fails at once. Both tell the user
  // what `carvix doctor` would.
  hostMissing: (why) =>
    error(HOST_MISSING,
          (/not found|no such native application/i.test(why || "")
            ? "The carvix-qx host (carvix-bridge) is not installed for this browser; run " +
              "`carvix register --browser` (or install the carvix-qx package)."
            : "The carvix-qx host (carvix-bridge) is registered for this browser but does not " +
              "start; register it again with `carvix register --browser`.") +
          " `carvix doctor` names every missing piece and its fix." + (why ? ` (${why})` : ""),
          "HostMissing"),
  hostEnded: (why) =>
    error(HOST_ENDED, "The carvix-qx host ended unexpectedly; the page's objects are gone." +
                      (why ? ` (${why})` : "")),
};

export function errorResponse(id, err) {
  return { id, ok: false, error: explained(err) };
}
