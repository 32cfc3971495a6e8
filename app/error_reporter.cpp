#include "app/error_reporter.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core/text.h"

namespace emberfall {

struct ErrorReporter::State {
  Sender sender;
  std::mutex mutex;
  std::u16string lastReportKey;
  std::atomic<bool> reportInFlight{false};
};

ErrorReporter::ErrorReporter(Sender sender) : state_(std::make_shared<State>()) {
  state_->sender = std::move(sender);
}

bool ErrorReporter::InFlight() const { return state_->reportInFlight.load(); }

void ErrorReporter::Report(const std::u16string& message, const std::u16string& context) {
  std::u16string key = message + u"|" + context;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (key == state_->lastReportKey) return;
    state_->lastReportKey = std::move(key);
  }
  bool expected = false;
  if (!state_->reportInFlight.compare_exchange_strong(expected, true)) return;

  try {
    std::thread([state = state_, message, context] {
      try {
        state->sender(BuildReportJson(message, context));
      } catch (...) {
        // A report that cannot be built or sent is simply lost.
      }
      state->reportInFlight.store(false);
    }).detach();
  } catch (...) {
    // No thread: nothing is sent, and the next report may try again.
    state_->reportInFlight.store(false);
  }
}

void ReportError(const std::u16string& message, const std::u16string& context) {
  // Never destroyed: sending threads may still run while the process exits.
  static ErrorReporter* const reporter = new ErrorReporter(&PostJson);
  reporter->Report(message, context);
}

std::string JsonEscape(const std::string& utf8Text) {
  std::string out;
  out.reserve(utf8Text.size() + 8);
  for (const char ch : utf8Text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (byte) {
      case 0x08: out += "\\b"; break;
      case 0x09: out += "\\t"; break;
      case 0x0A: out += "\\n"; break;
      case 0x0C: out += "\\f"; break;
      case 0x0D: out += "\\r"; break;
      case 0x22: out += "\\\""; break;
      case 0x5C: out += "\\\\"; break;
      default:
        if (byte < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
          out += escaped;
        } else {
          out.push_back(ch);
        }
    }
  }
  return out;
}

std::string BuildReportJson(const std::u16string& message, const std::u16string& context) {
  std::string reason = WideToUtf8(message);
  if (!context.empty()) {
    reason += " | ";
    reason += WideToUtf8(context);
  }
  std::string body = "{";
  body += "\"product\":\"" + JsonEscape("EmbLauncher") + "\",";
  body += "\"version\":\"" + JsonEscape("EmbLauncher/2.0") + "\",";
  body += "\"reason\":\"" + JsonEscape(reason) + "\",";
  body += "\"cpu\":\"" + JsonEscape(CpuDescription()) + "\"";
  body += "}";
  return body;
}

}  // namespace emberfall
