#pragma once
// The activity log: "Zentrovia.log" beside the executable, one line per message:
// "DD/MM/YYYY HH:mm:ss - message" + CR LF, in the ANSI code page, appended, the file opened
// and closed for each line. A failure raises EInOutError to the caller.

#include <string>

#include "base/clock.h"

namespace zv {

class ActivityLog {
 public:
  ActivityLog(std::string path, const IClock& clock, char date_separator, char time_separator)
      : path_(std::move(path)),
        clock_(clock),
        date_separator_(date_separator),
        time_separator_(time_separator) {}

  void Write(const std::string& msg) const;
  // The line as written, without the line break, in UTF-8.
  std::string FormatLine(const std::string& msg) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  const IClock& clock_;
  char date_separator_;
  char time_separator_;
};

}  // namespace zv
