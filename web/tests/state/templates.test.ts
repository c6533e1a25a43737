import { describe, expect, it } from 'vitest';
import { deviceKindOf } from '../../src/model/template';
import { parseTemplate } from '../../src/state/templates';
import { model } from '../model/fixtures';

const features = (file: string) => parseTemplate(file, model(file))?.features;

describe('model templates', () => {
  it('tell the pages what each model offers and what kind of device it is', () => {
    expect(features('keystone-84-screen.xml')).toEqual({ keys: true, lighting: true, performance: true, macros: true, screen: true, music: true });
    // A mouse without lighting.
    expect(features('swift-6.xml')).toMatchObject({ keys: true, lighting: false, macros: true, music: false });
    // The notebook has no key assignments.
    expect(features('nimbus-notebook.xml')).toMatchObject({ keys: false, lighting: true, performance: true });
    // The mouse library family writes no macro slots.
    expect(features('orbit-6.xml')).toMatchObject({ keys: true, macros: false });
    expect(Object.values(features('sync.xml') ?? {})).toEqual([false, false, false, false, false, false]);
    const kind = (file: string) => deviceKindOf(parseTemplate(file, model(file))!.root);
    expect(['nimbus-notebook.xml', 'orbit-6.xml', 'swift-6.xml', 'keystone-104.xml'].map(kind)).toEqual(['notebook', 'mouse', 'mouse', 'keyboard']);
  });

  it('are refused when they are not a model document', () => {
    for (const text of ['', '<other><key name="UsbId" value="X"/></other>', '<configuration><key'])
      expect(parseTemplate('x', text), text).toBeNull();
    expect(parseTemplate('x', '<configuration model="M"><key name="UsbId" value="X"/></configuration>')?.model).toBe('M');
  });
});
