import { createContext } from 'preact';
import { useContext } from 'preact/hooks';
import { native, type NativeClient } from './client';

// Components reach the native side through this context: the program's client unless a
// provider above them gives another (a test's fake host). Logic outside components takes the
// client as an argument, which components fill from here.
export const NativeContext = createContext<NativeClient>(native);

export function useNative(): NativeClient {
  return useContext(NativeContext);
}
