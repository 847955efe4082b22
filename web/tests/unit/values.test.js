// carvix.js's values on the wire and the extension's allow-list rules, without a browser.
import assert from "node:assert/strict";
import { describe, test } from "node:test";

import { CarvixError, decode, encode, isObject } from "../../carvix.js";
import { isServableOrigin, matchPattern } from "../../extension/origins.js";
import { Errors, errorResponse } from "../../extension/errors.js";

describe("values from the host", () => {
  test("bytes, dates, 64-bit numbers and errors become JavaScript values", () => {
    const bytes = decode({ $bytes: "/9j/4A==" });
    assert.ok(bytes instanceof Uint8Array);
    assert.deepEqual([...bytes], [0xff, 0xd8, 0xff, 0xe0]);
    assert.equal(decode({ $bytes: "" }).length, 0);

    const date = decode({ $date: "2024-02-29T13:05:09" });
    assert.deepEqual([date.getFullYear(), date.getMonth(), date.getDate(), date.getHours(),
                      date.getMinutes(), date.getSeconds()], [2024, 1, 29, 13, 5, 9]);
    // Years before 100 are not taken for 19xx.
    assert.equal(decode({ $date: "0050-01-01T00:00:00" }).getFullYear(), 50);
    assert.ok(isNaN(decode({ $date: "yesterday" })));

    assert.equal(decode({ $int64: "9007199254740993" }), 9007199254740993n);
    assert.deepEqual(decode({ $error: -2147352573 }), { error: 0x80020003 });
    assert.deepEqual(decode([1, "a", null, [true, { $bytes: "AQ==" }]]),
                     [1, "a", null, [true, new Uint8Array([1])]]);
  });

  test("an object value becomes a proxy that reads its snapshot", () => {
    const block = decode({
      $object: 7, type: "VLDocumentBlock", methods: [],
      properties: { CardID: { get: true, put: false }, DateOfIssue: { get: true, put: true } },
      snapshot: { CardID: "VL0012345", DateOfIssue: { $date: "2023-05-29T00:00:00" } },
    });
    assert.ok(isObject(block));
    assert.equal(block.CardID, "VL0012345");
    assert.equal(block.DateOfIssue.getFullYear(), 2023);
    assert.deepEqual(Object.keys(block), ["CardID", "DateOfIssue"]);
    assert.equal(block.$type, "VLDocumentBlock");
    assert.equal(block.NoSuchThing, undefined);
    assert.equal(block.then, undefined, "a proxy must not look like a promise");
    assert.deepEqual(encode(block), { $object: 7 });
    assert.throws(() => { block.CardID = "x"; }, (e) => e instanceof CarvixError &&
                  e.hresult === 0x80020003);
  });
});

describe("values to the host", () => {
  test("bytes, dates, 64-bit numbers and arrays take their wire forms", () => {
    assert.deepEqual(encode(new Uint8Array([0xff, 0xd8])), { $bytes: "/9g=" });
    assert.deepEqual(encode(new Uint8Array([1, 2]).buffer), { $bytes: "AQI=" });
    assert.deepEqual(encode(new Date(2024, 1, 29, 7, 8, 9)), { $date: "2024-02-29T07:08:09" });
    assert.deepEqual(encode(12n), { $int64: "12" });
    assert.deepEqual(encode([1, "x", undefined]), [1, "x", null]);
    // Large byte arrays are not cut at the argument limit of String.fromCharCode.
    const big = new Uint8Array(200000).fill(65);
    assert.equal(atob(encode(big).$bytes).length, 200000);
  });

  test("plain objects are refused instead of sent as something else", () => {
    assert.throws(() => encode({ a: 1 }), (e) => e instanceof CarvixError &&
                  e.hresult === 0x80070057);
  });
});

describe("errors", () => {
  test("carry the HRESULT as an unsigned number and as text", () => {
    const e = new CarvixError({ hresult: -2146434967, message: "No smart card." });
    assert.ok(e instanceof Error);
    assert.equal(e.hresult, 0x80100069);
    assert.equal(e.hex, "0x80100069");
    assert.equal(e.message, "No smart card.");
  });

  test("the extension's own errors have the texts pages show", () => {
    assert.deepEqual(Errors.notAllowed("https://shop.example"), {
      hresult: 0x80070005, hex: "0x80070005",
      message: "The page https://shop.example is not allowed to use carvix-qx.",
    });
    const write = { name: "write", refusal: "change data on the card" };
    assert.equal(Errors.noConsent("https://a.example", write).message,
                 'The user did not allow https://a.example to change data on the card ' +
                 '(capability "write").');
    assert.equal(Errors.noConsent("https://a.example", write).hresult, 0x800704c7);
    assert.deepEqual(Errors.notGranted("https://a.example", write), {
      hresult: 0x80070005, hex: "0x80070005",
      message: 'The page https://a.example is not allowed to change data on the card ' +
               '(capability "write").',
    });
    assert.deepEqual(errorResponse(3, Errors.badRequest()).id, 3);
  });

  test("a host that cannot start is told apart from a missing one, in both browsers", () => {
    for (const why of ["Specified native messaging host not found.",
                       "No such native application carvix.qx.bridge"]) {
      const e = Errors.hostMissing(why);
      assert.equal(e.hresult, 0x80070002);
      assert.match(e.message, /is not installed for this browser; run `carvix register --browser`/);
      assert.match(e.message, /`carvix doctor` names every missing piece/);
    }
    const broken = Errors.hostMissing("Native host has exited.");
    assert.equal(broken.hresult, 0x80070002);
    assert.match(broken.message, /registered for this browser but does not start/);
    assert.match(broken.message, /\(Native host has exited\.\)$/);
  });
});

describe("the allow-list", () => {
  test("only https origins and http on the local machine can be served", () => {
    for (const ok of ["https://bank.example", "https://bank.example:8443", "http://localhost:8080",
                      "http://127.0.0.1:9", "http://localhost"]) {
      assert.ok(isServableOrigin(ok), ok);
    }
    for (const bad of ["http://bank.example", "https://bank.example/", "https://bank.example/x",
                       "ftp://localhost", "http://localhost.evil.example", "null", "",
                       "https://user@bank.example", "chrome-extension://abc"]) {
      assert.ok(!isServableOrigin(bad), bad);
    }
  });

  test("content scripts go on the allowed origins' pages", () => {
    assert.equal(matchPattern("http://localhost:8411"), "http://localhost:8411/*");
    // Firefox: patterns without a port, one per host.
    assert.equal(matchPattern("http://localhost:8411", false), "http://localhost/*");
    assert.equal(matchPattern("https://app.example.org", false), "https://app.example.org/*");
  });
});
