// A bar on standard error that redraws in place; silent when standard error is not a terminal,
// so that logs and pipes see only the outcome.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace cli {

class ProgressBar {
  public:
    explicit ProgressBar(std::string label)
        : enabled_(::isatty(STDERR_FILENO) != 0), label_(std::move(label)) {}
    ~ProgressBar() { Close(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Show(int percent) {
        if (!enabled_ || percent == shown_) return;
        if (percent < 0) percent = 0;
        if (percent > 100) percent = 100;
        shown_ = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        const int filled = percent * kWidth / 100;
        for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
        bar[kWidth] = '\0';
        std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar, percent);
        std::fflush(stderr);
    }
    // Ends the bar's line, so that what is printed next starts on a line of its own.
    void Close() {
        if (enabled_ && shown_ >= 0) std::fputc('\n', stderr);
        shown_ = -1;
    }

  private:
    bool enabled_;
    int shown_ = -1;
    std::string label_;
};

}  // namespace cli
