import { describe, expect, it } from 'vitest';
import { XmlError, attr, parseXml, writeXml } from '../../src/model/xml';
import { model } from './fixtures';

describe('xml', () => {
  it('reads every model template and writes it back to the same tree', () => {
    for (const f of ['keystone-104.xml', 'pulse-104.xml', 'orbit-6.xml', 'nimbus-notebook.xml', 'sync.xml']) {
      const tree = parseXml(model(f));
      expect(parseXml(writeXml(tree))).toEqual(tree);
    }
  });

  it('keeps key names that need escaping', () => {
    const tree = parseXml('<r><key name="&quot;&amp;&lt;" a=\'\\\' /></r>');
    expect(attr(tree.children[0], 'name')).toBe('"&<');
    expect(writeXml(tree, false)).toContain('name="&quot;&amp;&lt;" a="\\"');
  });

  it('refuses malformed text with a position', () => {
    for (const bad of ['', '<a><b></a>', '<a x="1" x="2"/>', '<a>&bogus;</a><b/>', '<a/><b/>', '<a x=1/>', '<a>']) {
      expect(() => parseXml(bad)).toThrow(XmlError);
    }
  });
});
