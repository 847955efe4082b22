// Type declarations for carvix.js.

/** A failure of carvix-qx: the HRESULT of the failed step and its message text. */
export class CarvixError extends Error {
  readonly name: "CarvixError";
  /** The HRESULT as an unsigned 32-bit number. */
  readonly hresult: number;
  /** The HRESULT as "0x8010006C". */
  readonly hex: string;
}

/** HRESULT of "the extension is missing" (nothing answered the page). */
export const E_EXTENSION_MISSING: number;

/** What travels to and from the card: VARIANTs as JavaScript values. */
export type CarvixValue =
  | null
  | boolean
  | number
  | bigint
  | string
  | Date
  | Uint8Array
  | { error: number }
  | CarvixObject
  | CarvixValue[];

/**
 * An object of the module. Methods return promises; a property reads from the snapshot
 * that came with the object (block objects) or, otherwise, gives a promise of its value.
 * Assigning a property sends the put at once; its failure is thrown by the next call made
 * through the object. `$put` awaits the put itself.
 */
export interface CarvixObject {
  readonly $handle: number;
  readonly $type: string;
  readonly $methods: string[];
  readonly $properties: Record<string, { get: boolean; put: boolean }>;
  /** The properties read when the object was handed out, with later puts applied. */
  $snapshot(): Record<string, CarvixValue>;
  /** Reads a property from the module (parameterised properties take their arguments). */
  $get(name: string, ...args: CarvixValue[]): Promise<CarvixValue>;
  /** Sets a property and waits for the module's answer. */
  $put(name: string, value: CarvixValue): Promise<void>;
  /** Releases the object in the host; the page's objects all go when the page goes. */
  $release(): Promise<void>;
  release(): Promise<void>;
  [member: string]: any;
}

export interface Availability {
  /** Everything is in place and the page may use the card. */
  ok: boolean;
  /** The extension answered. */
  extension: boolean;
  /** The page's origin is on the allow-list and the user consented. */
  allowed: boolean;
  /** The native host is installed (false: the extension could not start it). */
  host: boolean;
  /** The host's hello answer when ok. */
  version?: { version: number; host: string; module: string };
  hresult: number;
  /** Why not, for the user. */
  message: string;
}

/** Creates an object by ProgID, e.g. "CARVIX.DocAdmin". */
export function createObject(progId: string): Promise<CarvixObject>;

/** Whether and why not the page can use carvix-qx. Asks for the user's consent when needed. */
export function available(options?: { timeoutMs?: number }): Promise<Availability>;

/** Whether a value is an object of the module. */
export function isObject(value: unknown): value is CarvixObject;

/** Converts a value from its wire form (used by tests and tools). */
export function decode(value: unknown): CarvixValue;
/** Converts a value to its wire form (used by tests and tools). */
export function encode(value: CarvixValue | undefined): unknown;
