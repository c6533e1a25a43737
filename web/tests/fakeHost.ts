import { h, type ComponentChild } from 'preact';
import { vi } from 'vitest';
import { createClient, type ClientRequestOptions, type NativeHost } from '../src/native/client';
import { NativeContext } from '../src/native/context';

// A stand-in for the program's bridge: records queries and lets a test answer them.
export interface FakeHost extends NativeHost {
  queries: Array<ClientRequestOptions & { id: number }>;
  cancelled: number[];
  callbacks: Map<string, (args: unknown[]) => unknown>;
  registrations: string[];
  answer(index: number, text: string): void;
  fail(index: number, code: number, text: string): void;
  raise(event: string, args: unknown[]): void;
}

export function fakeHost(): FakeHost {
  let nextId = 1;
  const host: FakeHost = {
    queries: [],
    cancelled: [],
    callbacks: new Map(),
    registrations: [],
    ClientRequest: (o) => {
      const id = nextId++;
      host.queries.push({ ...o, id });
      return id;
    },
    cefQueryCancel: (id) => {
      host.cancelled.push(id);
    },
    setMessageCallback: (name, fn) => {
      host.registrations.push(name);
      if (!host.callbacks.has(name)) host.callbacks.set(name, fn);
    },
    setTimeout: (fn, ms) => setTimeout(fn, ms),
    clearTimeout: (h) => clearTimeout(h),
    answer(index, text) {
      host.queries[index].onSuccess?.(text);
    },
    fail(index, code, text) {
      host.queries[index].onFailure?.(code, text);
    },
    raise(event, args) {
      host.callbacks.get(event)?.(args);
    },
  };
  return host;
}

export function useFakeTimers() {
  vi.useFakeTimers();
  return () => vi.useRealTimers();
}

// The component under a client of its own on the given host, in place of the program's.
export function withNative(host: NativeHost, ui: ComponentChild): ComponentChild {
  return h(NativeContext.Provider, { value: createClient(host) }, ui);
}
