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

const NAME = /[A-Za-z_:\u00c0-\uffff][-A-Za-z0-9_:.\u00b7\u00c0-\uffff]*/y;

export function parseXml(text: string): XmlElement {
  let i = 0;
  const n = text.length;
  const stack: XmlElement[] = [];
  let root: XmlElement | null = null;

  const skipSpace = () => {
    while (i < n && /\s/.test(text[i])) i++;
  };
  const readName = (): string => {
    NAME.lastIndex = i;
    const m = NAME.exec(text);
    if (!m) throw new XmlError('name expected', i);
    i += m[0].length;
    return m[0];
  };
  const skipPast = (end: string, what: string) => {
    const j = text.indexOf(end, i);
    if (j < 0) throw new XmlError(`unterminated ${what}`, i);
    i = j + end.length;
  };

  if (text.charCodeAt(0) === 0xfeff) i = 1;
  while (i < n) {
    const lt = text.indexOf('<', i);
    if (lt < 0) {
      if (text.slice(i).trim()) throw new XmlError('text outside elements', i);
      break;
    }
    if (text.slice(i, lt).trim() && stack.length === 0) throw new XmlError('text outside elements', i);
    i = lt;
    if (text.startsWith('<?', i)) {
      skipPast('?>', 'declaration');
    } else if (text.startsWith('<!--', i)) {
      skipPast('-->', 'comment');
    } else if (text.startsWith('<![CDATA[', i)) {
      skipPast(']]>', 'character data');
    } else if (text.startsWith('<!', i)) {
      skipPast('>', 'document type');
    } else if (text.startsWith('</', i)) {
      i += 2;
      const name = readName();
      skipSpace();
      if (text[i] !== '>') throw new XmlError('> expected', i);
      i++;
      const open = stack.pop();
      if (!open || open.name !== name) throw new XmlError(`mismatched </${name}>`, i);
    } else {
      i++;
      const el: XmlElement = { name: readName(), attrs: [], children: [] };
      const owner = stack[stack.length - 1];
      if (owner) owner.children.push(el);
      else if (root) throw new XmlError('second root element', i);
      else root = el;
      for (;;) {
        skipSpace();
        if (text.startsWith('/>', i)) {
          i += 2;
          break;
        }
        if (text[i] === '>') {
          i++;
          stack.push(el);
          break;
        }
        if (i >= n) throw new XmlError('unterminated element', i);
        const an = readName();
        skipSpace();
        if (text[i] !== '=') throw new XmlError('= expected', i);
        i++;
        skipSpace();
        const q = text[i];
        if (q !== '"' && q !== "'") throw new XmlError('quote expected', i);
        const end = text.indexOf(q, i + 1);
        if (end < 0) throw new XmlError('unterminated attribute', i);
        if (el.attrs.some(([k]) => k === an)) throw new XmlError(`duplicate attribute ${an}`, i);
        el.attrs.push([an, decode(text.slice(i + 1, end), i)]);
        i = end + 1;
      }
    }
  }
  if (stack.length) throw new XmlError(`unclosed <${stack[stack.length - 1].name}>`, n);
  if (!root) throw new XmlError('no root element', n);
  return root;
}

function escapeAttr(v: string): string {
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
