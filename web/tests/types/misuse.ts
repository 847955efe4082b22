// Calls the type library does not allow are type errors (the test expects both).
import { createObject } from "../../carvix";
async function main(): Promise<void> {
  const admin = await createObject("CARVIX.DocAdmin");
  await admin.ReadVLDocumentData(1, "reader");
  await admin.NoSuchMethod();
}
main();
