import { t, type TextKey } from '../../i18n';
import { DISABLED_TYPE } from '../../model/builders';
import { canonicalKeyName, keySpokenName } from '../../pictures/keyboardLayout';
import type { KeyDef, MacroRow } from '../../model/template';

// The function table's task names are the device's own; the page names them in the user's
// language.
const FUNCTION_TEXT: Record<string, TextKey> = {
  '单击左键()': 'fn.leftClick',
  '单击右键()': 'fn.rightClick',
  '单击中键()': 'fn.middleClick',
  '单击后退键()': 'fn.back',
  '单击前进键()': 'fn.forward',
  '精准定位': 'fn.precision',
  '锁定X轴': 'fn.lockX',
  '锁定Y轴': 'fn.lockY',
  'DPI循环': 'fn.dpiCycle',
  'DPI+': 'fn.dpiUp',
  'DPI-': 'fn.dpiDown',
  '向上滚动': 'fn.scrollUp',
  '向下滚动': 'fn.scrollDown',
  '向左滚动': 'fn.scrollLeft',
  '向右滚动': 'fn.scrollRight',
  '报告率+': 'fn.rateUp',
  '报告率-': 'fn.rateDown',
  LiftUp: 'fn.liftUp',
  LiftDown: 'fn.liftDown',
  SwitchLight: 'fn.lightSwitch',
  ResetToDefaults: 'fn.factoryReset',
  '网页搜索': 'fn.webSearch',
  '网页主页': 'fn.webHome',
  '网页后退': 'fn.webBack',
  '网页前进': 'fn.webForward',
  '网页停止': 'fn.webStop',
  '网页刷新': 'fn.webRefresh',
  '网页书签': 'fn.webFavourites',
  '亮度+': 'fn.brightnessUp',
  '亮度-': 'fn.brightnessDown',
  '媒体播放器': 'fn.mediaPlayer',
  '计算器': 'fn.calculator',
  '我的电脑': 'fn.myComputer',
  '电子邮件': 'fn.email',
  '主页': 'fn.home',
  '播放/暂停': 'fn.playPause',
  '停止': 'fn.stop',
  '上一曲目': 'fn.previous',
  '下一曲目': 'fn.next',
  '提高音量': 'fn.volumeUp',
  '降低音量': 'fn.volumeDown',
  '静音': 'fn.mute',
};

export function functionText(task: string): string {
  const key = FUNCTION_TEXT[task];
  return key ? t(key) : task;
}

// Mouse buttons are named by what they are on the mouse, which their own function tells.
const BUTTON_TEXT: Record<string, TextKey> = {
  '单击左键()': 'keys.mouse.left',
  '单击右键()': 'keys.mouse.right',
  '单击中键()': 'keys.mouse.middle',
  '单击后退键()': 'keys.mouse.back',
  '单击前进键()': 'keys.mouse.forward',
  'DPI循环': 'keys.mouse.dpi',
};

export function mouseButtonName(key: KeyDef, n: number): string {
  const k = BUTTON_TEXT[key.value];
  return k ? t('keys.buttonNamed', { n, name: t(k) }) : t('keys.button', { n });
}

// Where a button sits, for the list beside the drawing ("4 — side, back"): the drawing shows
// where, the list says it in words.
const BUTTON_PLACE: Record<string, TextKey> = {
  '单击左键()': 'keys.place.left',
  '单击右键()': 'keys.place.right',
  '单击中键()': 'keys.place.middle',
  '单击后退键()': 'keys.place.back',
  '单击前进键()': 'keys.place.forward',
  'DPI循环': 'keys.place.dpi',
  'DPI+': 'keys.place.dpiUp',
  'DPI-': 'keys.place.dpiDown',
};

export const buttonNumber = (key: KeyDef) => parseInt(key.name.replace(/^\D+/, ''), 10) || 0;

/** "4 — side, back", or "7" for a button the page has no place for. */
export function mouseButtonPlace(key: KeyDef): string {
  const n = buttonNumber(key);
  const k = BUTTON_PLACE[key.value];
  return k ? t('keys.placed', { n, place: t(k) }) : String(n);
}

/** "Ctrl+Alt+DELETE" as the user reads it. */
export function combinationLabel(task: string): string {
  const parts = task === '+' ? ['+'] : task.endsWith('++') ? task.slice(0, -2).split('+').filter(Boolean).concat('+') : task.split('+');
  return parts.map((p) => (['Ctrl', 'Shift', 'Alt', 'Win'].indexOf(p) >= 0 ? p : keySpokenName(canonicalKeyName(p)))).join('+');
}

/** What a key does now, in words. */
export function describeAssignment(key: KeyDef, macros: MacroRow[]): string {
  const type = key.type.toUpperCase();
  if (type === DISABLED_TYPE) return t('keys.disabled');
  if (type === 'KEYBOARD' || type === 'HOTKEY') return combinationLabel(key.task);
  if (type === 'MACRO') {
    const m = macros.find((r) => r.index === key.task || (r.text !== '' && r.text === key.task));
    const n = m ? parseInt(m.name.replace(/^\D+/, ''), 10) : NaN;
    return Number.isFinite(n) ? t('keys.macroNamed', { n }) : t('keys.kind.macro');
  }
  if (key.task) return functionText(key.task);
  return t('keys.unknownFunction');
}
