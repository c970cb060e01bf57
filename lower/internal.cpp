// Plumbing shared by the families: the print sink, formatting helpers and report helpers.
#include "internal.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "emsc.h"
#ifdef TAVIRON_TEST_HOOKS
#include "lower_testing.h"
#endif

namespace taviron::lower {
namespace {

#ifdef TAVIRON_TEST_HOOKS
// What tests install to capture the output (the build for tests only).
Elower_PrintSink sink = nullptr;
void *sinkUser = nullptr;
#endif
std::atomic<MessageLogFunction> messageLog{nullptr};

} // namespace

void Write(Stream stream, const char *text, std::size_t length) {
  if (!text || length == 0) return;
#ifdef TAVIRON_TEST_HOOKS
  if (sink) {
    sink(sinkUser, static_cast<int>(stream), text, length);
    return;
  }
#endif
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

namespace {

constexpr std::size_t kMaxExpansion = 1u << 20;

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// One call's expansion: the variables being expanded (to find references to themselves) and
// where in the result each variable already expanded lies, so that a variable is expanded once
// per call and later references copy its text. The work then follows the length of the result
// and of the values read, not the number of paths through the references.
struct Expansion {
  std::string &out;
  std::vector<std::string> active;
  std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> done;
  Eerr_ErrorReport **err;
  const char *reporter;
};

bool ExpandInto(const char *text, Expansion &e) {
  std::string &out = e.out;
  for (const char *p = text; *p;) {
    std::string name;
    if (p[0] == '$' && p[1] == '{') {
      const char *close = std::strchr(p + 2, '}');
      if (!close) {
        Report(e.err, e.reporter, 1, "Unterminated variable reference in \"%.200s\"", text);
        return false;
      }
      name.assign(p + 2, close);
      p = close + 1;
    } else if (p[0] == '$' && IsNameChar(p[1])) {
      const char *end = p + 1;
      while (IsNameChar(*end)) ++end;
      name.assign(p + 1, end);
      p = end;
    } else {
      out += *p++;
      continue;
    }
    if (std::find(e.active.begin(), e.active.end(), name) != e.active.end()) {
      Report(e.err, e.reporter, 2, "Variable %s refers to itself", name.c_str());
      return false;
    }
    if (const auto found = e.done.find(name); found != e.done.end()) {
      out.append(out, found->second.first, found->second.second);
    } else if (const char *value = name.empty() ? nullptr : std::getenv(name.c_str())) {
      const std::size_t start = out.size();
      e.active.push_back(name);
      if (!ExpandInto(value, e)) return false;
      e.active.pop_back();
      e.done.emplace(std::move(name), std::make_pair(start, out.size() - start));
    }
    if (out.size() > kMaxExpansion) {
      Report(e.err, e.reporter, 3, "Expansion of \"%.200s\" is too long", text);
      return false;
    }
  }
  return true;
}

} // namespace

bool ExpandVariables(const char *text, std::string &out, Eerr_ErrorReport **err,
                     const char *reporter) {
  out.clear();
  if (!text) return true;
  Expansion expansion{out, {}, {}, err, reporter};
  return ExpandInto(text, expansion);
}

std::vector<std::string> SplitList(const std::string &text, bool paths) {
  std::vector<std::string> entries;
  std::string entry;
  bool emptyKept = false;
  auto finish = [&] {
    if (!entry.empty()) {
      entries.push_back(entry);
    } else if (!paths && !emptyKept) {
      entries.push_back(entry);
      emptyKept = true;
    }
    entry.clear();
  };
  if (text.empty()) return entries;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    bool split = c == ';';
    if (c == ':') {
      const char after = i + 1 < text.size() ? text[i + 1] : '\0';
      const bool drive = paths && entry.size() == 1 &&
                         std::isalpha(static_cast<unsigned char>(entry[0])) &&
                         (after == '\0' || after == ';' || after == '/' || after == '\\');
      split = !drive;
    }
    if (split)
      finish();
    else
      entry += c;
  }
  finish();
  return entries;
}

bool ExpandList(const char *text, bool paths, std::vector<std::string> &out,
                Eerr_ErrorReport **err, const char *reporter) {
  std::string expanded;
  out.clear();
  if (!ExpandVariables(text, expanded, err, reporter)) return false;
  out = SplitList(expanded, paths);
  return true;
}

void ReportChained(Eerr_ErrorReport **err, Eerr_ErrorReport *inner, const char *reporter,
                   int32_t code, const char *format, ...) {
  if (!err) {
    eerr_DeleteErrorReportEx(&inner);
    return;
  }
  va_list ap;
  va_start(ap, format);
  *err = eerr_CreateErrorReportV(reporter, code, EERR_FATAL, JoinChains(inner, *err), format, ap);
  va_end(ap);
}

void ReportCallee(Eerr_ErrorReport **err, Eerr_ErrorReport *inner, const char *reporter,
                  int32_t code, const char *callee) {
  ReportChained(err, inner, reporter, code, "Error returned from %s", callee);
}

void SetMessageLogFunction(MessageLogFunction function) { messageLog.store(function); }
MessageLogFunction GetMessageLogFunction() { return messageLog.load(); }

} // namespace taviron::lower

#ifdef TAVIRON_TEST_HOOKS
extern "C" void elower_TestSetPrintSink(Elower_PrintSink newSink, void *user) try {
  taviron::lower::sink = newSink;
  taviron::lower::sinkUser = newSink ? user : nullptr;
} TAVIRON_GUARD_QUIET_VOID
#endif
