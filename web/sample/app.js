// The sample web application: readers, every block of the cards in them, the address
// written after the back-end answers the card's challenge, and a certificate enrolment on
// a PKCS#11 token. Everything goes through carvix.js as a page written for the scripting
// classes would, awaiting each call.
import * as carvix from "/carvix.js";

const $ = (id) => document.getElementById(id);

const VL_APP = 1;
const ZK_APP = 5;
const VL_BLOCKS = ["ReadVLDocumentData", "ReadVLFixedPersoData", "ReadVLVariablePersoData",
                   "ReadVLPhotoData"];
const ZK_BLOCKS = ["ReadZKDocumentData", "ReadZKFixedPersoData", "ReadZKVariablePersoData",
                   "ReadZKFixedAdminData", "ReadZKVariableAdminData"];
const AT_SIGNATURE = 2;

let docAdmin = null;
let readers = [];
// The running action's calls end when the user presses Stop (a CancelledError).
let stopping = new AbortController();
const callOptions = () => carvix.options({ signal: stopping.signal });

// What the page adds to an error by its class: the user's next step where the message
// itself is for a developer.
function advice(e) {
  if (e instanceof carvix.NoCardError) return "Insert the card and try again.";
  if (e instanceof carvix.CardRemovedError) return "Leave the card in the reader until the page is done.";
  if (e instanceof carvix.WrongCardError) return "This card cannot be used here.";
  if (e instanceof carvix.InUseError) return "Close the program that uses the card and try again.";
  if (e instanceof carvix.TimeoutError) return "It took too long; try again.";
  if (e instanceof carvix.ConsentRefusedError) return "Allow this site in the carvix-qx extension to go on.";
  if (e instanceof carvix.VersionMismatchError) return `Update needed: the ${e.part === "library" ? "site" : e.part}.`;
  return "";
}

function showError(e) {
  const text = e && e.hex ? `${e.message} (${e.hex})` : String((e && e.message) || e);
  $("error").textContent = text;
  document.body.dataset.error = e && e.hex ? e.hex : "error";
  document.body.dataset.errorClass = e instanceof carvix.CarvixError ? e.name : "Error";
  if (e instanceof carvix.CancelledError) {
    return;  // the user (or the page) stopped it: nothing to explain
  }
  // What the failure table says: its meaning and what to do next.
  const meaning = e && e.meaning
    ? `${e.meaning[0].toUpperCase()}${e.meaning.slice(1)}${e.nextStep ? `: ${e.nextStep}` : ""}.`
    : "";
  $("explanation").textContent = [meaning, advice(e)].filter((s) => s).join(" ");
}

function clearError() {
  $("error").textContent = "";
  $("explanation").textContent = "";
  delete document.body.dataset.error;
}

// Runs an action of a button, one at a time, showing its failure.
function action(id, f) {
  const element = $(id);
  const run = async (event) => {
    if (event) {
      event.preventDefault();
    }
    clearError();
    stopping = new AbortController();
    document.body.dataset.busy = id;
    try {
      await f();
    } catch (e) {
      showError(e);
    } finally {
      delete document.body.dataset.busy;
      document.body.dataset.done = (Number(document.body.dataset.done || 0) + 1).toString();
    }
  };
  element.addEventListener(element.tagName === "FORM" ? "submit" : "click", run);
}

async function service() {
  if (!docAdmin) {
    docAdmin = await carvix.createObject("CARVIX.DocAdmin");
  }
  return docAdmin;
}

// --- readers -----------------------------------------------------------------------------

async function listReaders() {
  const smartCard = await carvix.createObject("CARVIX.SmartCard");
  const list = await smartCard.ListReaders(callOptions());
  await smartCard.release();
  readers = Array.isArray(list) ? list : [];
  const ul = $("readers");
  ul.replaceChildren(...readers.map((name) => {
    const li = document.createElement("li");
    li.textContent = name;
    return li;
  }));
  $("address-reader").replaceChildren(...readers.map((name) => new Option(name, name)));
  return readers;
}

// --- blocks ------------------------------------------------------------------------------

function formatValue(value) {
  if (value instanceof Date) {
    return isNaN(value) ? "" : value.toLocaleDateString("en-GB");
  }
  if (value instanceof Uint8Array) {
    return `${value.length} bytes`;
  }
  if (Array.isArray(value)) {
    return value.map(formatValue).join("; ");
  }
  if (carvix.isObject(value)) {
    return JSON.stringify(Object.fromEntries(
      Object.entries(value.$snapshot()).map(([k, v]) => [k, formatValue(v)])));
  }
  return value === null || value === undefined ? "" : String(value);
}

// Every readable property of a block: those of the snapshot, and the others read one by one.
async function blockValues(block) {
  const values = block.$snapshot();
  for (const [name, access] of Object.entries(block.$properties)) {
    if (access.get && !(name in values)) {
      try {
        values[name] = await block.$get(name);
      } catch (e) {
        values[name] = `(${e.message})`;
      }
    }
  }
  return values;
}

function base64Bytes(text) {
  const raw = atob(text);
  return Uint8Array.from(raw, (c) => c.charCodeAt(0));
}

function renderBlock(title, values) {
  const div = document.createElement("div");
  div.className = "block";
  div.dataset.block = title;
  const h = document.createElement("h4");
  h.textContent = title;
  const table = document.createElement("table");
  for (const [name, value] of Object.entries(values)) {
    const tr = table.insertRow();
    tr.dataset.field = name;
    tr.insertCell().textContent = name;
    const cell = tr.insertCell();
    if (name === "Photo" && (typeof value === "string" || value instanceof Uint8Array)) {
      // The photo block gives its JPEG as Base64 text.
      const bytes = typeof value === "string" ? base64Bytes(value) : value;
      const img = document.createElement("img");
      img.className = "photo";
      img.id = "photo";
      img.alt = "Photo from the card";
      img.src = URL.createObjectURL(new Blob([bytes], { type: "image/jpeg" }));
      cell.append(img);
    } else {
      cell.textContent = formatValue(value);
    }
  }
  div.append(h, table);
  return div;
}

// Reads one card: the VL application first, the ZK one when the card has no VL document.
async function readCard(reader) {
  const admin = await service();
  let app = VL_APP;
  let methods = VL_BLOCKS;
  let first;
  try {
    first = await admin.ReadVLDocumentData(reader, VL_APP, callOptions());
  } catch (e) {
    // Only a card that is not a VL card is tried as a ZK card.
    if (!(e instanceof carvix.CardRefusedError || e instanceof carvix.WrongCardError)) {
      throw e;
    }
    app = ZK_APP;
    methods = ZK_BLOCKS;
    first = await admin.ReadZKDocumentData(reader, ZK_APP, callOptions());
  }
  const card = document.createElement("div");
  card.className = "card";
  card.dataset.reader = reader;
  card.dataset.app = String(app);
  const h = document.createElement("h3");
  h.textContent = `${reader} (application ${app})`;
  card.append(h);
  for (const method of methods) {
    const block = method === methods[0] ? first : await admin[method](reader, app, callOptions());
    card.append(renderBlock(method.replace(/^Read|Data$/g, ""), await blockValues(block)));
    await block.release();
  }
  return card;
}

async function readAll() {
  if (readers.length === 0) {
    await listReaders();
  }
  const cards = [];
  for (const reader of readers) {
    try {
      cards.push(await readCard(reader));
    } catch (e) {
      if (!(e instanceof carvix.NoCardError || e instanceof carvix.CardRemovedError)) {
        throw e;
      }
    }
  }
  $("cards").replaceChildren(...cards);
}

// --- the address -------------------------------------------------------------------------

async function backEnd(path, body) {
  const reply = await fetch(path, {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body),
  });
  const answer = await reply.json();
  if (!reply.ok) {
    throw new Error(`The back-end refused: ${answer.error}`);
  }
  return answer;
}

async function writeAddress() {
  const reader = $("address-reader").value || readers[0];
  const admin = await service();
  const block = await admin.ReadZKVariablePersoData(reader, ZK_APP);
  await block.$put("Street", $("street").value);
  await block.$put("StreetLatin", $("street").value);
  await block.$put("Number", $("number").value);
  await block.$put("Apartment", $("apartment").value);

  const auth = await carvix.createObject("CARVIX.Auth");
  await auth.Init(reader, ZK_APP);
  const challenge = await auth.GetChallenge();
  const { response } = await backEnd("/api/respond", { challenge });
  await auth.ExternalAuthenticate(1, response);
  await admin.WriteZKVariablePersoData(auth, block, "");
  await auth.Logout(1);
  await auth.release();
  await block.release();

  const check = await admin.ReadZKVariablePersoData(reader, ZK_APP);
  $("address-result").textContent =
    `Written and read back: ${check.Street} ${check.Number}, apartment ${check.Apartment}`;
  await check.release();
}

// --- PKI enrolment -----------------------------------------------------------------------

function step(text) {
  const li = document.createElement("li");
  li.textContent = text;
  $("enrolment").append(li);
}

async function enrol() {
  $("enrolment").replaceChildren();
  const token = $("token").value;
  const container = `\\\\.\\${token}\\${$("container").value}`;
  const pki = await carvix.createObject("CARVIX.PKI");
  await pki.GenerateKeyPair(container, AT_SIGNATURE, 2048 * 65536);
  step("Key pair generated on the token");
  const request = await pki.CreateCertificateRequest(container, AT_SIGNATURE,
                                                     $("common-name").value, true);
  step(`Certificate request made (${request.length} characters)`);
  const issued = await backEnd("/api/issue", { request });
  step(`Certificate issued: ${issued.subject}`);
  await pki.ImportCertificate(container, AT_SIGNATURE, issued.certificate);
  step("Certificate imported on the token");
  const selected = await pki.SelectSigningCertificate(token);
  step(`Signing certificate selected (${atob(selected).length} bytes)`);
  await pki.release();
  document.body.dataset.enrolled = "yes";
}

// --- start -------------------------------------------------------------------------------

action("list-readers", listReaders);
action("read-all", readAll);
action("address", writeAddress);
action("enrol", enrol);
$("stop").addEventListener("click", () => stopping.abort("Stopped by the user."));

fetch("/api/config").then((r) => r.json()).then((c) => {
  if (c.token) {
    $("token").value = c.token;
  }
}).catch(() => {});

carvix.available().then((a) => {
  $("status").textContent = a.ok
    ? `carvix-qx is ready (${a.version.host}, module ${a.version.module}).`
    : a.message;
  document.body.dataset.available = a.ok ? "yes" : "no";
});
