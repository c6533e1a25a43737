// Reads the model templates, function tables and the native golden documents from the tree.
import { readFileSync } from 'fs';
import { resolve } from 'path';

const repo = resolve(__dirname, '../../..');

export function drive(name: string): string {
  return readFileSync(resolve(repo, 'client/resources/drive', name), 'utf8');
}

export function model(file: string): string {
  return drive(`models/${file}`);
}

export function golden(name: string): string {
  return readFileSync(resolve(repo, 'tests/translate/data/d2', name), 'utf8');
}
