import { cleanup, configure } from '@testing-library/preact';
import { afterEach } from 'vitest';

// The suite shares two cores with the end-to-end run; a second is not enough for a page to
// settle there, and a slow machine is not a failure.
configure({ asyncUtilTimeout: 5000 });

afterEach(() => {
  cleanup();
});
