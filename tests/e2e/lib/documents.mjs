// Configuration documents written by the tests themselves, from the model templates the
// program carries: what a correct page must send for a user's action.
import fs from 'node:fs';
import path from 'node:path';
import { DOMParser, XMLSerializer } from '@xmldom/xmldom';
import { sourceDir } from './util.mjs';

const MODELS = path.join(sourceDir, 'client', 'resources', 'drive', 'models');

export class ModelDocument {
  constructor(file) {
    this.file = file;
    this.doc = new DOMParser().parseFromString(fs.readFileSync(path.join(MODELS, file), 'utf8'), 'text/xml');
  }

  get root() {
    return this.doc.documentElement;
  }

  // The first element with the tag whose `name` attribute is `name`, anywhere in the document.
  element(tag, name, within = this.root) {
    const all = within.getElementsByTagName(tag);
    for (let i = 0; i < all.length; i++) if (all[i].getAttribute('name') === name) return all[i];
    throw new Error(`${this.file} has no <${tag} name="${name}">`);
  }

  key(name, within) {
    return this.element('key', name, within);
  }

  set(el, attrs) {
    for (const [k, v] of Object.entries(attrs)) el.setAttribute(k, String(v));
    return el;
  }

  clearActions() {
    const all = this.root.getElementsByTagName('*');
    for (let i = 0; i < all.length; i++) all[i].removeAttribute('action');
  }

  text() {
    return new XMLSerializer().serializeToString(this.doc);
  }

  // Only the identity, the profile and the given elements (copies), as the golden documents
  // of the key-record translators are written.
  excerpt(elements) {
    const out = new DOMParser().parseFromString(`<configuration Ver="${this.root.getAttribute('Ver')}" name="local"/>`, 'text/xml');
    for (const el of [this.key('UsbId'), this.key('CurProfile'), ...elements]) {
      out.documentElement.appendChild(out.importNode(el, true));
    }
    return new XMLSerializer().serializeToString(out);
  }
}
