// The bridge's content script, on allowed pages only: passes carvix.js's requests from the
// page to the service worker and the answers back. It adds nothing and trusts nothing: the
// service worker learns the page's origin from the browser.
(() => {
  const TO_EXTENSION = "carvix:page->extension";
  const TO_PAGE = "carvix:extension->page";
  let port = null;

  function toPage(message) {
    window.postMessage({ channel: TO_PAGE, message }, window.location.origin);
  }

  function connect() {
    port = chrome.runtime.connect({ name: "carvix-page" });
    port.onMessage.addListener(toPage);
    port.onDisconnect.addListener(() => {
      port = null;
      toPage({ event: "disconnected" });
    });
  }

  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.channel !== TO_EXTENSION) {
      return;
    }
    const message = event.data.message;
    if (message && message.op === "ping") {
      toPage({ event: "pong", id: message.id, allowed: true });
      return;
    }
    if (!port) {
      connect();
    }
    port.postMessage(message);
  });
  toPage({ event: "ready", allowed: true });
})();
