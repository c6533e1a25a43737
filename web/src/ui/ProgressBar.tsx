// A determinate progress bar, 0 to 100.
export function ProgressBar({ label, value }: { label: string; value: number }) {
  const v = Math.max(0, Math.min(100, Math.round(value)));
  return (
    <div class="update-progress" role="progressbar" aria-label={label} aria-valuemin={0} aria-valuemax={100} aria-valuenow={v}>
      <div class="update-progress-fill" style={{ width: `${v}%` }} />
    </div>
  );
}
