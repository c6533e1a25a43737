// A small XML reader and writer for the configuration documents and function tables.
// The documents are plain element trees with attributes (no text content the native side
// reads), so a dedicated reader keeps attribute order and gives the same tree in the page and
// in the unit tests, where no DOM parser is at hand.

export interface XmlElement {
  name: string;
  attrs: [string, string][];
  children: XmlElement[];
}

export class XmlError extends Error {
  constructor(message: string, readonly at: number) {
    super(`${message} at ${at}`);
    this.name = 'XmlError';
  }
}

const ENTITIES: Record<string, string> = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'" };

function decode(text: string, at: number): string {
  return text.replace(/&(#x[0-9a-fA-F]+|#[0-9]+|[a-z]+);/g, (whole, ent: string) => {
    if (ent[0] === '#') {
      const code = ent[1] === 'x' ? parseInt(ent.slice(2), 16) : parseInt(ent.slice(1), 10);
      if (!Number.isFinite(code) || code > 0x10ffff) throw new XmlError('bad character reference', at);
      return String.fromCodePoint(code);
    }
    const v = ENTITIES[ent];
    if (v === undefined) throw new XmlError(`unknown entity ${whole}`, at);
    return v;
  });
}

// One pass over the text: each match is a tag, a declaration, a comment, character data or a
// document type; whatever lies between matches must be blank (no text content is read).
const TOKEN =
  /<(\/?)([A-Za-z_:\u00c0-\uffff][-A-Za-z0-9_:.\u00b7\u00c0-\uffff]*)((?:\s+[^\s=/>]+\s*=\s*(?:"[^"]*"|'[^']*'))*)\s*(\/?)>|<\?[\s\S]*?\?>|<!--[\s\S]*?-->|<!\[CDATA\[[\s\S]*?\]\]>|<![^>]*>/g;
const ATTR = /([^\s=/>]+)\s*=\s*(?:"([^"]*)"|'([^']*)')/g;
const BLANK = /^\s*$/;

export function parseXml(text: string): XmlElement {
  const stack: XmlElement[] = [];
  let root: XmlElement | null = null;
  let at = text.charCodeAt(0) === 0xfeff ? 1 : 0;
  TOKEN.lastIndex = at;
  let m: RegExpExecArray | null;
  while ((m = TOKEN.exec(text))) {
    const gap = text.slice(at, m.index);
    if (gap.indexOf('<') >= 0) throw new XmlError('malformed markup', at + gap.indexOf('<'));
    if (stack.length === 0 && !BLANK.test(gap)) throw new XmlError('text outside elements', at);
    at = TOKEN.lastIndex;
    const name = m[2];
    if (name === undefined) continue; // declaration, comment, character data, document type
    if (m[1]) {
      if (m[3] || m[4]) throw new XmlError(`malformed </${name}>`, m.index);
      const open = stack.pop();
      if (!open || open.name !== name) throw new XmlError(`mismatched </${name}>`, m.index);
      continue;
    }
    const el: XmlElement = { name, attrs: [], children: [] };
    if (m[3]) {
      ATTR.lastIndex = 0;
      let a: RegExpExecArray | null;
      while ((a = ATTR.exec(m[3]))) {
        const key = a[1];
        if (el.attrs.some(([k]) => k === key)) throw new XmlError(`duplicate attribute ${key}`, m.index);
        const raw = a[2] !== undefined ? a[2] : a[3];
        if (raw.indexOf('<') >= 0) throw new XmlError('< in an attribute value', m.index);
        el.attrs.push([key, raw.indexOf('&') >= 0 ? decode(raw, m.index) : raw]);
      }
    }
    const owner = stack[stack.length - 1];
    if (owner) owner.children.push(el);
    else if (root) throw new XmlError('second root element', m.index);
    else root = el;
    if (!m[4]) stack.push(el);
  }
  const rest = text.slice(at);
  if (rest.indexOf('<') >= 0) throw new XmlError('malformed markup', at + rest.indexOf('<'));
  if (stack.length) throw new XmlError(`unclosed <${stack[stack.length - 1].name}>`, text.length);
  if (!BLANK.test(rest)) throw new XmlError('text outside elements', at);
  if (!root) throw new XmlError('no root element', text.length);
  return root;
}

function escapeAttr(v: string): string {
  if (!/[&<>"]/.test(v)) return v;
  return v.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

/** Writes the tree with tab indentation and, unless told otherwise, the declaration the
 *  native side expects at the head of a document. */
export function writeXml(root: XmlElement, declaration = true): string {
  const out: string[] = declaration ? ['<?xml version="1.0"?>'] : [];
  const walk = (el: XmlElement, depth: number) => {
    const pad = '\t'.repeat(depth);
    const attrs = el.attrs.map(([k, v]) => ` ${k}="${escapeAttr(v)}"`).join('');
    if (!el.children.length) {
      out.push(`${pad}<${el.name}${attrs} />`);
      return;
    }
    out.push(`${pad}<${el.name}${attrs}>`);
    for (const c of el.children) walk(c, depth + 1);
    out.push(`${pad}</${el.name}>`);
  };
  walk(root, 0);
  return out.join('\n') + '\n';
}

export function attr(el: XmlElement | undefined | null, name: string): string {
  if (!el) return '';
  for (const [k, v] of el.attrs) if (k === name) return v;
  return '';
}

export function hasAttr(el: XmlElement, name: string): boolean {
  return el.attrs.some(([k]) => k === name);
}

export function setAttr(el: XmlElement, name: string, value: string): void {
  for (const a of el.attrs) {
    if (a[0] === name) {
      a[1] = value;
      return;
    }
  }
  el.attrs.push([name, value]);
}

export function removeAttr(el: XmlElement, name: string): void {
  el.attrs = el.attrs.filter(([k]) => k !== name);
}

export function child(el: XmlElement | undefined | null, name: string): XmlElement | undefined {
  return el ? el.children.find((c) => c.name === name) : undefined;
}

export function childrenNamed(el: XmlElement | undefined | null, name: string): XmlElement[] {
  return el ? el.children.filter((c) => c.name === name) : [];
}

export function findByName(el: XmlElement | undefined | null, tag: string, name: string): XmlElement | undefined {
  return el ? el.children.find((c) => c.name === tag && attr(c, 'name') === name) : undefined;
}

export function cloneXml(el: XmlElement): XmlElement {
  return {
    name: el.name,
    attrs: el.attrs.map(([k, v]) => [k, v] as [string, string]),
    children: el.children.map(cloneXml),
  };
}

export function makeElement(name: string, attrs: Record<string, string>): XmlElement {
  return { name, attrs: Object.keys(attrs).map((k) => [k, attrs[k]] as [string, string]), children: [] };
}
