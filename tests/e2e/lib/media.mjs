// Sound files the scenarios play: a 440 Hz tone, 8 kHz stereo, 16-bit.

// `seconds` long; with `pulse` its loudness changes every half second, so lighting that
// follows the level keeps changing, where a steady tone settles on one step.
export function toneWav(seconds, { pulse = false } = {}) {
  const rate = 8000;
  const frames = rate * seconds;
  const data = Buffer.alloc(frames * 4);
  for (let i = 0; i < frames; i++) {
    const loud = !pulse || Math.floor(i / (rate / 2)) % 2 === 0;
    const v = Math.round(Math.sin((2 * Math.PI * 440 * i) / rate) * (loud ? 20000 : 1500));
    data.writeInt16LE(v, i * 4);
    data.writeInt16LE(v, i * 4 + 2);
  }
  const h = Buffer.alloc(44);
  h.write('RIFF', 0, 'latin1');
  h.writeUInt32LE(36 + data.length, 4);
  h.write('WAVEfmt ', 8, 'latin1');
  h.writeUInt32LE(16, 16);
  h.writeUInt16LE(1, 20);
  h.writeUInt16LE(2, 22);
  h.writeUInt32LE(rate, 24);
  h.writeUInt32LE(rate * 4, 28);
  h.writeUInt16LE(4, 32);
  h.writeUInt16LE(16, 34);
  h.write('data', 36, 'latin1');
  h.writeUInt32LE(data.length, 40);
  return Buffer.concat([h, data]);
}
