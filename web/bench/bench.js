// The benchmark page: a call's round trip (page -> host -> module -> page, a property get
// that touches no card) and a full read of both sample cards, timed in the page.
import * as carvix from "/carvix.js";

const VL = ["ReadVLDocumentData", "ReadVLFixedPersoData", "ReadVLVariablePersoData",
            "ReadVLPhotoData"];
const ZK = ["ReadZKDocumentData", "ReadZKFixedPersoData", "ReadZKVariablePersoData",
            "ReadZKFixedAdminData", "ReadZKVariableAdminData"];

const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// Reads every block of one card and every property of each, as `carvix read all` does.
// Releases are not awaited one by one: the host runs requests in order, so they overlap
// with the next read's trip; fullRead awaits them all before it stops the clock.
async function readCard(admin, reader, app, methods, releases) {
  let fields = 0;
  for (const method of methods) {
    const block = await admin[method](reader, app);
    const values = block.$snapshot();
    for (const [name, access] of Object.entries(block.$properties)) {
      if (access.get && !(name in values)) {
        values[name] = await block.$get(name);
      }
    }
    fields += Object.keys(values).length;
    releases.push(block.release());
  }
  return fields;
}

// One full read of both cards, from creating the service to the last block released.
export async function fullRead(vlReader, zkReader) {
  const start = performance.now();
  const admin = await carvix.createObject("CARVIX.DocAdmin");
  const releases = [];
  const fields = await readCard(admin, vlReader, 1, VL, releases) +
                 await readCard(admin, zkReader, 5, ZK, releases);
  releases.push(admin.release());
  await Promise.all(releases);
  return { ms: performance.now() - start, fields };
}

// The round trip of a cheap call, `calls` times; medians in milliseconds.
export async function roundTrips(vlReader, calls) {
  const admin = await carvix.createObject("CARVIX.DocAdmin");
  const block = await admin.ReadVLDocumentData(vlReader, 1);
  const times = [];
  for (let i = 0; i < calls; i++) {
    const start = performance.now();
    await block.$get("CardID");
    times.push(performance.now() - start);
  }
  await block.release();
  await admin.release();
  return times;
}

window.carvixBench = { fullRead, roundTrips, median };

document.getElementById("run").addEventListener("click", async () => {
  const out = document.getElementById("out");
  const vl = document.getElementById("vl").value;
  const zk = document.getElementById("zk").value;
  const rounds = Number(document.getElementById("rounds").value) || 21;
  try {
    const trips = await roundTrips(vl, 200);
    const reads = [];
    for (let i = 0; i < rounds; i++) {
      reads.push((await fullRead(vl, zk)).ms);
    }
    out.textContent = `round trip: median ${median(trips).toFixed(3)} ms of ${trips.length}\n` +
                      `full read of both cards: median ${median(reads).toFixed(1)} ms of ${rounds}`;
  } catch (e) {
    out.textContent = `${e.message} (${e.hex || ""})`;
  }
});
