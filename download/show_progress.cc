#include "download/show_progress.h"

#include "app/updater_state.h"
#include "text/literals.h"
#include "text/text.h"
#include "ui/updater_window.h"

namespace updater {

namespace lit = literals;

namespace {

// Hours are not folded into days: 1953115 s reads "542时31分55秒".
std::string RemainingTimeCaption(int32_t remainingSeconds) {
  const double n = remainingSeconds;
  const double hours = WholeDivide(n, 3600);
  const double minutes = Remainder(WholeDivide(n, 60), 60);
  const double seconds = Remainder(n, 60);
  return JoinText(lit::kRemainingLabel, NumberToText(hours), lit::kHours, NumberToText(minutes),
                  lit::kMinutes, NumberToText(seconds), lit::kSeconds);
}

}  // namespace

void ShowProgress(int32_t totalBytes, int32_t receivedBytes, int32_t elapsedMs,
                  int32_t transferBytes) {
  UpdaterWindow& window = TheWindow();
  const double total = totalBytes;
  const double received = receivedBytes;

  window.SetCaption(Control::标签4, JoinText(lit::kBannerPrefix, TheUpdaterState().latestVersion));

  const double sizeKb = RoundTo(total / 1024, 2);
  window.SetCaption(Control::标签6, JoinText(lit::kFileSizeLabel, NumberToText(sizeKb), lit::kKb));

  const double receivedKb = RoundTo(received / 1024, 2);
  window.SetCaption(Control::标签7,
                    JoinText(lit::kReceivedLabel, NumberToText(receivedKb), lit::kKbLineEnd));

  const double seconds = WholeDivide(elapsedMs, 1000);
  window.SetCaption(Control::标签8,
                    JoinText(lit::kElapsedLabel, NumberToText(seconds), lit::kSecondsLineEnd));

  // Multiplication first, then each division, every step rounded to a double.
  const double speed = RoundTo(static_cast<double>(transferBytes) * 1000 / 1024 / elapsedMs, 2);
  window.SetCaption(Control::标签9,
                    JoinText(lit::kSpeedLabel, NumberToText(speed), lit::kKbPerSecondLineEnd));

  // Without a total, or with less announced than already arrived, there is
  // no remaining time to tell: 标签10 keeps what it showed.
  const bool remainingKnown = totalBytes > 0 && totalBytes >= receivedBytes;
  if (speed > 1e-7 && remainingKnown) {
    const double remaining = (total - received) / 1024 / speed;
    window.SetCaption(Control::标签10, RemainingTimeCaption(ToWholeNumber(remaining)));
  }

  // No total makes the quotient infinite, which stores as 0.
  window.SetPosition(Control::进度条1, StoreAsInteger<int32_t>(received * 10000 / total));
  const double position = window.ReadPosition(Control::进度条1);
  window.SetCaption(Control::标签5,
                    JoinText(lit::kProgressLabel, NumberToText(position / 100), lit::kPercent));
}

}  // namespace updater
