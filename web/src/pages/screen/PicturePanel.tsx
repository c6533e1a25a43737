import { signal } from '@preact/signals';
import { useEffect, useRef, useState } from 'preact/hooks';
import { formatNumber, formatPercent, t } from '../../i18n';
import { type DeviceSession } from '../../model/session';
import { NativeError } from '../../native/client';
import { useNative } from '../../native/context';
import {
  type FitMode,
  INITIAL_PLACEMENT,
  MAX_ZOOM,
  type Placement,
  SCREEN_HEIGHT,
  SCREEN_WIDTH,
  drawRect,
  isScreenSized,
  pan,
  zoomTo,
} from '../../screen/geometry';
import {
  type ScreenSlot,
  type UploadProblem,
  type UploadStage,
  UploadError,
  expectedSendMs,
  screenSlots,
  sendShare,
  slotDocument,
  uploadPicture,
  sentBytes,
} from '../../screen/upload';
import { showMessage } from '../../state/messages';
import { waitForNotify } from '../../state/notify';
import { ConfirmDialog } from '../../ui/ConfirmDialog';
import { RangeField } from '../../ui/RangeField';

// Pictures larger than this are not decoded in the page.
const MAX_PIXELS = 16 * 1024 * 1024;
const PAN_STEP = 8;

interface Source {
  image: HTMLImageElement;
  // The file the dialog copied into the screen folder, sent unchanged while it is not cropped.
  file: string | null;
  label: string;
}

interface Progress {
  stage: UploadStage;
  share: number;
  problem?: UploadProblem;
}

function loadImage(url: string): Promise<HTMLImageElement> {
  return new Promise((resolve, reject) => {
    const img = new Image();
    img.onload = () => resolve(img);
    img.onerror = () => reject(new Error('not a picture'));
    img.src = url;
  });
}

function readAsDataUrl(file: File): Promise<string> {
  return new Promise((resolve, reject) => {
    const reader = new FileReader();
    reader.onload = () => resolve(String(reader.result));
    reader.onerror = () => reject(reader.error ?? new Error('unreadable'));
    reader.readAsDataURL(file);
  });
}

// What the screen shows of a slot picked and sent in this run (per device and slot), kept
// while the user moves between pages.
const sentPictures = new Map<string, string>();
// The upload of each device. It outlives the page: an upload keeps going when the user looks
// elsewhere, and a second one must not start beside it (both would write the same slot).
const uploads = signal<Record<string, Progress | undefined>>({});
function setUpload(deviceId: string, p: Progress | null): void {
  uploads.value = { ...uploads.value, [deviceId]: p ?? undefined };
}

// The picture being prepared per device, kept while the user looks at another page.
const drafts = new Map<string, { source: Source; placement: Placement }>();

export function PicturePanel({ session }: { session: DeviceSession }) {
  const native = useNative();
  const slots = screenSlots(session.doc.value);
  const [slotNo, setSlotNo] = useState(slots.length ? slots[0].slot : 0);
  const slot: ScreenSlot | undefined = slots.find((s) => s.slot === slotNo) ?? slots[0];
  const draft = drafts.get(session.deviceId);
  const [source, setSource] = useState<Source | null>(draft?.source ?? null);
  const [placement, setPlacement] = useState<Placement>(draft?.placement ?? INITIAL_PLACEMENT);
  const progress = uploads.value[session.deviceId] ?? null;
  const setProgress = (p: Progress | null) => setUpload(session.deviceId, p);
  const [dragOver, setDragOver] = useState(false);
  const [confirmClear, setConfirmClear] = useState(false);
  const canvas = useRef<HTMLCanvasElement>(null);
  const fileInput = useRef<HTMLInputElement>(null);
  const alive = useRef(true);
  const dragFrom = useRef<{ x: number; y: number; scale: number } | null>(null);
  const pickTurn = useRef(0);

  useEffect(() => {
    alive.current = true;
    return () => {
      alive.current = false;
    };
  }, []);

  useEffect(() => {
    if (source) drafts.set(session.deviceId, { source, placement });
  }, [session.deviceId, source, placement]);

  const width = source?.image.naturalWidth ?? 0;
  const height = source?.image.naturalHeight ?? 0;

  useEffect(() => {
    const c = canvas.current;
    const ctx = c?.getContext('2d');
    if (!c || !ctx) return;
    ctx.fillStyle = '#000';
    ctx.fillRect(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT);
    const r = source ? drawRect(placement, width, height) : null;
    if (source && r) {
      ctx.imageSmoothingQuality = 'high';
      ctx.drawImage(source.image, r.sx, r.sy, r.sw, r.sh, r.dx, r.dy, r.dw, r.dh);
    }
  }, [source, placement, width, height]);

  const busy = !!progress && progress.stage !== 'done' && progress.stage !== 'failed';

  const useImage = (image: HTMLImageElement, file: string | null, label: string) => {
    if (image.naturalWidth * image.naturalHeight > MAX_PIXELS) {
      showMessage(() => t('screen.picture.tooLarge'), 'error');
      return;
    }
    setSource({ image, file, label });
    setPlacement(INITIAL_PLACEMENT);
    // The state of an upload still running stays on screen.
    if (!busy) setProgress(null);
  };

  const choose = async () => {
    const turn = ++pickTurn.current;
    let name: string;
    try {
      name = await native.request('OpenFileDialog');
    } catch (e) {
      if (turn !== pickTurn.current || !alive.current) return;
      if (e instanceof NativeError && e.kind === 'timeout') return; // the dialog was cancelled
      showMessage(() => t(e instanceof NativeError && e.kind === 'failure' ? 'screen.picture.wrongSize' : 'screen.notSent'), 'error');
      return;
    }
    if (turn !== pickTurn.current || !alive.current) return;
    try {
      // The program serves the screen folder's pictures back to the page.
      const image = await loadImage(new URL(`../screen/${encodeURIComponent(name)}`, location.href).href);
      if (alive.current) useImage(image, name, name);
    } catch {
      if (alive.current) showMessage(() => t('screen.picture.unreadable'), 'error');
    }
  };

  const openAny = async (file: File | undefined) => {
    if (!file) return;
    if (file.type && !file.type.startsWith('image/')) {
      showMessage(() => t('screen.picture.unreadable'), 'error');
      return;
    }
    try {
      const image = await loadImage(await readAsDataUrl(file));
      if (alive.current) useImage(image, null, file.name);
    } catch {
      if (alive.current) showMessage(() => t('screen.picture.unreadable'), 'error');
    }
  };

  const send = async () => {
    if (!source || !slot || !canvas.current) return;
    // A picture of the screen's size that was not moved goes as the file it is; anything else
    // as the picture the preview shows.
    const asIs = source.file && isScreenSized(width, height) && placement.mode === 'fill' && placement.zoom === 1;
    const png = asIs ? undefined : canvas.current.toDataURL('image/png').replace(/^data:image\/png;base64,/, '');
    const preview = canvas.current.toDataURL('image/png');
    let started = 0;
    let timer: ReturnType<typeof setInterval> | null = null;
    const stop = () => {
      if (timer !== null) clearInterval(timer);
      timer = null;
    };
    setProgress({ stage: 'storing', share: 0 });
    try {
      const sent = await uploadPicture(
        native,
        { doc: session.doc.peek(), slot, pictureFile: asIs ? source.file ?? undefined : undefined, pngBase64: png },
        (timeoutMs) =>
          waitForNotify(session.identity, (d) => sentBytes(d.text) !== null, timeoutMs).then((d) => d.text),
        (stage) => {
          if (stage === 'sending') {
            started = Date.now();
            stop();
            timer = setInterval(() => {
              setProgress({ stage: 'sending', share: sendShare(Date.now() - started) });
            }, 500);
          }
          setProgress({ stage, share: stage === 'sending' ? 0 : stage === 'done' ? 1 : 0 });
        },
      );
      stop();
      sentPictures.set(`${session.deviceId}#${slot.slot}`, preview);
      setProgress({ stage: 'done', share: 1 });
      showMessage(() => t('screen.picture.sent', { slot: slot.slot + 1, bytes: formatNumber(sent) }), 'success');
    } catch (e) {
      stop();
      const problem = e instanceof UploadError ? e.problem : 'notSent';
      setProgress({ stage: 'failed', share: 0, problem });
      showMessage(() => t(`screen.problem.${problem}`), 'error');
    }
  };

  const clearSlot = () => {
    setConfirmClear(false);
    if (!slot) return;
    if (!native.send('NoticeModify', { XmlConfigStr: slotDocument(session.doc.peek(), slot, 'del') })) {
      showMessage(() => t('screen.notSent'), 'error');
      return;
    }
    sentPictures.delete(`${session.deviceId}#${slot.slot}`);
    showMessage(() => t('screen.picture.cleared', { slot: slot.slot + 1 }));
  };

  const onKeyDown = (e: KeyboardEvent) => {
    if (!source || placement.mode === 'fit') return;
    const d: Record<string, [number, number]> = {
      ArrowLeft: [PAN_STEP, 0],
      ArrowRight: [-PAN_STEP, 0],
      ArrowUp: [0, PAN_STEP],
      ArrowDown: [0, -PAN_STEP],
    };
    const step = d[e.key];
    if (step) {
      e.preventDefault();
      setPlacement((p) => pan(p, step[0], step[1], width, height));
    } else if (e.key === '+' || e.key === '=') {
      e.preventDefault();
      setPlacement((p) => zoomTo(p, p.zoom * 1.25, width, height));
    } else if (e.key === '-') {
      e.preventDefault();
      setPlacement((p) => zoomTo(p, p.zoom / 1.25, width, height));
    }
  };

  const onPointerDown = (e: PointerEvent) => {
    if (!source || placement.mode === 'fit' || !canvas.current) return;
    const rect = canvas.current.getBoundingClientRect();
    dragFrom.current = { x: e.clientX, y: e.clientY, scale: rect.width > 0 ? SCREEN_WIDTH / rect.width : 1 };
    canvas.current.setPointerCapture(e.pointerId);
  };
  const onPointerMove = (e: PointerEvent) => {
    const from = dragFrom.current;
    if (!from) return;
    const dx = (e.clientX - from.x) * from.scale;
    const dy = (e.clientY - from.y) * from.scale;
    dragFrom.current = { ...from, x: e.clientX, y: e.clientY };
    setPlacement((p) => pan(p, dx, dy, width, height));
  };
  const endDrag = () => {
    dragFrom.current = null;
  };

  const onDrop = (e: DragEvent) => {
    e.preventDefault();
    setDragOver(false);
    void openAny(e.dataTransfer?.files?.[0]);
  };

  const sentBefore = slot ? sentPictures.get(`${session.deviceId}#${slot.slot}`) : undefined;
  const previewName = source
    ? t('screen.picture.preview', { name: source.label, mode: t(`screen.mode.${placement.mode}`) })
    : t('screen.picture.empty');

  return (
    <section class="screen-section" aria-labelledby="screen-picture-title">
      <h2 id="screen-picture-title">{t('screen.picture.title')}</h2>
      <p class="page-note">{t('screen.picture.about')}</p>
      {slots.length > 1 && (
        <fieldset class="screen-slots">
          <legend>{t('screen.slot.choose')}</legend>
          {slots.map((s) => (
            <label key={s.slot}>
              <input type="radio" name="screen-slot" checked={s.slot === slot?.slot} disabled={busy} onChange={() => setSlotNo(s.slot)} />
              {t('screen.slot.n', { n: s.slot + 1 })}
            </label>
          ))}
        </fieldset>
      )}
      <div class="screen-editor">
        <div
          class={dragOver ? 'screen-drop over' : 'screen-drop'}
          onDragOver={(e) => {
            e.preventDefault();
            setDragOver(true);
          }}
          onDragLeave={() => setDragOver(false)}
          onDrop={onDrop}
        >
          <canvas
            ref={canvas}
            width={SCREEN_WIDTH}
            height={SCREEN_HEIGHT}
            class={source && placement.mode === 'fill' ? 'screen-canvas movable' : 'screen-canvas'}
            role="img"
            aria-label={previewName}
            tabIndex={source ? 0 : -1}
            onKeyDown={onKeyDown}
            onPointerDown={onPointerDown}
            onPointerMove={onPointerMove}
            onPointerUp={endDrag}
            onPointerCancel={endDrag}
          />
          <p class="screen-drop-hint">{source ? t('screen.picture.moveHint') : t('screen.picture.dropHint')}</p>
        </div>
        <div class="screen-controls">
          <div class="screen-buttons">
            <button type="button" class="button" disabled={busy} onClick={() => void choose()}>
              {t('screen.picture.choose')}
            </button>
            <button type="button" class="button" disabled={busy} onClick={() => fileInput.current?.click()}>
              {t('screen.picture.openAny')}
            </button>
            <input
              ref={fileInput}
              type="file"
              accept="image/*"
              class="visually-hidden"
              tabIndex={-1}
              aria-hidden="true"
              onChange={(e) => {
                const input = e.currentTarget;
                void openAny(input.files?.[0]);
                input.value = '';
              }}
            />
          </div>
          <fieldset class="screen-fit" disabled={!source || busy}>
            <legend>{t('screen.mode.title')}</legend>
            {(['fill', 'fit'] as FitMode[]).map((m) => (
              <label key={m}>
                <input type="radio" name="screen-fit" checked={placement.mode === m} onChange={() => setPlacement((p) => zoomTo({ ...p, mode: m }, m === 'fit' ? 1 : p.zoom, width, height))} />
                {t(`screen.mode.${m}`)}
              </label>
            ))}
          </fieldset>
          <RangeField
            label={t('screen.zoom')}
            value={Math.round(placement.zoom * 100)}
            min={100}
            max={MAX_ZOOM * 100}
            step={5}
            unit="%"
            disabled={!source || busy || placement.mode === 'fit'}
            onCommit={(v) => setPlacement((p) => zoomTo(p, v / 100, width, height))}
          />
          <div class="screen-buttons">
            <button type="button" class="button primary" disabled={!source || busy || !slot} onClick={() => void send()}>
              {slots.length > 1 && slot ? t('screen.picture.sendToSlot', { n: slot.slot + 1 }) : t('screen.picture.send')}
            </button>
            <button type="button" class="button danger-outline" disabled={busy || !slot} onClick={() => setConfirmClear(true)}>
              {t('screen.picture.clear')}
            </button>
          </div>
        </div>
      </div>
      {progress && (
        <div class="screen-progress">
          <div
            class="progress-bar"
            role="progressbar"
            aria-label={t('screen.picture.progress')}
            aria-valuemin={0}
            aria-valuemax={100}
            aria-valuenow={Math.round(progress.share * 100)}
            aria-valuetext={t(`screen.stage.${progress.stage}`)}
          >
            <span style={{ width: `${Math.round(progress.share * 100)}%` }} />
          </div>
          <p role="status" class={progress.stage === 'failed' ? 'page-note warn' : 'page-note'}>
            {progress.stage === 'sending'
              ? t('screen.stage.sendingAbout', {
                  share: formatPercent(progress.share),
                  seconds: formatNumber(Math.max(1, Math.round((expectedSendMs() * (1 - progress.share)) / 1000))),
                })
              : progress.stage === 'failed'
                ? t(`screen.problem.${progress.problem ?? 'notSent'}`)
                : t(`screen.stage.${progress.stage}`)}
          </p>
          {progress.stage === 'sending' && <p class="page-note">{t('screen.picture.keepPlugged')}</p>}
        </div>
      )}
      {sentBefore && (
        <figure class="screen-sent">
          <img src={sentBefore} width={SCREEN_WIDTH / 2} height={SCREEN_HEIGHT / 2} alt={t('screen.picture.lastSentAlt', { slot: (slot?.slot ?? 0) + 1 })} />
          <figcaption>{t('screen.picture.lastSent')}</figcaption>
        </figure>
      )}
      <ConfirmDialog
        open={confirmClear}
        title={t('screen.picture.clearTitle')}
        message={t('screen.picture.clearQuestion', { slot: (slot?.slot ?? 0) + 1 })}
        confirmLabel={t('screen.picture.clearConfirm')}
        cancelLabel={t('ui.cancel')}
        danger
        onConfirm={clearSlot}
        onCancel={() => setConfirmClear(false)}
      />
    </section>
  );
}
