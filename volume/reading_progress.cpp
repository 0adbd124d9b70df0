#include "volume/reading_progress.h"

#include <chrono>
#include <cmath>
#include <filesystem>

#include "platform/shell/shell.h"

ReadingProgress::ReadingProgress(const std::string& path) {
    // A series' folder given with a trailing slash is named by its last part.
    std::filesystem::path named(path);
    if (!named.has_filename() && named.has_parent_path())
        named = named.parent_path();
    name_ = named.filename().string();
    shown_ = true;
    Show();
}

void ReadingProgress::Show() {
    shownAt_ = std::chrono::steady_clock::now();
    std::string text = "Reading " + name_ + "...";
    if (fraction_ >= 0)
        text += " " + std::to_string(static_cast<int>(std::floor(fraction_ * 100))) + "%";
    shell::ShowProgress(text.c_str(), fraction_);
}

void ReadingProgress::Report(double fraction, void* context) {
    auto* self = static_cast<ReadingProgress*>(context);
    // Nothing done yet says only that the reader has begun: a bar that sat
    // at 0% would look stuck, the sweep shows it working.
    if (fraction > 0)
        self->fraction_ = std::fmin(fraction, 1.0);
    // A series reports each slice, hundreds a second; ten redraws are plenty.
    if (std::chrono::steady_clock::now() - self->shownAt_ < std::chrono::milliseconds(100))
        return;
    self->Show();
    // A reader that reports often is asked less often to stop: Esc is heard here too.
    self->cancelled_ = self->cancelled_ || shell::CancelRequested();
}

bool ReadingProgress::StopRequested(void* context) {
    auto* self = static_cast<ReadingProgress*>(context);
    self->Show();  // keeps an unknown progress moving
    if (shell::CloseRequested())
        return true;
    self->cancelled_ = self->cancelled_ || shell::CancelRequested();
    return self->cancelled_;
}

void ReadingProgress::End() {
    if (shown_)
        shell::ShowProgress(nullptr, 0);
    shown_ = false;
}
