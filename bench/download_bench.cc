// DownloadToFile alone: the download routine and ShowProgress, one full
// report per block, into a window that keeps state and draws nothing. What
// it costs beyond the ceiling is the routine's and the client's own work.
//
//   bench_download URL OUTPUT
//
// Exit status 0 after a download that ended well, with one line on stdout:
// "reports=N captions=N position=N"; 1 otherwise.
#include <cstdio>

#include "app/updater_state.h"
#include "bench/quiet_window.h"
#include "download/download_to_file.h"
#include "download/show_progress.h"
#include "ui/updater_window.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_download URL OUTPUT\n");
    return 2;
  }
  static updater::bench::QuietWindow window;
  updater::SetTheWindow(&window);
  // The banner reads the offered version, as in the program.
  updater::TheUpdaterState().latestVersion = "2.73";

  // ASCII paths are the same bytes in code page 936 and for the OS.
  const int32_t result = updater::DownloadToFile(argv[1], argv[2], updater::ShowProgress);
  std::printf("reports=%lld captions=%lld position=%d\n",
              static_cast<long long>(window.PositionSets()),
              static_cast<long long>(window.CaptionSets()),
              window.ReadPosition(updater::Control::进度条1));
  return result == 0 ? 0 : 1;
}
