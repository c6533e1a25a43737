// Reading the core's JSON answers without trusting them.

export type Json = Record<string, unknown>;

export const isObject = (v: unknown): v is Json => !!v && typeof v === 'object' && !Array.isArray(v);

export function parseJson(text: unknown): unknown {
  if (typeof text !== 'string') return undefined;
  try {
    return JSON.parse(text);
  } catch {
    return undefined;
  }
}
