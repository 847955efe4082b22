// A page written against carvix.d.ts: the classes, their members, the named failures, the
// error classes and the options of a call type-check.
import { createObject, CarvixError, Failures, explain, options, setDefaults, NoCardError,
         TimeoutError, VersionMismatchError } from "../../carvix";

async function main(): Promise<void> {
  setDefaults({ timeoutMs: 30000 });
  const admin = await createObject("CARVIX.DocAdmin", { timeoutMs: 5000 });
  const block = await admin.ReadVLDocumentData("reader", 1);
  const id: string = await block.CardID;
  const stop = new AbortController();
  try {
    await admin.ReadZKDocumentData("reader", 5, options({ signal: stop.signal }));
  } catch (e) {
    if (e instanceof CarvixError && e.hresult === Failures.NoCard && e.failure === "NoCard") {
      console.log(id, e.meaning, e.nextStep, explain(e.hresult));
    }
    if (e instanceof NoCardError) {
      const situation: "NoCard" = e.situation;
      console.log(situation);
    }
    if (e instanceof VersionMismatchError || e instanceof TimeoutError) {
      console.log(e.part, e.hresult);
    }
  }
}
main();
