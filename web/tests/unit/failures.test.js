// The failure table as pages and the extension see it: named codes, explanations of host
// errors, card status words.
import assert from "node:assert/strict";
import { describe, test } from "node:test";

import { CarvixError, Failures, explain } from "../../carvix.js";
import * as extension from "../../extension/failures.js";
import { Errors, errorResponse, explained } from "../../extension/errors.js";

describe("named failures", () => {
  test("a page's error carries the table's name, meaning and next step", () => {
    const e = new CarvixError({ hresult: -2146435060, message: "No smart card." });
    assert.equal(e.hresult, Failures.NoCard);
    assert.equal(e.failure, "NoCard");
    assert.equal(e.situation, "NoCard");
    assert.equal(e.meaning, "there is no card in the reader");
    assert.equal(e.nextStep, "insert one");
    assert.equal(e.message, "No smart card.", "the host's message stays the message");
    const unknown = new CarvixError({ hresult: 0x12345678 });
    assert.equal(unknown.failure, null);
    assert.equal(unknown.meaning, "");
  });

  test("status words inside HRESULTs get their meaning, situation and tries", () => {
    assert.deepEqual(explain(0x800763c1), { name: "VerificationFailed", situation: "WrongPin",
                                            meaning: "63C1: verification failed, 1 tries left",
                                            nextStep: "" });
    assert.equal(explain(0x80046a82).meaning, "6A82: the card has no such application or file");
    assert.equal(explain(0x80076983).situation, "PinBlocked");
    assert.equal(explain(0x80076f12).name, "CardRefused");
    assert.equal(explain(0x80106a82), null, "not a status-word facility");
    assert.equal(explain(0x80070057).name, "InvalidArgument", "0x8007 outside 6xxx");
  });

  test("the page and the extension read one table", () => {
    assert.deepEqual(extension.Failures, Failures);
    for (const code of Object.values(Failures)) {
      assert.deepEqual(extension.explain(code), explain(code));
    }
  });

  test("the extension names its own errors and the host's", () => {
    const response = errorResponse(4, Errors.noConsent("https://a.example",
                                                       { name: "read", refusal: "read the card" }));
    assert.equal(response.error.failure, "OperationCancelled");
    assert.equal(response.error.message,
                 'The user did not allow https://a.example to read the card (capability "read").');
    const fromHost = explained({ hresult: 0x80100069, hex: "0x80100069", message: "removed" });
    assert.equal(fromHost.failure, "CardRemoved");
    assert.equal(fromHost.nextStep, "put it back and try again");
    const unknown = { hresult: 0x12345678, message: "x" };
    assert.equal(explained(unknown), unknown);
  });
});
