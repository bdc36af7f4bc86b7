// What libraries built on GLib print of their own accord.
#pragma once

namespace platform {

// While one of these exists, critical messages that GLib-based code without a log domain of its
// own prints (failed assertions inside a library) are dropped instead of reaching standard error.
// For calls known to set such a library off on input it merely rejects, whose failure the caller
// reports in its own words.
class QuietLibraryCriticals {
  public:
    QuietLibraryCriticals();
    ~QuietLibraryCriticals();
    QuietLibraryCriticals(const QuietLibraryCriticals&) = delete;
    QuietLibraryCriticals& operator=(const QuietLibraryCriticals&) = delete;

  private:
    unsigned handler_ = 0;
};

}  // namespace platform
