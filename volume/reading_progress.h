// What the user sees while a scan is read on the UI thread: "Reading
// head.nrrd... 45%" over the window, with a Cancel. Esc or Cancel ends the
// reader, as the window's close box does; the read then fails with "reading
// was stopped" and the volume shown stays.
#pragma once

#include <chrono>
#include <string>

class ReadingProgress {
  public:
    // Shows the progress at once (the fraction unknown until the reader tells).
    explicit ReadingProgress(const std::string& path);
    ~ReadingProgress() { End(); }
    ReadingProgress(const ReadingProgress&) = delete;
    ReadingProgress& operator=(const ReadingProgress&) = delete;

    // OpenScan's ScanProgress and SetScanWait's ScanStopCheck, with this
    // object as their context.
    static void Report(double fraction, void* context);
    static bool StopRequested(void* context);

    // True once the user asked to cancel. A read that ended anyway is then
    // not shown: the user said they no longer want it.
    bool Cancelled() const { return cancelled_; }
    // Takes the progress away (the destructor does, if not done before).
    void End();

  private:
    void Show();

    std::string name_;  // the file's (or the series folder's) name
    double fraction_ = -1;
    std::chrono::steady_clock::time_point shownAt_;
    bool cancelled_ = false;
    bool shown_ = false;
};
