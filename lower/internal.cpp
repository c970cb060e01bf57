// Plumbing shared by the families: the print sink, formatting helpers and report helpers.
#include "internal.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "emsc.h"
#include "lower_testing.h"

namespace taviron::lower {
namespace {

Elower_PrintSink sink = nullptr;
void *sinkUser = nullptr;
std::atomic<MessageLogFunction> messageLog{nullptr};

} // namespace

void Write(Stream stream, const char *text, std::size_t length) {
  if (!text || length == 0) return;
  if (sink) {
    sink(sinkUser, static_cast<int>(stream), text, length);
    return;
  }
  std::FILE *file = stream == Stream::Err ? stderr : stdout;
  std::fwrite(text, 1, length, file);
  if (stream == Stream::Err) std::fflush(file);
}

void Write(Stream stream, const std::string &text) { Write(stream, text.data(), text.size()); }

std::string VFormat(const char *format, va_list ap) {
  if (!format) return {};
  char small[256];
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  std::string text(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, ap);
  return text;
}

std::string Format(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string text = VFormat(format, ap);
  va_end(ap);
  return text;
}

char *HeapCopy(const char *text, std::size_t n) {
  auto *copy = static_cast<char *>(emsc_HeapMalloc(n + 1));
  if (copy && n) std::memcpy(copy, text, n);
  return copy;
}

char *HeapVFormat(const char *format, va_list ap) {
  if (!format) return nullptr;
  const std::string text = VFormat(format, ap);
  return HeapCopy(text.data(), text.size());
}

void Report(Eerr_ErrorReport **err, const char *reporter, int32_t code, const char *format, ...) {
  if (!err) return;
  va_list ap;
  va_start(ap, format);
  *err = eerr_CreateErrorReportV(reporter, code, EERR_FATAL, *err, format, ap);
  va_end(ap);
}

void SetMessageLogFunction(MessageLogFunction function) { messageLog.store(function); }
MessageLogFunction GetMessageLogFunction() { return messageLog.load(); }

} // namespace taviron::lower

extern "C" void elower_TestSetPrintSink(Elower_PrintSink newSink, void *user) {
  taviron::lower::sink = newSink;
  taviron::lower::sinkUser = newSink ? user : nullptr;
}
