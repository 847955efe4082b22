// What the extension lets a page do: the host's capabilities narrowed by the managed policy,
// and what each request needs according to the generated table.
import assert from "node:assert/strict";
import { describe, test } from "node:test";

import { CAPABILITIES, CLASS_NEEDS, MEMBER_NEEDS } from "../../extension/capabilities.js";
import { HandleTypes, effectiveRights, grantKey, parseGrantKey, parseManagedEntry }
  from "../../extension/rights.js";

const host = {
  origins: ["https://a.example", "https://b.example", "http://evil.example"],
  capabilities: { "https://a.example": ["read", "write"], "https://b.example": ["read"],
                  "http://evil.example": ["read"] },
};

describe("the managed policy", () => {
  test("can only narrow the host's origins and capabilities", () => {
    assert.deepEqual(effectiveRights(host, undefined), {
      origins: ["https://a.example", "https://b.example"],
      capabilities: { "https://a.example": ["read", "write"], "https://b.example": ["read"] },
    });
    // A bare managed line keeps the host's capabilities; words narrow them; a capability
    // the host did not grant is not added; an origin only on the managed list is not added.
    assert.deepEqual(effectiveRights(host, ["HTTPS://A.example:443/ read pki",
                                            "https://b.example", "https://c.example read"]), {
      origins: ["https://a.example", "https://b.example"],
      capabilities: { "https://a.example": ["read"], "https://b.example": ["read"] },
    });
    assert.deepEqual(effectiveRights(host, []), { origins: [], capabilities: {} });
    assert.deepEqual(effectiveRights(undefined, ["https://a.example"]),
                     { origins: [], capabilities: {} });
    // A host that sent no capabilities grants none.
    assert.deepEqual(effectiveRights({ origins: ["https://a.example", "https://a.example", 5] }),
                     { origins: ["https://a.example"], capabilities: { "https://a.example": [] } });
  });

  test("lines name an origin and known capabilities", () => {
    assert.deepEqual(parseManagedEntry("https://a.example"),
                     { origin: "https://a.example", capabilities: null });
    assert.deepEqual(parseManagedEntry("  https://a.example  WRITE fly "),
                     { origin: "https://a.example", capabilities: ["write"] });
    for (const bad of ["http://bank.example read", "not an origin", "", 7, null]) {
      assert.equal(parseManagedEntry(bad), null, String(bad));
    }
  });
});

describe("what a request needs", () => {
  test("every class and member of the table, in any case, through the object's handle", () => {
    const handles = new HandleTypes();
    for (const [progId, needs] of Object.entries(CLASS_NEEDS)) {
      assert.ok(needs.length > 0, progId);
      assert.deepEqual(handles.needsOf({ op: "create", progId: progId.toUpperCase() }), needs);
    }
    let handle = 0;
    for (const [type, members] of Object.entries(MEMBER_NEEDS)) {
      handles.note({ $object: ++handle, type: type.toUpperCase() });
      for (const [key, needs] of Object.entries(members)) {
        const [kind, name] = key.split(" ");
        const op = kind === "method" ? "call" : kind;
        const got = handles.needsOf({ op, handle, name: name.toUpperCase() });
        assert.ok(needs.every((n) => got.includes(n)), `${type} ${key}: ${got}`);
      }
    }
  });

  test("writes need write, also asked as a property; unknown handles are refused", () => {
    const handles = new HandleTypes();
    // Objects handed back inside arrays and other values are noted too.
    handles.note([{ $object: 1, type: "IDocAdminService" },
                  { nested: { $object: 2, type: "IVLVariablePersoBlock" } }]);
    assert.deepEqual(handles.needsOf({ op: "call", handle: 1, name: "WriteVLVariablePersoData" }),
                     ["write"]);
    assert.deepEqual(handles.needsOf({ op: "get", handle: 1, name: "writeVLVariablePersoData" }),
                     ["write"]);
    assert.deepEqual(handles.needsOf({ op: "call", handle: 1, name: "UpdateVLContactlessData" }),
                     ["write", "contactless"]);
    assert.deepEqual(handles.needsOf({ op: "get", handle: 2, name: "Rank" }), ["read"]);
    assert.deepEqual(handles.needsOf({ op: "put", handle: 2, name: "Rank" }), ["write"]);
    assert.deepEqual(handles.needsOf({ op: "call", handle: 1, name: "NoSuchMember" }), []);
    assert.equal(handles.needsOf({ op: "call", handle: 3, name: "ReadVLDocumentData" }), null);
    handles.forget(1);
    assert.equal(handles.needsOf({ op: "call", handle: 1, name: "ReadVLDocumentData" }), null);
    assert.deepEqual(handles.needsOf({ op: "hello" }), []);
    assert.deepEqual(handles.needsOf({ op: "release", handle: 9 }), []);
  });

  test("consent keys name one capability and one origin", () => {
    for (const { name } of CAPABILITIES) {
      assert.deepEqual(parseGrantKey(grantKey(name, "http://localhost:8411")),
                       { capability: name, origin: "http://localhost:8411" });
    }
    assert.equal(parseGrantKey("grant:fly:https://a.example"), null);
    assert.equal(parseGrantKey("consent:https://a.example"), null);
  });
});
