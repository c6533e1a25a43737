// The program-wide settings the core keeps (GetCoreSettings / SetCoreSettings). The core
// normalises every section it stores; the page reads answers defensively all the same, because
// an older core may not know a section, or answer something that is not one at all, and a bad
// answer must not take the dialog down.
import { isObject, parseJson, type Json } from './json';

export type SectionName = 'battery' | 'focus' | 'sdk';
export const SECTION_NAMES: readonly SectionName[] = ['battery', 'focus', 'sdk'];

export interface BatterySettings {
  notices: boolean;
  low: number;
  critical: number;
}

// A device identity -> profile number (1..16); a device left out keeps what it has.
export type ProfileMap = Record<string, number>;

export interface FocusRule {
  app: string;
  profiles: ProfileMap;
}

export interface FocusSettings {
  enabled: boolean;
  notify: boolean;
  rules: FocusRule[];
  default: ProfileMap;
}

export interface SdkSettings {
  enabled: boolean;
  port: number;
  allowNetwork: boolean;
}

export interface SectionValues {
  battery: BatterySettings;
  focus: FocusSettings;
  sdk: SdkSettings;
}

// What the page knows of each section; a section the core did not give is absent.
export type CoreSettings = Partial<SectionValues>;

export const BATTERY_DEFAULTS: BatterySettings = { notices: true, low: 15, critical: 5 };
export const BATTERY_MIN = 1;
export const BATTERY_MAX = 50;
export const SDK_DEFAULT_PORT = 6742;
export const MAX_PROFILE = 16;

function whole(v: unknown, min: number, max: number): number | null {
  return typeof v === 'number' && Number.isInteger(v) && v >= min && v <= max ? v : null;
}

function parseBattery(v: Json): BatterySettings | null {
  const low = whole(v.low, BATTERY_MIN + 1, BATTERY_MAX);
  const critical = whole(v.critical, BATTERY_MIN, BATTERY_MAX - 1);
  const notices = typeof v.notices === 'boolean' ? v.notices : BATTERY_DEFAULTS.notices;
  // Thresholds out of order mean nothing: the defaults stand in for the pair.
  if (low === null || critical === null || critical >= low)
    return { notices, low: BATTERY_DEFAULTS.low, critical: BATTERY_DEFAULTS.critical };
  return { notices, low, critical };
}

function parseProfiles(v: unknown): ProfileMap {
  const out: ProfileMap = {};
  if (!isObject(v)) return out;
  for (const [identity, n] of Object.entries(v)) {
    const profile = whole(n, 1, MAX_PROFILE);
    if (identity.trim() && profile !== null) out[identity] = profile;
  }
  return out;
}

function parseFocus(v: Json): FocusSettings {
  const rules: FocusRule[] = [];
  if (Array.isArray(v.rules))
    for (const r of v.rules) {
      if (!isObject(r) || typeof r.app !== 'string' || !r.app.trim()) continue;
      rules.push({ app: r.app.trim(), profiles: parseProfiles(r.profiles) });
    }
  return {
    enabled: v.enabled === true,
    notify: v.notify === true,
    rules,
    default: parseProfiles(v.default),
  };
}

function parseSdk(v: Json): SdkSettings {
  return {
    enabled: v.enabled === true,
    port: whole(v.port, 1, 65535) ?? SDK_DEFAULT_PORT,
    allowNetwork: v.allowNetwork === true,
  };
}

// One section's value as the page holds it, or null when it is not an object at all.
export function parseSection<K extends SectionName>(name: K, value: unknown): SectionValues[K] | null;
export function parseSection(name: SectionName, value: unknown): SectionValues[SectionName] | null {
  if (!isObject(value)) return null;
  if (name === 'battery') return parseBattery(value);
  if (name === 'focus') return parseFocus(value);
  if (name === 'sdk') return parseSdk(value);
  return null;
}

export function parseSectionText<K extends SectionName>(name: K, text: unknown): SectionValues[K] | null {
  return parseSection(name, parseJson(text));
}

// The answer of GetCoreSettings; sections missing or malformed are left out.
export function parseCoreSettings(text: unknown): CoreSettings {
  const data = parseJson(text);
  const out: CoreSettings = {};
  if (!isObject(data)) return out;
  for (const name of SECTION_NAMES) {
    const value = parseSection(name, data[name]);
    if (value) (out as Record<string, unknown>)[name] = value;
  }
  return out;
}

export function isSectionName(name: unknown): name is SectionName {
  return typeof name === 'string' && (SECTION_NAMES as readonly string[]).indexOf(name) >= 0;
}

// --- battery -------------------------------------------------------------------------------

// The range each threshold may take beside the other one: critical stays below low.
// The section with one change; a threshold moved past the other pushes the other along, so
// the pair stays in order and both sliders keep one scale. Null for a value out of range.
export function withBattery(b: BatterySettings, change: Partial<BatterySettings>): BatterySettings | null {
  const next = { ...b, ...change };
  let low = whole(next.low, BATTERY_MIN + 1, BATTERY_MAX);
  let critical = whole(next.critical, BATTERY_MIN, BATTERY_MAX - 1);
  if (low === null || critical === null) return null;
  if (critical >= low) {
    if (change.critical !== undefined) low = critical + 1;
    else critical = low - 1;
  }
  return { notices: next.notices, low, critical };
}

// --- focus ---------------------------------------------------------------------------------

const sameIdentity = (a: string, b: string) => a.toLowerCase() === b.toLowerCase();

// The profile a map gives a device; identities are compared as the core compares them.
export function profileIn(map: ProfileMap, identity: string): number | null {
  for (const [key, n] of Object.entries(map)) if (sameIdentity(key, identity)) return n;
  return null;
}

// The map with one device set (or left as is, for null). The entries of other devices,
// connected or not, are kept as they were.
export function withProfile(map: ProfileMap, identity: string, profile: number | null): ProfileMap {
  const out: ProfileMap = {};
  for (const [key, n] of Object.entries(map)) if (!sameIdentity(key, identity)) out[key] = n;
  if (profile !== null && whole(profile, 1, MAX_PROFILE) !== null) out[identity] = profile;
  return out;
}

// Identities a map names that are not among the given ones (devices not connected now).
export function absentIdentities(map: ProfileMap, present: string[]): string[] {
  return Object.keys(map).filter((key) => !present.some((p) => sameIdentity(p, key)));
}

export function findRule(f: FocusSettings, app: string): number {
  const wanted = app.trim().toLowerCase();
  return f.rules.findIndex((r) => r.app.toLowerCase() === wanted);
}

export type RuleProblem = 'empty' | 'duplicate';

// Adds a rule for an application; refused when the name is empty or already has a rule,
// since the core would only ever use the first of two.
export function addRule(f: FocusSettings, app: string): FocusSettings | RuleProblem {
  const name = app.trim();
  if (!name) return 'empty';
  if (findRule(f, name) >= 0) return 'duplicate';
  return { ...f, rules: [...f.rules, { app: name, profiles: {} }] };
}

export function renameRule(f: FocusSettings, index: number, app: string): FocusSettings | RuleProblem {
  const name = app.trim();
  if (!name) return 'empty';
  const other = findRule(f, name);
  if (other >= 0 && other !== index) return 'duplicate';
  if (!f.rules[index]) return f;
  return { ...f, rules: f.rules.map((r, i) => (i === index ? { ...r, app: name } : r)) };
}

export function removeRule(f: FocusSettings, index: number): FocusSettings {
  return { ...f, rules: f.rules.filter((_, i) => i !== index) };
}

// index -1 is the default rule.
export function withRuleProfile(f: FocusSettings, index: number, identity: string, profile: number | null): FocusSettings {
  if (index < 0) return { ...f, default: withProfile(f.default, identity, profile) };
  if (!f.rules[index]) return f;
  return {
    ...f,
    rules: f.rules.map((r, i) => (i === index ? { ...r, profiles: withProfile(r.profiles, identity, profile) } : r)),
  };
}

export function parsePort(raw: string): number | null {
  const trimmed = raw.trim();
  if (!/^\d{1,5}$/.test(trimmed)) return null;
  return whole(Number(trimmed), 1, 65535);
}

// The running applications for the picker: texts only, without blanks or repeats.
export function parseApplications(answer: unknown): string[] {
  const data = parseJson(answer);
  if (!Array.isArray(data)) return [];
  const seen = new Set<string>();
  const out: string[] = [];
  for (const a of data) {
    if (typeof a !== 'string' || !a.trim()) continue;
    const key = a.trim().toLowerCase();
    if (seen.has(key)) continue;
    seen.add(key);
    out.push(a.trim());
  }
  return out;
}
