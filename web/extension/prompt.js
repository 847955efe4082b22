// The extension's own window for the consent question and the host's prompts: the warning
// notice, the reader and certificate choices and the PIN. The PIN goes to the service
// worker once and is not kept here: the field is cleared as soon as it is sent.
const key = Number(new URLSearchParams(location.search).get("key"));
const $ = (id) => document.getElementById(id);

function answer(value) {
  chrome.runtime.sendMessage({ kind: "answer", key, value }).finally(() => window.close());
}

function choice(items, label, selected) {
  const list = $("choices");
  items.forEach((item, i) => {
    const li = document.createElement("li");
    const input = document.createElement("input");
    input.type = "radio";
    input.name = "choice";
    input.id = "choice-" + i;
    input.value = String(i);
    input.checked = i === selected;
    const text = document.createElement("label");
    text.htmlFor = input.id;
    text.textContent = label(item);
    li.append(input, text);
    list.append(li);
  });
  return () => {
    const checked = document.querySelector("input[name=choice]:checked");
    return checked ? Number(checked.value) : null;
  };
}

// What the user should know before typing a PIN: the last one was wrong, tries run out.
function pinNotes(details) {
  const state = Array.isArray(details.state) ? details.state : [];
  const notes = [];
  if (state.includes("was-wrong")) {
    notes.push("The PIN was wrong.");
  }
  if (state.includes("final-try")) {
    notes.push("Final try: one more wrong PIN locks the token.");
  } else if (Number.isInteger(details.triesLeft)) {
    notes.push(`${details.triesLeft} tries left.`);
  } else if (state.includes("count-low")) {
    notes.push("A wrong PIN was entered since the last right one.");
  }
  return notes;
}

function show(details) {
  if (!details) {
    window.close();
    return;
  }
  document.body.dataset.kind = details.kind;
  $("origin").textContent = details.origin || "";
  let result = () => true;
  switch (details.kind) {
    case "consent":
      $("title").textContent = "Use of your identity card";
      // One question per capability, in words from the capability table.
      $("text").textContent = details.text || "";
      $("origin").textContent = "";
      $("ok").textContent = "Allow";
      $("cancel").textContent = "Don't allow";
      $("cancel").onclick = () => answer(false);
      break;
    case "notice":
      $("title").textContent = details.caption || "carvix-qx";
      $("text").textContent = details.text || "";
      $("cancel").hidden = true;
      break;
    case "reader":
      $("title").textContent = details.title || "Choose a reader";
      if (!details.readers || details.readers.length === 0) {
        $("text").textContent = "No reader holds a card. Insert the card and choose OK to wait for it.";
        result = () => 0;
      } else {
        result = choice(details.readers, (r) => r.name, 0);
      }
      break;
    case "waiting":
      $("title").textContent = "Waiting for the card";
      $("text").textContent = "Insert the card in a reader. Cancel stops waiting.";
      $("ok").hidden = true;
      break;
    case "certificate": {
      $("title").textContent = details.title || "Choose a certificate";
      $("text").textContent = details.text || "";
      const certs = details.certificates || [];
      const selected = Math.max(0, certs.findIndex((c) => c.selected));
      result = choice(certs, (c) => `${c.subject} (issued by ${c.issuer}, valid until ${c.notAfter})`,
                      selected);
      break;
    }
    case "pin":
      $("title").textContent = "PIN";
      $("token").textContent = details.token || "the token";
      $("text").textContent = pinNotes(details).join(" ");
      $("pin-form").hidden = false;
      $("pin").focus();
      result = () => {
        const pin = $("pin").value;
        $("pin").value = "";
        return pin;
      };
      $("pin-form").onsubmit = (e) => {
        e.preventDefault();
        answer(result());
      };
      break;
    default:
      window.close();
      return;
  }
  $("ok").onclick = () => answer(result());
  if (!$("cancel").onclick) {
    $("cancel").onclick = () => answer(null);
  }
}

chrome.runtime.sendMessage({ kind: "details", key }).then(show, () => window.close());
