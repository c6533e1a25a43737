import { fireEvent, render, screen, waitFor } from '@testing-library/preact';
import { useState } from 'preact/hooks';
import { describe, expect, it } from 'vitest';
import { DEFAULT_PLAYBACK, type MacroStep } from '../../../src/macros/text';
import { MacroEditor } from '../../../src/pages/macros/MacroEditor';

function Editor({ initial }: { initial: MacroStep[] }) {
  const [steps, setSteps] = useState(initial);
  return <MacroEditor steps={steps} playback={DEFAULT_PLAYBACK} onSteps={setSteps} onPlayback={() => undefined} />;
}

describe('macro step list', () => {
  it('a moved or edited step keeps its own row, and the moved one the focus', async () => {
    const { container } = render(<Editor initial={[{ kind: 'keyDown', key: 'A' }, { kind: 'delay', ms: 50 }, { kind: 'keyUp', key: 'A' }]} />);
    const rows = () => Array.from(container.querySelectorAll('li'));
    const pause = rows()[1];
    fireEvent.click(screen.getByRole('button', { name: 'Move step 2 up' }));
    expect(rows()[0]).toBe(pause);
    // At the top its up arrow is disabled, so the focus goes to its down arrow.
    await waitFor(() => expect(document.activeElement).toBe(screen.getByRole('button', { name: 'Move step 1 down' })));
    const ms = screen.getByRole('spinbutton', { name: 'Step 1 milliseconds' }) as HTMLInputElement;
    ms.value = '120';
    fireEvent.change(ms);
    expect(rows()[0]).toBe(pause);
    expect((screen.getByRole('spinbutton', { name: 'Step 1 milliseconds' }) as HTMLInputElement).value).toBe('120');
  });
});
