type Listeners = { [K in keyof WindowEventMap]?: (e: WindowEventMap[K]) => void };

/**
 * While something records keys, every key goes to it: the window's key events are taken in the
 * capture phase and go no further, so neither the page's shortcuts nor the focused control
 * act on them. Further window events can be listened to the same way. Returns the release.
 */
export function captureKeys(onKey: (e: KeyboardEvent) => void, others: Listeners = {}): () => void {
  const key = (e: KeyboardEvent) => {
    e.preventDefault();
    e.stopPropagation();
    e.stopImmediatePropagation();
    onKey(e);
  };
  const all: Array<[string, EventListener]> = [
    ['keydown', key as EventListener],
    ['keyup', key as EventListener],
    ...Object.entries(others).map(([name, fn]) => [name, fn as EventListener] as [string, EventListener]),
  ];
  for (const [name, fn] of all) window.addEventListener(name, fn, true);
  return () => {
    for (const [name, fn] of all) window.removeEventListener(name, fn, true);
  };
}
