import js from '@eslint/js';
import tseslint from 'typescript-eslint';
import compat from 'eslint-plugin-compat';
import globals from 'globals';

export default tseslint.config(
  { ignores: ['dist/**', 'node_modules/**', 'public/**'] },
  js.configs.recommended,
  ...tseslint.configs.recommended,
  {
    files: ['src/**/*.{ts,tsx}'],
    ...compat.configs['flat/recommended'],
    languageOptions: { globals: globals.browser },
  },
  {
    files: ['src/**/*.{ts,tsx}'],
    rules: {
      // One top-level await stops the whole module in the embedded engine.
      'no-restricted-syntax': [
        'error',
        { selector: 'Program > ExpressionStatement > AwaitExpression', message: 'No top-level await: the embedded engine rejects the module.' },
        { selector: 'Program > VariableDeclaration AwaitExpression', message: 'No top-level await: the embedded engine rejects the module.' },
      ],
      '@typescript-eslint/no-unused-vars': ['error', { argsIgnorePattern: '^_' }],
    },
  },
  {
    files: ['tests/**/*.{ts,tsx}', '*.config.{js,ts}'],
    languageOptions: { globals: { ...globals.browser, ...globals.node } },
  },
);
