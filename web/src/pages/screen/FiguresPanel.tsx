import { useEffect, useRef, useState } from 'preact/hooks';
import { formatNumber, t } from '../../i18n';
import { useNative } from '../../native/context';
import { type Figures, HISTORY, Poller, chartPath, niceMax, parseFigures, pushSample } from '../../screen/figures';

const CHART_W = 240;
const CHART_H = 64;

interface ChartProps {
  title: string;
  values: number[];
  unit: string;
  floor: number;
  summary: string;
}

function Chart({ title, values, unit, floor, summary }: ChartProps) {
  const max = niceMax(values, floor);
  const line = chartPath(values, CHART_W, CHART_H, max, HISTORY);
  return (
    <figure class="figure-chart">
      <figcaption>{title}</figcaption>
      <svg viewBox={`0 0 ${CHART_W} ${CHART_H}`} role="img" aria-label={summary} preserveAspectRatio="none">
        <line class="chart-grid" x1="0" x2={CHART_W} y1={CHART_H / 2} y2={CHART_H / 2} />
        {line && <path class="chart-line" d={line} />}
      </svg>
      <span class="chart-scale" aria-hidden="true">
        {formatNumber(max)} {unit}
      </span>
    </figure>
  );
}

// The system figures the keyboard's screen shows, asked for while they are on screen.
export function FiguresPanel() {
  const native = useNative();
  const [history, setHistory] = useState<Figures[]>([]);
  const [failed, setFailed] = useState(false);
  const poller = useRef<Poller | null>(null);

  useEffect(() => {
    let alive = true;
    const p = new Poller(() =>
      native.request('GetPerformance', {}, { timeoutMs: 5000 }).then((answer) => {
        const f = parseFigures(answer);
        if (!f) throw new Error('unreadable figures');
        if (!alive) return;
        setFailed(false);
        setHistory((h) => pushSample(h, f));
      }).catch((e: unknown) => {
        if (alive) setFailed(true);
        throw e;
      }),
    );
    poller.current = p;
    const follow = () => {
      if (document.visibilityState === 'hidden') p.stop();
      else p.start();
    };
    follow();
    document.addEventListener('visibilitychange', follow);
    return () => {
      alive = false;
      document.removeEventListener('visibilitychange', follow);
      p.stop();
    };
  }, []);

  const last = history.length ? history[history.length - 1] : null;
  const fmt = (n: number) => formatNumber(n, { minimumFractionDigits: 2, maximumFractionDigits: 2 });
  const clock = last ? t('screen.figures.ghz', { value: fmt(last.clockGHz) }) : '—';
  const memory = last ? t('screen.figures.gb', { value: fmt(last.memoryGB) }) : '—';
  const rate = last && last.queriesPerSecond !== null ? t('screen.figures.perSecond', { value: fmt(last.queriesPerSecond) }) : t('screen.figures.counting');
  return (
    <section class="screen-section" aria-labelledby="screen-figures-title">
      <h2 id="screen-figures-title">{t('screen.figures.title')}</h2>
      <p class="page-note">{t('screen.figures.about')}</p>
      <dl class="figure-values">
        <div>
          <dt>{t('screen.figures.clock')}</dt>
          <dd data-figure="clock">{clock}</dd>
        </div>
        <div>
          <dt>{t('screen.figures.memory')}</dt>
          <dd data-figure="memory">{memory}</dd>
        </div>
        <div>
          <dt>{t('screen.figures.rate')}</dt>
          <dd data-figure="rate">{rate}</dd>
        </div>
      </dl>
      <div class="figure-charts">
        <Chart
          title={t('screen.figures.clock')}
          values={history.map((f) => f.clockGHz)}
          unit="GHz"
          floor={1}
          summary={t('screen.figures.clockChart', { value: clock })}
        />
        <Chart
          title={t('screen.figures.memory')}
          values={history.map((f) => f.memoryGB)}
          unit="GB"
          floor={1}
          summary={t('screen.figures.memoryChart', { value: memory })}
        />
      </div>
      {failed && (
        <p class="page-note warn" role="status">
          {t('screen.figures.failed')}
        </p>
      )}
    </section>
  );
}
