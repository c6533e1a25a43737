import { area } from './core';

const sync = {
  en: {
    'page.sync': 'Lighting sync',
    'sync.title': 'Lighting sync',
    'sync.intro': 'These devices can follow one lighting together. Choose an effect and a colour for each, then apply them to all at once.',
    'sync.effectFor': 'Effect of {name}',
    'sync.colourFor': 'Colour of {name}',
    'sync.hexFor': 'Hex colour of {name}',
    'sync.colourArea': 'Saturation and brightness',
    'sync.hue': 'Hue',
    'sync.leave': 'Leave as it is',
    'sync.steady': 'Steady colour',
    'sync.effectN': 'Effect {n}',
    'sync.ownColours': 'This effect plays in the device’s own colours.',
    'sync.apply': 'Apply to all',
    'sync.sent.one': 'Sent to {count} device. The devices do not confirm lighting sync.',
    'sync.sent.other': 'Sent to {count} devices. The devices do not confirm lighting sync.',
    'sync.notSent': 'Torvanix did not take the request',
  },
  zh: {
    'page.sync': '灯光同步',
    'sync.title': '灯光同步',
    'sync.intro': '这些设备可以一起跟随同一灯光。为每个设备选择效果和颜色，然后一次应用到所有设备。',
    'sync.effectFor': '{name} 的效果',
    'sync.colourFor': '{name} 的颜色',
    'sync.hexFor': '{name} 的十六进制颜色',
    'sync.colourArea': '饱和度和亮度',
    'sync.hue': '色相',
    'sync.leave': '保持不变',
    'sync.steady': '常亮颜色',
    'sync.effectN': '效果 {n}',
    'sync.ownColours': '此效果使用设备自带的颜色。',
    'sync.apply': '全部应用',
    'sync.sent.one': '已发送到 {count} 个设备。设备不会确认灯光同步。',
    'sync.sent.other': '已发送到 {count} 个设备。设备不会确认灯光同步。',
    'sync.notSent': 'Torvanix 未接受该请求',
  },
};

export default area(sync);
