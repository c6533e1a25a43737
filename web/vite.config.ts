/// <reference types="vitest/config" />
import { defineConfig } from 'vite';

// The page runs in the program's embedded engine, Chromium 87. Syntax is lowered to it here.
// Functions newer than that engine are not supplied: the type check (lib ES2020) and the
// compatibility lint refuse them in the sources, so nothing has to be bundled for them.
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
      // The main page, the hot-key panel the program opens as a pop-up, and the offline help
      // page (also what the endpoint's root is answered with). They share the native client,
      // the language machinery and the base styles; each brings only its own texts.
      input: {
        client: 'client.html',
        quick_set: 'quick_set.html',
        help: 'bbs/index.html',
      },
      output: {
        // The settings pages and what only they use travel as one file, loaded after the shell.
        manualChunks(id) {
          if (/[\\/]src[\\/]pages[\\/]index\.ts$/.test(id)) return undefined;
          // The window bar's language and theme controls serve the help page too.
          if (/[\\/]src[\\/]ui[\\/]LookControls/.test(id)) return 'common';
          if (/[\\/]src[\\/](pages|model|pictures|ui)[\\/]/.test(id) || id.indexOf('vanilla-colorful') >= 0)
            return 'pages';
          // What every page needs goes into one file of its own; left to the bundler, part of
          // it (preact's hooks) lands in the settings pages' file and the small pages load it.
          if (
            /[\\/]node_modules[\\/](preact|@preact)[\\/]/.test(id) ||
            /[\\/]src[\\/](native[\\/]|i18n[\\/](core|quickset)|state[\\/]prefs|styles[\\/]base)/.test(id)
          )
            return 'common';
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
