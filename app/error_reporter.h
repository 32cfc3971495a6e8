// Best-effort error reports to the maker's API host: one small JSON document
// per failure, sent by HTTPS POST on a thread of its own. Never blocks the
// caller, never retries, never reports its own failures.
#ifndef EMBERFALL_APP_ERROR_REPORTER_H_
#define EMBERFALL_APP_ERROR_REPORTER_H_

#include <functional>
#include <memory>
#include <string>

namespace emberfall {

// Sends one report: message and context (either may be empty). Returns at
// once. A report equal to the one accepted just before it is dropped, and so
// is any report made while another is still being sent. Any thread.
void ReportError(const std::u16string& message, const std::u16string& context);

// The JSON body of a report: {"product":"EmbLauncher","version":
// "EmbLauncher/2.0","reason":...,"cpu":...} on one line.
std::string BuildReportJson(const std::u16string& message, const std::u16string& context);

// Escapes UTF-8 text for a JSON string: quote, backslash and control bytes;
// every byte from 0x20 up passes unchanged.
std::string JsonEscape(const std::string& utf8Text);

// "architecture|logical processors|processor level", e.g. "9|8|6".
std::string CpuDescription();

// POSTs |body| to https://<API host>/ with 2-second time-outs per phase,
// ignoring the answer. Sends nothing for an empty body. Blocking.
void PostJson(const std::string& body);

// The reporter behind ReportError, with a replaceable sender so that tests see
// the exact body without a network. Copies share one state.
class ErrorReporter {
 public:
  using Sender = std::function<void(const std::string& body)>;

  explicit ErrorReporter(Sender sender);

  // As ReportError. The sender runs on a detached thread that keeps the
  // shared state alive, so the reporter may be destroyed while it sends.
  void Report(const std::u16string& message, const std::u16string& context);

  // True while a sending thread runs.
  bool InFlight() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace emberfall

#endif  // EMBERFALL_APP_ERROR_REPORTER_H_
