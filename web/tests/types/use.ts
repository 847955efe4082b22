// A page written against carvix.d.ts: the classes, their members and the named failures type-check.
import { createObject, CarvixError, Failures, explain } from "../../carvix";

async function main(): Promise<void> {
  const admin = await createObject("CARVIX.DocAdmin");
  const block = await admin.ReadVLDocumentData("reader", 1);
  const id: string = await block.CardID;
  try {
    await admin.ReadZKDocumentData("reader", 5);
  } catch (e) {
    if (e instanceof CarvixError && e.hresult === Failures.NoCard && e.failure === "NoCard") {
      console.log(id, e.meaning, e.nextStep, explain(e.hresult));
    }
  }
}
main();
