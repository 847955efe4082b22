// The extension's side of the version rule: a page library of another protocol major
// version, or of a newer minor one than this extension speaks, is refused with the part to
// update; a hello passed on to the host carries this extension's version and protocol.
import { PROTOCOL, VERSION } from "./version.js";

const ERROR_REVISION_MISMATCH = 0x8007051a;

function parseProtocol(text) {
  const m = /^(\d+)\.(\d+)$/.exec(typeof text === "string" ? text : "");
  return m ? [Number(m[1]), Number(m[2])] : null;
}

function mismatch(part, message) {
  return { hresult: ERROR_REVISION_MISMATCH, hex: "0x8007051A", situation: "VersionMismatch",
           part, message };
}

// The error for a page's hello, or null when this extension can serve its library. A library
// from before versions were exchanged sends none: protocol 1.0.
export function pageVersionProblem(hello) {
  const [major, minor] = parseProtocol(PROTOCOL);
  const page = parseProtocol(hello && hello.protocol) || [1, 0];
  const pageText = `${page[0]}.${page[1]}` +
                   (hello && typeof hello.library === "string" ? ` (carvix.js ${hello.library})` : "");
  if (page[0] < major) {
    return mismatch("library", `Update the page library (carvix.js) of this site: it speaks ` +
                    `protocol ${pageText}, the carvix-qx browser extension ${VERSION} speaks ` +
                    `${PROTOCOL}.`);
  }
  if (page[0] > major || page[1] > minor) {
    return mismatch("extension", `Update the carvix-qx browser extension: it is version ` +
                    `${VERSION} and speaks protocol ${PROTOCOL}, this page needs ${pageText}.`);
  }
  return null;
}

// The hello as the host gets it: the page's fields and this extension's.
export function helloToHost(hello) {
  return { ...hello, extension: VERSION, extensionProtocol: PROTOCOL };
}
