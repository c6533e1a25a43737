import { useEffect, useRef, useState } from 'preact/hooks';
import { formatNumber, t, type TextKey } from '../../i18n';
import { type DeviceSession } from '../../model/session';
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
import { type ScreenSlot, screenSlots, slotDocument } from '../../screen/upload';
import { showMessage } from '../../state/messages';
import { ConfirmDialog } from '../../ui/ConfirmDialog';
import { useLatestDialog } from '../../ui/fileDialog';
import { RangeField } from '../../ui/RangeField';
import {
  type Source,
  ZOOM_STEP,
  draftOf,
  forgetSentPicture,
  isBusy,
  keepDraft,
  keyStep,
  loadImage,
  readAsDataUrl,
  sendToSlot,
  sentPicture,
  setUpload,
  uploads,
} from './pictureStore';
import { UploadProgress } from './UploadProgress';

// Pictures larger than this are not decoded in the page.
const MAX_PIXELS = 16 * 1024 * 1024;

export function PicturePanel({ session }: { session: DeviceSession }) {
  const native = useNative();
  const slots = screenSlots(session.doc.value);
  const [slotNo, setSlotNo] = useState(slots.length ? slots[0].slot : 0);
  const slot: ScreenSlot | undefined = slots.find((s) => s.slot === slotNo) ?? slots[0];
  const draft = draftOf(session.deviceId);
  const [source, setSource] = useState<Source | null>(draft?.source ?? null);
  const [placement, setPlacement] = useState<Placement>(draft?.placement ?? INITIAL_PLACEMENT);
  const progress = uploads.value[session.deviceId] ?? null;
  const [dragOver, setDragOver] = useState(false);
  const [confirmClear, setConfirmClear] = useState(false);
  const canvas = useRef<HTMLCanvasElement>(null);
  const fileInput = useRef<HTMLInputElement>(null);
  const alive = useRef(true);
  const dragFrom = useRef<{ x: number; y: number; scale: number } | null>(null);
  const askFile = useLatestDialog();

  useEffect(() => {
    alive.current = true;
    return () => {
      alive.current = false;
    };
  }, []);

  useEffect(() => {
    if (source) keepDraft(session.deviceId, source, placement);
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

  const busy = isBusy(progress);

  const useImage = (image: HTMLImageElement, file: string | null, label: string) => {
    if (image.naturalWidth * image.naturalHeight > MAX_PIXELS) {
      showMessage(() => t('screen.picture.tooLarge'), 'error');
      return;
    }
    setSource({ image, file, label });
    setPlacement(INITIAL_PLACEMENT);
    // The state of an upload still running stays on screen.
    if (!busy) setUpload(session.deviceId, null);
  };

  const choose = async () => {
    const r = await askFile(() => native.request('OpenFileDialog'));
    if (!r || !alive.current) return;
    if (!r.ok) {
      showMessage(() => t(r.kind === 'failure' ? 'screen.picture.wrongSize' : 'screen.notSent'), 'error');
      return;
    }
    const name = r.value;
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
    const r = await sendToSlot(native, session, slot, { file: asIs ? source.file ?? undefined : undefined, png, preview });
    if (r.ok) showMessage(() => t('screen.picture.sent', { slot: slot.slot + 1, bytes: formatNumber(r.bytes) }), 'success');
    else showMessage(() => t(`screen.problem.${r.problem}` as TextKey), 'error');
  };

  const clearSlot = () => {
    setConfirmClear(false);
    if (!slot) return;
    if (!native.send('NoticeModify', { XmlConfigStr: slotDocument(session.doc.peek(), slot, 'del') })) {
      showMessage(() => t('screen.notSent'), 'error');
      return;
    }
    forgetSentPicture(session.deviceId, slot.slot);
    showMessage(() => t('screen.picture.cleared', { slot: slot.slot + 1 }));
  };

  const onKeyDown = (e: KeyboardEvent) => {
    if (!source || placement.mode === 'fit') return;
    const step = keyStep(e.key);
    if (!step) return;
    e.preventDefault();
    if ('pan' in step) setPlacement((p) => pan(p, step.pan[0], step.pan[1], width, height));
    else setPlacement((p) => zoomTo(p, step.zoom > 0 ? p.zoom * ZOOM_STEP : p.zoom / ZOOM_STEP, width, height));
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

  const sentBefore = slot ? sentPicture(session.deviceId, slot.slot) : undefined;
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
      {progress && <UploadProgress progress={progress} />}
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
