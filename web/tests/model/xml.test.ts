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
    // Each case has a single root, so the refusal comes from the fault it names.
    const cases: [string, string][] = [
      ['', 'no root element at 0'],
      ['<a><b></a>', 'mismatched </a> at 6'],
      ['<r><a x="1" x="2"/></r>', 'duplicate attribute x at 3'],
      ['<r><a x="&bogus;"/></r>', 'unknown entity &bogus; at 3'],
      ['<r><a x="&#x110000;"/></r>', 'bad character reference at 3'],
      ['<a/><b/>', 'second root element at 4'],
      ['<a x=1/>', 'malformed markup at 0'],
      ['x<a/>', 'text outside elements at 0'],
      ['<a>', 'unclosed <a> at 3'],
    ];
    for (const [bad, message] of cases) {
      const e = (() => {
        try {
          parseXml(bad);
        } catch (x) {
          return x;
        }
      })();
      expect(e, bad).toBeInstanceOf(XmlError);
      expect((e as XmlError).message, bad).toBe(message);
    }
  });
});
