/// <reference types="vitest/config" />
import { defineConfig } from 'vite';

// The page runs in the program's embedded engine, Chromium 87. Syntax is lowered to it here;
// the functions it lacks come from src/polyfills.ts.
const outDir = process.env.TORVANIX_WEB_OUT || 'dist/Torvanix';

export default defineConfig({
  base: './',
  publicDir: 'public',
  esbuild: { jsx: 'automatic', jsxImportSource: 'preact' },
  build: {
    target: 'chrome87',
    cssTarget: 'chrome87',
    outDir,
    emptyOutDir: true,
    assetsDir: 'assets',
    // Pictures and icons stay inside the bundle: the pack serves only what it holds, and
    // everything it does not hold would be asked of the network.
    assetsInlineLimit: 8192,
    modulePreload: { polyfill: false },
    reportCompressedSize: false,
    rollupOptions: {
      input: 'client.html',
      output: {
        // The settings pages and what only they use travel as one file, loaded after the shell.
        manualChunks(id) {
          if (/[\\/]src[\\/]pages[\\/]index\.ts$/.test(id)) return undefined;
          if (/[\\/]src[\\/](pages|model|pictures|ui)[\\/]/.test(id) || id.indexOf('vanilla-colorful') >= 0)
            return 'pages';
          return undefined;
        },
      },
    },
  },
  test: {
    environment: 'happy-dom',
    include: ['tests/**/*.test.{ts,tsx}'],
    setupFiles: ['tests/setup.ts'],
    restoreMocks: true,
    testTimeout: 20000,
  },
});
