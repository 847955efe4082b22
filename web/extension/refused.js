// On every page outside the allow-list: answers carvix.js with the reason it is refused,
// so the page can say so; it opens no port and starts no host.
(() => {
  const TO_EXTENSION = "carvix:page->extension";
  const TO_PAGE = "carvix:extension->page";
  let reason = null;

  function toPage(message) {
    window.postMessage({ channel: TO_PAGE, message }, window.location.origin);
  }

  async function why() {
    if (!reason) {
      reason = chrome.runtime.sendMessage({ kind: "why-refused" });
    }
    return reason;
  }

  window.addEventListener("message", async (event) => {
    if (event.source !== window || !event.data || event.data.channel !== TO_EXTENSION) {
      return;
    }
    const message = event.data.message || {};
    const error = await why();
    if (message.op === "ping") {
      toPage({ event: "pong", id: message.id, allowed: false, error });
      return;
    }
    toPage({ id: Number.isInteger(message.id) ? message.id : null, ok: false, error });
  });
})();
