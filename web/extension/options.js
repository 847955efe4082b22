// The options page: the user's remembered answers, one row per origin and capability, each
// with a button that withdraws it (the page is asked again the next time it needs it).
import { capability, parseGrantKey } from "./rights.js";

const $ = (id) => document.getElementById(id);

async function show() {
  const stored = await chrome.storage.local.get(null);
  const rows = Object.entries(stored)
    .map(([key, value]) => ({ key, value, grant: parseGrantKey(key) }))
    .filter((r) => r.grant && typeof r.value === "boolean")
    .sort((a, b) => a.grant.origin.localeCompare(b.grant.origin) ||
                    a.grant.capability.localeCompare(b.grant.capability));
  const body = $("grants").tBodies[0];
  body.replaceChildren();
  for (const { key, value, grant } of rows) {
    const tr = document.createElement("tr");
    tr.dataset.origin = grant.origin;
    tr.dataset.capability = grant.capability;
    const cells = [grant.origin, capability(grant.capability).consent.replace(/^wants to |\.$/g, ""),
                   value ? "Allowed" : "Not allowed"];
    for (const text of cells) {
      const td = document.createElement("td");
      td.textContent = text;
      tr.append(td);
    }
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = "Withdraw";
    button.className = "withdraw";
    button.onclick = () => chrome.storage.local.remove(key);
    const td = document.createElement("td");
    td.append(button);
    tr.append(td);
    body.append(tr);
  }
  $("grants").hidden = rows.length === 0;
  $("none").hidden = rows.length > 0;
  document.body.dataset.shown = String(rows.length);
}

chrome.storage.onChanged.addListener((changes, area) => {
  if (area === "local") {
    show();
  }
});
show();
