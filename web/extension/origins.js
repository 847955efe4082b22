// Which origins the bridge can serve and the match patterns of their pages. Pure functions,
// shared by the service worker and the tests.

// An origin the bridge can ever allow: https, or http on the local machine (development).
export function isServableOrigin(origin) {
  let url;
  try {
    url = new URL(origin);
  } catch {
    return false;
  }
  if (url.origin !== origin) {
    return false;  // a path, a trailing slash, user info: not an origin
  }
  if (url.protocol === "https:") {
    return true;
  }
  return url.protocol === "http:" && (url.hostname === "localhost" || url.hostname === "127.0.0.1");
}

// The match pattern that covers the pages of `origin`: exactly them where patterns may name a
// port (Chromium); where they may not (Firefox), every port of the origin's host, and the
// worker's check of each port's exact origin keeps the others out.
export function matchPattern(origin, portsInPatterns = true) {
  if (portsInPatterns) {
    return origin + "/*";
  }
  const url = new URL(origin);
  return `${url.protocol}//${url.hostname}/*`;
}
