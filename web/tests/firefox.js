// Debian's Firefox ESR driven over WebDriver BiDi by puppeteer-core, behind the small part of
// Playwright's page and context API the browser tests use, so that the same cases run in
// both browsers. The extension is installed as a temporary add-on; the host is found
// through the manifest under the test's own HOME (~/.mozilla/native-messaging-hosts).
import puppeteer from "puppeteer-core";

export const firefoxPath = process.env.CARVIX_FIREFOX || "/usr/bin/firefox-esr";

// A Playwright-like locator: a chain of CSS selectors, optionally the nth match.
class Locator {
  constructor(page, selector, index = null) {
    this.page = page;
    this.selector = selector;
    this.index = index;
  }

  locator(selector) {
    return new Locator(this.page, `${this.selector} ${selector}`);
  }

  nth(index) {
    return new Locator(this.page, this.selector, index);
  }

  count() {
    return this.page.raw.$$eval(this.selector, (els) => els.length);
  }

  textContent() {
    return this.page.raw.$$eval(this.selector, (els, i) => {
      const el = els[i];
      if (!el) {
        throw new Error("no such element");
      }
      return el.textContent;
    }, this.index ?? 0);
  }
}

class Page {
  constructor(raw) {
    this.raw = raw;
    this.closed = false;
    raw.once("close", () => { this.closed = true; });
  }

  // A window the extension opens is reported as about:blank over BiDi; the document knows
  // where it is.
  url() { return this.href || this.raw.url(); }
  isClosed() { return this.closed || this.raw.isClosed(); }
  async goto(url) { await this.raw.goto(url, { waitUntil: "load" }); }
  async reload() { await this.raw.reload({ waitUntil: "load" }); }
  async close() { if (!this.isClosed()) await this.raw.close(); }
  async waitForSelector(selector, { timeout = 30000 } = {}) {
    return this.raw.waitForSelector(selector, { timeout });
  }
  evaluate(fn, arg) { return this.raw.evaluate(fn, arg); }
  waitForFunction(fn, arg, { timeout = 30000 } = {}) {
    return this.raw.waitForFunction(fn, { timeout, polling: 50 }, arg);
  }
  getAttribute(selector, name) {
    return this.raw.$eval(selector, (el, n) => el.getAttribute(n), name);
  }
  textContent(selector) { return this.raw.$eval(selector, (el) => el.textContent); }
  $eval(selector, fn, arg) { return this.raw.$eval(selector, fn, arg); }
  $$eval(selector, fn, arg) { return this.raw.$$eval(selector, fn, arg); }
  locator(selector) { return new Locator(this, selector); }
  async click(selector) {
    await this.raw.waitForSelector(selector, { timeout: 10000 });
    await this.raw.$eval(selector, (el) => el.click());
  }
  async check(selector) {
    await this.raw.$eval(selector, (el) => {
      el.checked = true;
      el.dispatchEvent(new Event("change", { bubbles: true }));
    });
  }
  async fill(selector, value) {
    await this.raw.waitForSelector(selector, { timeout: 10000 });
    await this.raw.$eval(selector, (el, v) => {
      el.value = v;
      el.dispatchEvent(new Event("input", { bubbles: true }));
      el.dispatchEvent(new Event("change", { bubbles: true }));
    }, value);
  }
  async selectOption(selector, value) { await this.raw.select(selector, value); }
}

// The browser with its pages, as Playwright's persistent context.
class Context {
  constructor(browser) {
    this.browser = browser;
    this.wrapped = new Map();
    // A window the extension closes itself sends no "close" to its page.
    browser.on("targetdestroyed", (target) => {
      for (const [raw, page] of this.wrapped) {
        try {
          if (raw.target() === target) {
            page.closed = true;
          }
        } catch {
          page.closed = true;  // its target is gone already
        }
      }
    });
  }

  wrap(raw) {
    let page = this.wrapped.get(raw);
    if (!page) {
      page = new Page(raw);
      this.wrapped.set(raw, page);
    }
    return page;
  }

  async newPage() {
    const page = this.wrap(await this.browser.newPage());
    page.claimed = true;
    return page;
  }

  // The open pages, as a promise (await works on Playwright's array as well).
  async pages() {
    const open = [];
    for (const raw of await this.browser.pages()) {
      const page = this.wrap(raw);
      try {
        page.href = await raw.evaluate(() => location.href);
        open.push(page);
      } catch {
        // closed meanwhile
      }
    }
    return open;
  }

  // Only "page": a page not handed out before that `predicate` accepts (a tab, or a window
  // of the extension's own).
  async waitForEvent(event, { predicate = () => true, timeout = 30000 } = {}) {
    if (event !== "page") {
      throw new Error(`waitForEvent(${event}) is not offered for Firefox`);
    }
    const end = Date.now() + timeout;
    while (Date.now() < end) {
      for (const raw of await this.browser.pages()) {
        const page = this.wrap(raw);
        if (page.claimed || page.isClosed()) {
          continue;
        }
        try {
          page.href = await raw.evaluate(() => location.href);
        } catch {
          continue;  // still loading or gone
        }
        if (predicate(page)) {
          page.claimed = true;
          return page;
        }
      }
      await new Promise((r) => setTimeout(r, 100));
    }
    throw new Error(`timed out waiting for a page (${timeout} ms)`);
  }

  async close() { await this.browser.close(); }
}

// Starts Firefox with `extensionDir` as a temporary add-on; `env` reaches every host the
// browser starts. Resolves with a context.
export async function launchFirefox({ profileDir, env, extensionDir = null }) {
  const browser = await puppeteer.launch({
    browser: "firefox",
    executablePath: firefoxPath,
    headless: true,
    userDataDir: profileDir,
    dumpio: process.env.CARVIX_TEST_DUMPIO === "1",  // the browser's and the hosts' stderr
    env,
    timeout: 60000,
    // Nothing that reaches out to the network on its own.
    extraPrefsFirefox: {
      "app.update.enabled": false,
      "browser.shell.checkDefaultBrowser": false,
      "datareporting.policy.dataSubmissionEnabled": false,
      "extensions.getAddons.cache.enabled": false,
      "network.captive-portal-service.enabled": false,
    },
  });
  const context = new Context(browser);
  for (const raw of await browser.pages()) {
    context.wrap(raw);
  }
  if (extensionDir) {
    context.addonId = await browser.installExtension(extensionDir);
  }
  return context;
}
