// 8-bit strings and string lists, formatting, compiled number formats, path pieces, the
// environment and UTF-16 text.
#include "estr.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <type_traits>
#include <string>
#include <vector>

#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

// Frees the strings of a list and its array, leaving an empty list.
void EmptyList(Estr_StringList *list) {
  for (int32_t i = 0; i < list->count; ++i) emsc_HeapFree(list->strings[i]);
  emsc_HeapFree(list->strings);
  list->strings = nullptr;
  list->count = 0;
}

// Fills an empty list with copies of count strings; false (list left empty) when out of memory.
bool FillList(Estr_StringList *list, int32_t count, const char *const *strings) {
  if (count == 0) return true;
  list->strings = static_cast<char **>(emsc_HeapMalloc(sizeof(char *) * static_cast<size_t>(count)));
  if (!list->strings) return false;
  list->count = count;
  for (int32_t i = 0; i < count; ++i) {
    if (strings[i] && !(list->strings[i] = estr_Duplicate(strings[i]))) {
      EmptyList(list);
      return false;
    }
  }
  return true;
}

} // namespace

extern "C" {

char *estr_Duplicate(const char *text) try {
  if (!text) return nullptr;
  return lower::HeapCopy(text, std::strlen(text));
} TAVIRON_GUARD_QUIET(nullptr)

int estr_Eqic(const char *a, const char *b) try {
  if (!a || !b) return a == b;
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return 0;
  return *a == *b;
} TAVIRON_GUARD_QUIET(0)

Estr_StringList *estr_StringListCreate(int32_t count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (count < 0) {
    lower::Report(err, "estr_StringListCreate", 1, "Invalid string count %d", count);
    return nullptr;
  }
  auto *list = static_cast<Estr_StringList *>(emsc_HeapMalloc(sizeof(Estr_StringList)));
  if (list && count > 0) {
    list->strings = static_cast<char **>(emsc_HeapMalloc(sizeof(char *) * static_cast<size_t>(count)));
    if (!list->strings) emsc_HeapFreeEx(&list);
  }
  if (!list) {
    lower::Report(err, "estr_StringListCreate", 2, "Error allocating string list");
    return nullptr;
  }
  list->count = count;
  return list;
} TAVIRON_GUARD(err, nullptr)

void estr_StringListDelete(Estr_StringList *list, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) return;
  EmptyList(list);
  emsc_HeapFree(list);
} TAVIRON_GUARD_VOID(err)

Estr_StringList *estr_StringListCopy(const Estr_StringList *list, Estr_StringList *destination,
                                     Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) return nullptr;
  if (list == destination) return destination;
  Estr_StringList *target = destination;
  if (!target) target = static_cast<Estr_StringList *>(emsc_HeapMalloc(sizeof(Estr_StringList)));
  else EmptyList(target);
  if (!target || !FillList(target, list->count, list->strings)) {
    if (target != destination) emsc_HeapFree(target);
    lower::Report(err, "estr_StringListCopy", 1, "Error allocating string list");
    return nullptr;
  }
  return target;
} TAVIRON_GUARD(err, nullptr)

Estr_StringList *estr_StringListAppend(Estr_StringList *list, const char *text,
                                       Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Estr_StringList *target = list;
  if (!target) {
    target = estr_StringListCreate(0, err);
    if (!target) {
      lower::Report(err, "estr_StringListAppend", 1, "Error returned from estr_StringListCreate");
      return nullptr;
    }
  }
  char *copy = estr_Duplicate(text);
  char **grown = (text && !copy) ? nullptr
                                 : static_cast<char **>(emsc_HeapRealloc(
                                       target->strings, sizeof(char *) * (static_cast<size_t>(target->count) + 1)));
  if (!grown) {
    emsc_HeapFree(copy);
    if (!list) estr_StringListDelete(target, nullptr);
    lower::Report(err, "estr_StringListAppend", 2, "Error allocating string list entry");
    return list;
  }
  target->strings = grown;
  target->strings[target->count++] = copy;
  return target;
} TAVIRON_GUARD(err, nullptr)

int32_t estr_StringListCount(const Estr_StringList *list) try { return list ? list->count : 0; } TAVIRON_GUARD_QUIET(0)

Estr_StringList *estr_StringToStringList(int32_t count, const char *const *strings,
                                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (count < 0 || (count > 0 && !strings)) {
    lower::Report(err, "estr_StringToStringList", 1, "Invalid string array");
    return nullptr;
  }
  auto *list = static_cast<Estr_StringList *>(emsc_HeapMalloc(sizeof(Estr_StringList)));
  if (!list || !FillList(list, count, strings)) {
    emsc_HeapFree(list);
    lower::Report(err, "estr_StringToStringList", 2, "Error allocating string list");
    return nullptr;
  }
  return list;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Comparison, search and case

namespace {

inline unsigned char AsciiLower(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

inline unsigned char AsciiUpper(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

// Greedy matching with a single back-up point: on a mismatch after a "*", the star swallows one
// more character and matching resumes there. Each step advances the name or the back-up point,
// so the work is bounded by the product of the lengths.
template <bool IgnoreCase>
int WildMatch(const char *pattern, const char *name) {
  if (!pattern || !name) return 0;
  const char *p = pattern, *n = name;
  const char *star = nullptr, *resume = nullptr;
  auto same = [](char a, char b) { return IgnoreCase ? AsciiLower(a) == AsciiLower(b) : a == b; };
  while (*n) {
    if (*p == '*') {
      while (*p == '*') ++p;
      if (!*p) return 1;
      star = p;
      resume = n;
    } else if (*p && (*p == '?' || same(*p, *n))) {
      ++p;
      ++n;
    } else if (star) {
      p = star;
      n = ++resume;
    } else {
      return 0;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

} // namespace

extern "C" {

int estr_Eqnic(const char *text, const char *prefix, int32_t n) try {
  if (n <= 0) return 1;
  if (!text || !prefix) return text == prefix;
  for (int32_t i = 0; i < n; ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return 0;
    if (!text[i]) return 1;
  }
  return 1;
} TAVIRON_GUARD_QUIET(0)

int estr_CompareString(const char *a, const char *b) try {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  const int c = std::strcmp(a, b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
} TAVIRON_GUARD_QUIET(0)

char *estr_SubString(const char *text, const char *sub) try {
  if (!text || !sub) return nullptr;
  return const_cast<char *>(std::strstr(text, sub));
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_SubStringic(const char *text, const char *sub) try {
  if (!text || !sub) return nullptr;
  for (const char *t = text;; ++t) {
    std::size_t i = 0;
    while (sub[i] && AsciiLower(t[i]) == AsciiLower(sub[i])) ++i;
    if (!sub[i]) return const_cast<char *>(t);
    if (!*t) return nullptr;
  }
} TAVIRON_GUARD_QUIET(nullptr)

int estr_IsCharPresent(const char *text, int character) try {
  if (!text || character == 0) return 0;
  return std::strchr(text, static_cast<char>(character)) != nullptr;
} TAVIRON_GUARD_QUIET(0)

char *estr_LowerCase(char *text) try {
  if (text)
    for (char *p = text; *p; ++p) *p = static_cast<char>(AsciiLower(*p));
  return text;
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_UpperCase(char *text) try {
  if (text)
    for (char *p = text; *p; ++p) *p = static_cast<char>(AsciiUpper(*p));
  return text;
} TAVIRON_GUARD_QUIET(nullptr)

int estr_WildCompare(const char *pattern, const char *name) try { return WildMatch<true>(pattern, name); } TAVIRON_GUARD_QUIET(0)

int estr_WildCompareSensitive(const char *pattern, const char *name) try {
  return WildMatch<false>(pattern, name);
} TAVIRON_GUARD_QUIET(0)

int estr_IsWild(const char *text) try { return text && std::strpbrk(text, "*?") != nullptr; } TAVIRON_GUARD_QUIET(0)

char *estr_GetQuotedString(const char *text) try {
  if (!text) return nullptr;
  if (*text != '"') return estr_Duplicate(text);
  const char *start = text + 1;
  const char *close = std::strchr(start, '"');
  return lower::HeapCopy(start, close ? static_cast<std::size_t>(close - start) : std::strlen(start));
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Formatting

namespace {

// Checks a printf format and rewrites the layer's own conversion "%R" (which yields nothing) so
// that the result can go to the standard formatter. Refuses what is unsafe or unknown: %n (it
// writes through an argument), wide characters and strings (this layer's UTF-16 is not wchar_t),
// positional arguments, and conversions the standard does not define. The conversions are kept
// in `conversions` for the check of their widths and precisions.
struct Conversion {
  char kind;            // the conversion character
  std::string length;   // its length modifier
  bool widthStar, precisionStar;
  int64_t width, precision; // -1 when not given (or given by an argument)
};

// A run of digits, saturated far above any limit.
int64_t Digits(const char *&p) {
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = std::min<int64_t>(value * 10 + (*p - '0'), INT64_C(1) << 40);
  return value;
}

bool PrepareFormat(const char *format, std::string &out, std::vector<Conversion> &conversions,
                   std::string &problem) {
  out.clear();
  conversions.clear();
  for (const char *p = format; *p;) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char *start = p++;
    if (*p == '%') {
      out += "%%";
      ++p;
      continue;
    }
    if (*p == 'R') {
      ++p;
      continue;
    }
    Conversion c{0, {}, false, false, -1, -1};
    while (*p && std::strchr("-+ #0'", *p)) ++p;
    if (*p == '*') {
      c.widthStar = true;
      ++p;
    } else {
      const char *digits = p;
      c.width = Digits(p);
      if (p == digits) c.width = -1;
      if (*p == '$') {
        problem = "positional arguments are not supported";
        return false;
      }
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        c.precisionStar = true;
        ++p;
      } else {
        c.precision = Digits(p);
      }
    }
    while (*p && std::strchr("hlLjzt", *p) && c.length.size() < 2) c.length += *p++;
    c.kind = *p;
    if (!c.kind) {
      problem = "incomplete conversion at the end";
      return false;
    }
    ++p;
    const std::string &length = c.length;
    bool ok;
    if (std::strchr("diouxX", c.kind))
      ok = length.empty() || length == "h" || length == "hh" || length == "l" || length == "ll" ||
           length == "j" || length == "z" || length == "t";
    else if (std::strchr("fFeEgGaA", c.kind))
      ok = length.empty() || length == "l" || length == "L";
    else if (c.kind == 'c' || c.kind == 's' || c.kind == 'p')
      ok = length.empty();
    else
      ok = false;
    if (!ok) {
      problem = "conversion \"" + std::string(start, p) + "\" is not supported";
      return false;
    }
    out.append(start, p);
    conversions.push_back(std::move(c));
  }
  return true;
}

// The longest field a width or precision may ask for: what the caller's buffer holds, or for a
// heap string 1 MiB. A longer field could not fit the buffer, and the formatter would build it
// (with working storage several times its size) before anything could refuse it.
constexpr int64_t kBufferField = ESTR_SPRINTF_BUFFER_SIZE - 1;
constexpr int64_t kHeapField = INT64_C(1) << 20;

// Refuses a width, or a precision that lengthens the text (that of a number), above `limit`.
// Widths and precisions given as arguments ("*") are read from a copy of the argument list,
// taking each conversion's argument as its type; a negative width is a width all the same.
bool FieldsFit(const std::vector<Conversion> &conversions, va_list ap, int64_t limit,
               std::string &problem) {
  const bool starred = std::any_of(conversions.begin(), conversions.end(), [](const Conversion &c) {
    return c.widthStar || c.precisionStar;
  });
  va_list args;
  if (starred) va_copy(args, ap);
  bool fits = true;
  for (const Conversion &c : conversions) {
    int64_t width = c.width, precision = c.precision;
    if (starred) {
      if (c.widthStar) {
        width = va_arg(args, int);
        if (width < 0) width = -width;
      }
      if (c.precisionStar) precision = va_arg(args, int);
      if (std::strchr("diouxX", c.kind)) {
        if (c.length == "l") (void)va_arg(args, long);
        else if (c.length == "ll") (void)va_arg(args, long long);
        else if (c.length == "j") (void)va_arg(args, intmax_t);
        else if (c.length == "z") (void)va_arg(args, size_t);
        else if (c.length == "t") (void)va_arg(args, ptrdiff_t);
        else (void)va_arg(args, int);
      } else if (std::strchr("fFeEgGaA", c.kind)) {
        if (c.length == "L") (void)va_arg(args, long double);
        else (void)va_arg(args, double);
      } else if (c.kind == 'c') {
        (void)va_arg(args, int);
      } else {
        (void)va_arg(args, void *);
      }
    }
    const bool lengthens = c.kind != 's' && c.kind != 'c'; // a precision only cuts a string
    if (width > limit || (lengthens && precision > limit)) {
      problem = (width > limit ? "a width of " + std::to_string(width)
                               : "a precision of " + std::to_string(precision)) +
                " does not fit " + (limit == kBufferField ? "the buffer" : "a formatted text");
      fits = false;
      break;
    }
  }
  if (starred) va_end(args);
  return fits;
}

} // namespace

extern "C" {

char *estr_Vsprintf(const char *format, va_list ap) try {
  std::string prepared, problem;
  std::vector<Conversion> conversions;
  if (!format || !PrepareFormat(format, prepared, conversions, problem) ||
      !FieldsFit(conversions, ap, kHeapField, problem))
    return nullptr;
  return lower::HeapVFormat(prepared.c_str(), ap);
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_Sprintf(char *buffer, const char *format, Eerr_ErrorReport **err, ...) try {
  lower::Clear(err);
  if (!format) {
    if (buffer) buffer[0] = '\0';
    lower::Report(err, "estr_Sprintf", 1, "No format given");
    return nullptr;
  }
  std::string prepared, problem;
  std::vector<Conversion> conversions;
  va_list ap;
  va_start(ap, err);
  const bool fits = PrepareFormat(format, prepared, conversions, problem) &&
                    FieldsFit(conversions, ap, buffer ? kBufferField : kHeapField, problem);
  if (!fits) {
    va_end(ap);
    if (buffer) buffer[0] = '\0';
    lower::Report(err, "estr_Sprintf", 2, "Invalid format \"%.200s\": %s", format, problem.c_str());
    return nullptr;
  }
  if (buffer) {
    // Formatted whole into a buffer of the same size before the caller's is written, so an
    // argument may lie in the buffer; the formatter only counts what goes past its end.
    char text[ESTR_SPRINTF_BUFFER_SIZE];
    const int n = std::vsnprintf(text, sizeof text, prepared.c_str(), ap);
    va_end(ap);
    if (n < 0 || n >= ESTR_SPRINTF_BUFFER_SIZE) {
      buffer[0] = '\0';
      if (n < 0)
        lower::Report(err, "estr_Sprintf", 3, "Formatting \"%.200s\" failed", format);
      else
        lower::Report(err, "estr_Sprintf", 3, "Formatted text of %d characters does not fit the buffer", n);
      return nullptr;
    }
    std::memcpy(buffer, text, static_cast<std::size_t>(n) + 1);
    return buffer;
  }
  const std::string text = lower::VFormat(prepared.c_str(), ap);
  va_end(ap);
  char *copy = lower::HeapCopy(text.data(), text.size());
  if (!copy) lower::Report(err, "estr_Sprintf", 4, "Error allocating formatted text");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char *estr_StringCat(char *target, const char *a, const char *b) try {
  if (!a) a = "";
  if (!b) b = "";
  const std::size_t la = std::strlen(a), lb = std::strlen(b);
  bool aliased = false;
  if (target) {
    const char *end = target + std::strlen(target);
    const std::less_equal<const char *> le;
    aliased = (le(target, a) && le(a, end)) || (le(target, b) && le(b, end));
  }
  if (target && !aliased) {
    auto *grown = static_cast<char *>(emsc_HeapRealloc(target, la + lb + 1));
    if (!grown) return nullptr;
    std::memcpy(grown, a, la);
    std::memcpy(grown + la, b, lb);
    grown[la + lb] = '\0';
    return grown;
  }
  auto *joined = static_cast<char *>(emsc_HeapMalloc(la + lb + 1));
  if (!joined) return nullptr;
  std::memcpy(joined, a, la);
  std::memcpy(joined + la, b, lb);
  emsc_HeapFree(target);
  return joined;
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_StringCopy(char *destination, const char *source, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!source) {
    emsc_HeapFree(destination);
    return nullptr;
  }
  char *copy = estr_StringCat(destination, source, nullptr);
  if (!copy) lower::Report(err, "estr_StringCopy", 1, "Error allocating string copy");
  return copy;
} TAVIRON_GUARD(err, nullptr)

const char *estr_ErrnoString(void) try {
  thread_local char text[256];
  const int number = errno;
  // The GNU strerror_r returns the text (possibly not in the buffer); the POSIX one fills it.
  auto result = strerror_r(number, text, sizeof text);
  if constexpr (std::is_same_v<decltype(result), char *>) return result;
  else return text;
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Compiled number formats

namespace {

enum class XLTok { Literal, IntDigit, Point, FracDigit, Exponent, ExpDigit, General, TextAt, Date, AmPm };

struct XLToken {
  XLTok kind;
  std::string text; // literal text; for AmPm the two choices "AM" "PM" as written, joined by '/'
  char code = 0;    // placeholder '0' '#' '?'; exponent sign '+' '-'; date code y m n(minute) d h s
  int count = 0;    // length of a date code; for Exponent, 'E' or 'e' in text
};

struct XLSection {
  int kind = ESTR_XLFORMAT_NUMBER;
  std::vector<XLToken> tokens;
  int intDigits = 0, fracDigits = 0, expDigits = 0;
  int percent = 0, scale = 0;
  bool grouping = false, exponent = false, point = false, hour12 = false;
};

} // namespace

struct Estr_XLFormat {
  std::vector<XLSection> sections;
};

namespace {

constexpr int kMaxSections = 4;

bool IsPassThrough(unsigned char c) {
  return c >= 0x80 || (c && std::strchr("$-+/():!^&'~{}<>= ", c) != nullptr);
}

bool EqualsIgnoringCase(const std::string &a, const char *b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool IsColour(const std::string &text) {
  static const char *const colours[] = {"black", "blue", "cyan", "green", "magenta", "red", "white", "yellow"};
  for (const char *c : colours)
    if (EqualsIgnoringCase(text, c)) return true;
  if (text.size() > 5 && EqualsIgnoringCase(text.substr(0, 5), "color")) {
    const std::string number = text.substr(5);
    if (number.size() > 2 || number.find_first_not_of("0123456789") != std::string::npos) return false;
    const int n = std::atoi(number.c_str());
    return n >= 1 && n <= 56;
  }
  return false;
}

// Parses the format text into sections; false with a description of the first fault.
bool ParseXLFormat(const char *text, Estr_XLFormat &format, std::string &problem) {
  const std::size_t length = std::strlen(text);
  auto fail = [&](std::size_t at, const std::string &why) {
    problem = why + " at position " + std::to_string(at + 1);
    return false;
  };
  format.sections.emplace_back();
  XLSection *section = &format.sections.back();
  int pendingCommas = 0;
  auto literal = [&](const std::string &t) {
    if (!section->tokens.empty() && section->tokens.back().kind == XLTok::Literal)
      section->tokens.back().text += t;
    else
      section->tokens.push_back({XLTok::Literal, t});
  };
  auto settleCommas = [&]() {
    section->scale += pendingCommas;
    pendingCommas = 0;
  };
  std::size_t i = 0;
  while (i < length) {
    const char c = text[i];
    const std::size_t at = i;
    if (c != ',' && !(c == '0' || c == '#' || c == '?')) settleCommas();
    switch (c) {
    case ';':
      if (static_cast<int>(format.sections.size()) == kMaxSections) return fail(at, "more than four sections");
      format.sections.emplace_back();
      section = &format.sections.back();
      pendingCommas = 0;
      ++i;
      continue;
    case '"': {
      const char *close = std::strchr(text + i + 1, '"');
      if (!close) return fail(at, "unterminated quoted text");
      literal(std::string(text + i + 1, close));
      i = static_cast<std::size_t>(close - text) + 1;
      continue;
    }
    case '\\':
    case '_':
    case '*':
      if (i + 1 >= length) return fail(at, std::string("'") + c + "' without a following character");
      if (c == '\\') literal(std::string(1, text[i + 1]));
      else if (c == '_') literal(" ");
      i += 2;
      continue;
    case '[': {
      const char *close = std::strchr(text + i + 1, ']');
      if (!close) return fail(at, "unterminated bracket");
      const std::string inside(text + i + 1, close);
      if (!inside.empty() && inside[0] == '$') {
        const std::size_t dash = inside.find('-');
        literal(inside.substr(1, dash == std::string::npos ? std::string::npos : dash - 1));
      } else if (!IsColour(inside)) {
        return fail(at, "unsupported bracketed code [" + inside.substr(0, 40) + "]");
      }
      i = static_cast<std::size_t>(close - text) + 1;
      continue;
    }
    case '0':
    case '#':
    case '?':
      if (section->point || section->exponent) settleCommas();
      if (section->exponent) {
        section->tokens.push_back({XLTok::ExpDigit, {}, c});
        ++section->expDigits;
      } else if (section->point) {
        section->tokens.push_back({XLTok::FracDigit, {}, c});
        ++section->fracDigits;
      } else {
        if (pendingCommas) section->grouping = true;
        pendingCommas = 0;
        section->tokens.push_back({XLTok::IntDigit, {}, c});
        ++section->intDigits;
      }
      ++i;
      continue;
    case '.':
      if (section->point || section->exponent) literal(".");
      else {
        section->point = true;
        section->tokens.push_back({XLTok::Point, {}});
      }
      ++i;
      continue;
    case ',':
      if (section->intDigits + section->fracDigits > 0 && !section->exponent) ++pendingCommas;
      else literal(",");
      ++i;
      continue;
    case '%':
      ++section->percent;
      literal("%");
      ++i;
      continue;
    case '@':
      section->tokens.push_back({XLTok::TextAt, {}});
      ++i;
      continue;
    default:
      break;
    }
    const char lower = static_cast<char>(AsciiLower(c));
    if ((lower == 'e') && i + 1 < length && (text[i + 1] == '+' || text[i + 1] == '-')) {
      if (section->exponent) return fail(at, "second exponent");
      section->exponent = true;
      section->tokens.push_back({XLTok::Exponent, std::string(1, c), text[i + 1]});
      i += 2;
      continue;
    }
    if (lower == 'g' && EqualsIgnoringCase(std::string(text + i, std::min<std::size_t>(7, length - i)), "general")) {
      section->tokens.push_back({XLTok::General, {}});
      i += 7;
      continue;
    }
    if (lower == 'a') {
      const std::string five(text + i, std::min<std::size_t>(5, length - i));
      const std::string three(text + i, std::min<std::size_t>(3, length - i));
      if (EqualsIgnoringCase(five, "am/pm")) {
        section->tokens.push_back({XLTok::AmPm, five});
        i += 5;
      } else if (EqualsIgnoringCase(three, "a/p")) {
        section->tokens.push_back({XLTok::AmPm, three});
        i += 3;
      } else {
        return fail(at, "unexpected character 'a'");
      }
      section->hour12 = true;
      continue;
    }
    if (lower == 'y' || lower == 'm' || lower == 'd' || lower == 'h' || lower == 's') {
      std::size_t j = i;
      while (j < length && AsciiLower(text[j]) == static_cast<unsigned char>(lower)) ++j;
      int count = static_cast<int>(j - i);
      if (lower == 'y') count = count <= 2 ? 2 : 4;
      else if (lower == 'm') count = count > 5 ? 4 : count;
      else if (lower == 'd') count = count > 4 ? 4 : count;
      else count = count > 2 ? 2 : count;
      section->tokens.push_back({XLTok::Date, {}, lower, count});
      i = j;
      continue;
    }
    if (IsPassThrough(static_cast<unsigned char>(c))) {
      literal(std::string(1, c));
      ++i;
      continue;
    }
    return fail(at, std::string("unexpected character '") + c + "'");
  }
  settleCommas();

  // Classify each section and check that its parts belong together.
  for (std::size_t n = 0; n < format.sections.size(); ++n) {
    XLSection &s = format.sections[n];
    bool digits = s.intDigits + s.fracDigits + s.expDigits > 0 || s.exponent;
    bool date = false, at = false, general = false;
    for (const XLToken &t : s.tokens) {
      date |= t.kind == XLTok::Date || t.kind == XLTok::AmPm;
      at |= t.kind == XLTok::TextAt;
      general |= t.kind == XLTok::General;
    }
    const std::string where = " in section " + std::to_string(n + 1);
    if ((digits ? 1 : 0) + (date ? 1 : 0) + (at ? 1 : 0) + (general ? 1 : 0) > 1) {
      problem = "digit placeholders, date codes, \"@\" and \"General\" mixed" + where;
      return false;
    }
    if (s.exponent && s.expDigits == 0) {
      problem = "exponent without digit placeholders" + where;
      return false;
    }
    if (s.exponent && s.intDigits + s.fracDigits == 0) {
      problem = "exponent without a mantissa" + where;
      return false;
    }
    if (date) {
      s.kind = ESTR_XLFORMAT_DATE;
      s.percent = 0;
      s.scale = 0;
      for (XLToken &t : s.tokens) {
        if (t.kind == XLTok::Point) t = {XLTok::Literal, "."};
      }
      // "m" and "mm" are minutes right after an hour or right before a second.
      for (std::size_t k = 0; k < s.tokens.size(); ++k) {
        XLToken &t = s.tokens[k];
        if (t.kind != XLTok::Date || t.code != 'm' || t.count > 2) continue;
        const XLToken *before = nullptr, *after = nullptr;
        for (std::size_t b = k; b-- > 0;)
          if (s.tokens[b].kind == XLTok::Date) {
            before = &s.tokens[b];
            break;
          }
        for (std::size_t a = k + 1; a < s.tokens.size(); ++a)
          if (s.tokens[a].kind == XLTok::Date) {
            after = &s.tokens[a];
            break;
          }
        if ((before && before->code == 'h') || (after && after->code == 's')) t.code = 'n';
      }
    } else if (at) {
      s.kind = ESTR_XLFORMAT_TEXT;
    } else if (general) {
      s.kind = ESTR_XLFORMAT_GENERAL;
    } else {
      s.kind = ESTR_XLFORMAT_NUMBER;
    }
  }
  // An empty format, or a lone empty section, prints the number in general form.
  if (format.sections.size() == 1 && format.sections[0].tokens.empty()) {
    format.sections[0].kind = ESTR_XLFORMAT_GENERAL;
    format.sections[0].tokens.push_back({XLTok::General, {}});
  }
  return true;
}

std::string GeneralText(double value) { return lower::Format("%.10g", value); }

// Places a digit string on placeholders: digits fill them from the right; unused placeholders
// give '0', ' ' or nothing; digits beyond the placeholders go with the first one. With grouping a
// ',' follows every digit whose place from the right is a positive multiple of three.
std::vector<std::string> PlaceDigits(const std::string &digits, const std::vector<char> &holders,
                                     bool grouping) {
  const std::size_t len = digits.size(), n = holders.size();
  std::vector<std::string> placed(n);
  auto put = [&](std::string &out, char digit, std::size_t place) {
    out += digit;
    if (grouping && place > 0 && place % 3 == 0) out += ',';
  };
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t place = n - 1 - j;
    std::string &out = placed[j];
    if (j == 0 && len > n)
      for (std::size_t k = 0; k < len - n; ++k) put(out, digits[k], len - 1 - k);
    if (place < len) put(out, digits[len - 1 - place], place);
    else if (holders[j] == '0') put(out, '0', place);
    else if (holders[j] == '?') out += ' ';
  }
  return placed;
}

bool RenderNumber(const XLSection &s, double value, bool minus, std::string &out) {
  double x = value;
  for (int k = 0; k < s.percent; ++k) x *= 100.0;
  for (int k = 0; k < s.scale; ++k) x /= 1000.0;
  if (!std::isfinite(x)) {
    out += minus ? "-Infinity" : "Infinity";
    return true;
  }
  std::string intDigits, fracDigits;
  long exponent = 0;
  // Like a spreadsheet: the number is taken to 15 significant digits, then rounded half away from
  // zero at the last place shown.
  const std::string e = lower::Format("%.14e", x); // d.ddddddddddddddde+XX
  const std::size_t mark = e.find('e');
  std::string digits = e.substr(0, 1) + e.substr(2, mark - 2);
  long point = std::strtol(e.c_str() + mark + 1, nullptr, 10) + 1; // digits before the point
  if (x == 0.0) point = 1;
  // Keeps `keep` digits, rounding half up (padding with zeros when short); true when a carry
  // added a digit in front.
  auto roundTo = [](std::string &d, long keep) {
    if (keep < 0) {
      d.clear();
      return false;
    }
    if (static_cast<std::size_t>(keep) >= d.size()) {
      d.resize(static_cast<std::size_t>(keep), '0');
      return false;
    }
    const bool up = d[static_cast<std::size_t>(keep)] >= '5';
    d.resize(static_cast<std::size_t>(keep));
    if (!up) return false;
    for (std::size_t k = d.size(); k-- > 0;) {
      if (d[k] != '9') {
        ++d[k];
        return false;
      }
      d[k] = '0';
    }
    d.insert(d.begin(), '1');
    return true;
  };
  if (s.exponent) {
    const long shown = s.intDigits + s.fracDigits;
    if (roundTo(digits, shown)) {
      digits.pop_back();
      ++point;
    }
    const std::size_t split = static_cast<std::size_t>(s.intDigits);
    intDigits = digits.substr(0, split);
    fracDigits = digits.substr(split);
    exponent = x == 0.0 ? 0 : point - s.intDigits;
  } else {
    // Digits before the point, then the fraction, with leading zeros for small numbers.
    if (point <= 0) {
      digits.insert(0, static_cast<std::size_t>(-point), '0');
      point = 0;
    }
    if (static_cast<std::size_t>(point) > digits.size()) digits.resize(static_cast<std::size_t>(point), '0');
    if (roundTo(digits, point + s.fracDigits)) ++point;
    intDigits = digits.substr(0, static_cast<std::size_t>(point));
    fracDigits = digits.substr(static_cast<std::size_t>(point));
  }
  const std::size_t firstNonZero = intDigits.find_first_not_of('0');
  intDigits = firstNonZero == std::string::npos ? std::string() : intDigits.substr(firstNonZero);
  fracDigits.resize(static_cast<std::size_t>(s.fracDigits), '0');

  std::vector<char> intHolders, fracHolders, expHolders;
  for (const XLToken &t : s.tokens) {
    if (t.kind == XLTok::IntDigit) intHolders.push_back(t.code);
    else if (t.kind == XLTok::FracDigit) fracHolders.push_back(t.code);
    else if (t.kind == XLTok::ExpDigit) expHolders.push_back(t.code);
  }
  // Trailing zeros of the fraction on '#' vanish and on '?' become spaces.
  std::vector<std::string> fracShown(fracHolders.size());
  bool keep = false;
  for (std::size_t k = fracHolders.size(); k-- > 0;) {
    keep |= fracDigits[k] != '0' || fracHolders[k] == '0';
    fracShown[k] = keep ? std::string(1, fracDigits[k]) : (fracHolders[k] == '?' ? " " : "");
  }
  const std::vector<std::string> intShown = PlaceDigits(intDigits, intHolders, s.grouping);
  const std::vector<std::string> expShown =
      PlaceDigits(std::to_string(exponent < 0 ? -exponent : exponent), expHolders, false);

  bool anyDigit = !intDigits.empty();
  for (const std::string &f : fracShown) anyDigit |= f.find_first_of("123456789") != std::string::npos;
  if (intHolders.empty() && fracHolders.empty()) anyDigit = x != 0.0; // General, "@" or text only
  if (minus && anyDigit) out += '-';

  std::size_t ii = 0, fi = 0, ei = 0;
  for (const XLToken &t : s.tokens) {
    switch (t.kind) {
    case XLTok::Literal: out += t.text; break;
    case XLTok::IntDigit: out += intShown[ii++]; break;
    case XLTok::Point:
      if (intHolders.empty()) out += intDigits; // digits with nowhere else to go
      out += '.';
      break;
    case XLTok::FracDigit: out += fracShown[fi++]; break;
    case XLTok::Exponent:
      out += t.text;
      if (exponent < 0) out += '-';
      else if (t.code == '+') out += '+';
      break;
    case XLTok::ExpDigit: out += expShown[ei++]; break;
    case XLTok::General:
    case XLTok::TextAt: out += GeneralText(value); break;
    default: break;
    }
  }
  return true;
}

// Civil date of a day count from 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long long z, long long &y, unsigned &m, unsigned &d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

bool RenderDate(const XLSection &s, double value, std::string &out, std::string &problem) {
  // Day 0 is 30 December 1899. A coarse bound first, so that the second count cannot overflow.
  if (!(std::fabs(value) < 1e7)) {
    problem = "date outside the years 0 to 9999";
    return false;
  }
  const long long total = std::llround(value * 86400.0);
  long long days = total / 86400, seconds = total % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  const long long unixDays = days - 25569;
  long long year;
  unsigned month, day;
  CivilFromDays(unixDays, year, month, day);
  if (year < 0 || year > 9999) {
    problem = "date outside the years 0 to 9999";
    return false;
  }
  const int weekday = static_cast<int>(((unixDays % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
  const int hour = static_cast<int>(seconds / 3600), minute = static_cast<int>(seconds / 60 % 60),
            second = static_cast<int>(seconds % 60);
  static const char *const months[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
  static const char *const days7[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  auto number = [&](long long v, int width) { out += lower::Format("%0*lld", width, v); };
  for (const XLToken &t : s.tokens) {
    if (t.kind == XLTok::Literal) {
      out += t.text;
    } else if (t.kind == XLTok::AmPm) {
      const std::size_t slash = t.text.find('/');
      out += hour < 12 ? t.text.substr(0, slash) : t.text.substr(slash + 1);
    } else if (t.kind == XLTok::Date) {
      switch (t.code) {
      case 'y': t.count == 2 ? number(year % 100, 2) : number(year, 4); break;
      case 'm':
        if (t.count <= 2) number(month, t.count);
        else if (t.count == 3) out.append(months[month - 1], 3);
        else if (t.count == 4) out += months[month - 1];
        else out += months[month - 1][0];
        break;
      case 'n': number(minute, t.count); break;
      case 'd':
        if (t.count <= 2) number(day, t.count);
        else if (t.count == 3) out.append(days7[weekday], 3);
        else out += days7[weekday];
        break;
      case 'h': number(s.hour12 ? (hour % 12 == 0 ? 12 : hour % 12) : hour, t.count); break;
      case 's': number(second, t.count); break;
      default: break;
      }
    }
  }
  return true;
}

} // namespace

extern "C" {

Estr_XLFormat *estr_XLFormatCreate(const char *formatText, int32_t *kind, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (kind) *kind = ESTR_XLFORMAT_GENERAL;
  if (!formatText) {
    lower::Report(err, "estr_XLFormatCreate", 1, "No format text given");
    return nullptr;
  }
  auto *format = lower::HeapNew<Estr_XLFormat>();
  if (!format) {
    lower::Report(err, "estr_XLFormatCreate", 2, "Error allocating number format");
    return nullptr;
  }
  std::string problem;
  bool parsed;
  try {
    parsed = ParseXLFormat(formatText, *format, problem);
  } catch (const std::bad_alloc &) {
    estr_XLFormatFree(format);
    lower::Report(err, "estr_XLFormatCreate", 2, "Error allocating number format");
    return nullptr;
  }
  if (!parsed) {
    estr_XLFormatFree(format);
    lower::Report(err, "estr_XLFormatCreate", 3, "Invalid number format \"%.200s\": %s", formatText,
                  problem.c_str());
    return nullptr;
  }
  if (kind) *kind = format->sections[0].kind;
  return format;
} TAVIRON_GUARD(err, nullptr)

void estr_XLFormatFree(Estr_XLFormat *format) try {
  lower::HeapDelete(format);
} TAVIRON_GUARD_QUIET_VOID

int32_t estr_XLFormatPrintNumber(double value, const Estr_XLFormat *format, char *buffer,
                                 int32_t size, int32_t flags, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!buffer || size < 1) {
    lower::Report(err, "estr_XLFormatPrintNumber", 1, "No output buffer given");
    return EMSC_FALSE;
  }
  buffer[0] = '\0';
  if (!format) {
    lower::Report(err, "estr_XLFormatPrintNumber", 2, "No number format given");
    return EMSC_FALSE;
  }
  if (flags != 0) {
    lower::Report(err, "estr_XLFormatPrintNumber", 3, "Unknown flags %d", flags);
    return EMSC_FALSE;
  }
  std::string text, problem;
  try {
    if (std::isnan(value)) {
      text = "NaN";
    } else if (std::isinf(value)) {
      text = value < 0 ? "-Infinity" : "Infinity";
    } else {
      // One section serves all numbers (with a sign); two split off the negatives; three also
      // the zero; a fourth is for text only.
      const std::size_t count = format->sections.size();
      std::size_t pick = 0;
      if (count >= 2 && value < 0) pick = 1;
      else if (count >= 3 && value == 0) pick = 2;
      const XLSection &s = format->sections[pick];
      const bool minus = value < 0 && pick == 0 && s.kind != ESTR_XLFORMAT_DATE;
      if (s.kind == ESTR_XLFORMAT_DATE) {
        if (!RenderDate(s, value, text, problem)) {
          lower::Report(err, "estr_XLFormatPrintNumber", 4, "Cannot print %g: %s", value, problem.c_str());
          return EMSC_FALSE;
        }
      } else {
        RenderNumber(s, std::fabs(value), minus, text);
      }
    }
  } catch (const std::bad_alloc &) {
    lower::Report(err, "estr_XLFormatPrintNumber", 5, "Error allocating number text");
    return EMSC_FALSE;
  }
  if (text.size() >= static_cast<std::size_t>(size)) {
    lower::Report(err, "estr_XLFormatPrintNumber", 6, "Number text of %zu characters does not fit %d bytes",
                  text.size(), size);
    return EMSC_FALSE;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return EMSC_TRUE;
} TAVIRON_GUARD(err, EMSC_FALSE)

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Path pieces

namespace {

// Copies n bytes of text into the buffer, cut to fit and terminated.
char *CopyPiece(const char *text, std::size_t n, char *buffer, int32_t size) {
  if (!buffer || size < 1) return nullptr;
  const std::size_t room = static_cast<std::size_t>(size) - 1;
  if (n > room) n = room;
  if (n) std::memmove(buffer, text, n);
  buffer[n] = '\0';
  return buffer;
}

const char *NameStart(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

} // namespace

extern "C" {

char *estr_GetPathPart(const char *name, char *buffer, int32_t size) try {
  if (!name) return CopyPiece("", 0, buffer, size);
  const char *slash = std::strrchr(name, '/');
  if (!slash) return CopyPiece("", 0, buffer, size);
  const char *end = slash;
  while (end > name && end[-1] == '/') --end; // "a//b" has the directory "a"
  if (end == name) end = name + 1;            // the root keeps its "/"
  return CopyPiece(name, static_cast<std::size_t>(end - name), buffer, size);
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_GetNamePart(const char *path, char *buffer, int32_t size) try {
  if (!path) return CopyPiece("", 0, buffer, size);
  const char *start = NameStart(path);
  return CopyPiece(start, std::strlen(start), buffer, size);
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_GetExtPart(const char *path, char *buffer, int32_t size) try {
  if (!path) return CopyPiece("", 0, buffer, size);
  const char *dot = std::strrchr(NameStart(path), '.');
  if (!dot) return CopyPiece("", 0, buffer, size);
  return CopyPiece(dot + 1, std::strlen(dot + 1), buffer, size);
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_GetNonNodePart(const char *name, char *buffer, int32_t size) try {
  if (!name) return CopyPiece("", 0, buffer, size);
  std::size_t n = std::strlen(name);
  const char *open = nullptr;
  if (n > 0 && name[n - 1] == ')') {
    for (const char *p = name + n - 1; p-- > name;)
      if (*p == '(') {
        open = p;
        break;
      }
  }
  if (open && open[1] == ':') {
    n = static_cast<std::size_t>(open - name);
  } else {
    const char *start = NameStart(name);
    const char *colon = std::strchr(start, ':');
    // A drive letter ("c:") is not a node part.
    const bool drive = colon == name + 1 && std::isalpha(static_cast<unsigned char>(name[0]));
    if (colon && !drive) n = static_cast<std::size_t>(colon - name);
  }
  return CopyPiece(name, n, buffer, size);
} TAVIRON_GUARD_QUIET(nullptr)

int estr_IsFile(const char *name) try {
  struct stat info;
  return name && *name && ::stat(name, &info) == 0 && !S_ISDIR(info.st_mode);
} TAVIRON_GUARD_QUIET(0)

char *estr_ConvertPathNT(char *text) try {
  if (text)
    for (char *p = text; *p; ++p)
      if (*p == '\\') *p = '/';
  return text;
} TAVIRON_GUARD_QUIET(nullptr)

// ---------------------------------------------------------------------------------------------
// Environment

char *estr_GetEnv(const char *name) try {
  if (!name || !*name) return nullptr;
  return estr_Duplicate(std::getenv(name));
} TAVIRON_GUARD_QUIET(nullptr)

int32_t estr_PutEnv(const char *name, const char *value) try {
  if (!name || !*name || std::strchr(name, '=')) return -1;
  return ::setenv(name, value ? value : "", 1) == 0 ? 0 : -1;
} TAVIRON_GUARD_QUIET(-1)

int estr_CheckEnv(const char *name) try { return name && *name && std::getenv(name) != nullptr; } TAVIRON_GUARD_QUIET(0)

char *estr_PathExpand(const char *text, char *buffer, int32_t size) try {
  if (buffer && size < 1) return nullptr;
  if (buffer) buffer[0] = '\0';
  if (!text) return nullptr;
  std::string expanded;
  if (!lower::ExpandVariables(text, expanded, nullptr, "estr_PathExpand")) return nullptr;
  if (!buffer) return lower::HeapCopy(expanded.data(), expanded.size());
  if (expanded.size() >= static_cast<std::size_t>(size)) return nullptr;
  std::memcpy(buffer, expanded.c_str(), expanded.size() + 1);
  return buffer;
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_StringExpand(const char *text, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!text) {
    lower::Report(err, "estr_StringExpand", 1, "No text to expand");
    return nullptr;
  }
  std::string expanded;
  if (!lower::ExpandVariables(text, expanded, err, "estr_StringExpand")) return nullptr;
  char *copy = lower::HeapCopy(expanded.data(), expanded.size());
  if (!copy) lower::Report(err, "estr_StringExpand", 2, "Error allocating expanded text");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char **estr_ArgsGet(int32_t *count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (count) *count = 0;
  std::string line;
  const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    lower::Report(err, "estr_ArgsGet", 1, "Cannot read the command line: %s", std::strerror(errno));
    return nullptr;
  }
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      lower::Report(err, "estr_ArgsGet", 1, "Cannot read the command line: %s", std::strerror(error));
      return nullptr;
    }
    if (got == 0) break;
    line.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  // Arguments are separated and ended by NUL bytes; a missing final NUL is tolerated.
  if (!line.empty() && line.back() != '\0') line += '\0';
  std::size_t n = 0;
  for (char c : line) n += c == '\0';
  auto **vector = static_cast<char **>(emsc_HeapMalloc(sizeof(char *) * (n + 1)));
  bool ok = vector != nullptr;
  for (std::size_t i = 0, at = 0; ok && i < n; ++i) {
    const std::size_t len = std::strlen(line.c_str() + at);
    ok = (vector[i] = lower::HeapCopy(line.c_str() + at, len)) != nullptr;
    at += len + 1;
  }
  if (!ok) {
    if (vector)
      for (std::size_t i = 0; i < n; ++i) emsc_HeapFree(vector[i]);
    emsc_HeapFree(vector);
    lower::Report(err, "estr_ArgsGet", 2, "Error allocating the argument vector");
    return nullptr;
  }
  if (count) *count = static_cast<int32_t>(n);
  return vector;
} TAVIRON_GUARD(err, nullptr)

// ---------------------------------------------------------------------------------------------
// UTF-16 text

int32_t estr_UnicodeStrLen(const char16_t *text) try {
  if (!text) return 0;
  int32_t n = 0;
  while (text[n]) ++n;
  return n;
} TAVIRON_GUARD_QUIET(0)

char16_t *estr_Ascii2Unicode(const char *text) try {
  if (!text) return nullptr;
  const std::size_t n = std::strlen(text);
  auto *wide = static_cast<char16_t *>(emsc_HeapMalloc((n + 1) * sizeof(char16_t)));
  if (!wide) return nullptr;
  for (std::size_t i = 0; i < n; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  return wide;
} TAVIRON_GUARD_QUIET(nullptr)

char *estr_Unicode2Ascii(const char16_t *text) try {
  if (!text) return nullptr;
  const auto n = static_cast<std::size_t>(estr_UnicodeStrLen(text));
  auto *narrow = static_cast<char *>(emsc_HeapMalloc(n + 1));
  if (!narrow) return nullptr;
  for (std::size_t i = 0; i < n; ++i)
    narrow[i] = text[i] > 0xFF ? '?' : static_cast<char>(static_cast<unsigned char>(text[i]));
  return narrow;
} TAVIRON_GUARD_QUIET(nullptr)

char16_t *estr_UnicodeStrCat(const char16_t *a, const char16_t *b) try {
  const auto la = static_cast<std::size_t>(estr_UnicodeStrLen(a));
  const auto lb = static_cast<std::size_t>(estr_UnicodeStrLen(b));
  auto *joined = static_cast<char16_t *>(emsc_HeapMalloc((la + lb + 1) * sizeof(char16_t)));
  if (!joined) return nullptr;
  if (la) std::memcpy(joined, a, la * sizeof(char16_t));
  if (lb) std::memcpy(joined + la, b, lb * sizeof(char16_t));
  return joined;
} TAVIRON_GUARD_QUIET(nullptr)

char16_t *estr_UnicodeStrDup(const char16_t *text) try {
  if (!text) return nullptr;
  return estr_UnicodeStrCat(text, nullptr);
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Visual order of bidirectional text

namespace {

// Direction classes, a simplification of the bidirectional character types: strong
// left-to-right, strong right-to-left, digits (European and Arabic-Indic), number separators and
// terminators (joined to adjacent digits), and neutrals.
enum class Dir { L, R, Digit, Separator, Terminator, Neutral };

bool InRange(char32_t c, char32_t lo, char32_t hi) { return c >= lo && c <= hi; }

// Combining marks and joiners, which stay with the character before them.
bool IsAttached(char32_t c) {
  return InRange(c, 0x0300, 0x036F) || InRange(c, 0x0483, 0x0489) || InRange(c, 0x0591, 0x05BD) ||
         c == 0x05BF || InRange(c, 0x05C1, 0x05C2) || InRange(c, 0x05C4, 0x05C5) || c == 0x05C7 ||
         InRange(c, 0x0610, 0x061A) || InRange(c, 0x064B, 0x065F) || c == 0x0670 ||
         InRange(c, 0x06D6, 0x06DC) || InRange(c, 0x06DF, 0x06E4) || InRange(c, 0x06E7, 0x06E8) ||
         InRange(c, 0x06EA, 0x06ED) || InRange(c, 0x200C, 0x200D) || InRange(c, 0xFE00, 0xFE0F) ||
         InRange(c, 0xFE20, 0xFE2F);
}

Dir Classify(char32_t c) {
  if (InRange(c, '0', '9') || InRange(c, 0x0660, 0x0669) || InRange(c, 0x06F0, 0x06F9)) return Dir::Digit;
  if (c == ',' || c == '.' || c == ':' || c == '/' || c == '+' || c == '-' || c == 0x060C || c == 0x00A0)
    return Dir::Separator;
  if (c == '#' || c == '$' || c == '%' || InRange(c, 0xA2, 0xA5) || c == 0xB0 || c == 0xB1 ||
      InRange(c, 0x2030, 0x2034) || InRange(c, 0x20A0, 0x20CF) || c == 0x066A)
    return Dir::Terminator;
  if (c == 0x200F || InRange(c, 0x0590, 0x08FF) || InRange(c, 0xFB1D, 0xFDFF) || InRange(c, 0xFE70, 0xFEFE) ||
      InRange(c, 0x10800, 0x10FFF) || InRange(c, 0x1E800, 0x1EFFF))
    return Dir::R;
  if (c == 0x200E) return Dir::L;
  if (c < 0x80) {
    const bool alnum = InRange(c, 'A', 'Z') || InRange(c, 'a', 'z');
    return alnum ? Dir::L : Dir::Neutral;
  }
  if ((InRange(c, 0xA0, 0xBF) && c != 0xAA && c != 0xB5 && c != 0xBA) || c == 0xD7 || c == 0xF7 ||
      InRange(c, 0x2000, 0x2BFF) || InRange(c, 0x3000, 0x303F))
    return Dir::Neutral;
  return Dir::L;
}

char16_t Mirror(char16_t c) {
  switch (c) {
  case u'(': return u')';
  case u')': return u'(';
  case u'[': return u']';
  case u']': return u'[';
  case u'{': return u'}';
  case u'}': return u'{';
  case u'<': return u'>';
  case u'>': return u'<';
  case 0x00AB: return 0x00BB;
  case 0x00BB: return 0x00AB;
  case 0x2039: return 0x203A;
  case 0x203A: return 0x2039;
  default: return c;
  }
}

struct Cluster {
  std::size_t begin, end; // units [begin, end) of the text
  Dir dir;
};

// A unit of reordering: one cluster, or a number (digits with the separators between them and the
// terminators around them), which keeps its inner order.
struct Piece {
  std::size_t first, last; // clusters [first, last]
  Dir dir;
};

void ReorderLine(const char16_t *text, std::size_t begin, std::size_t end, char16_t *out) {
  std::vector<Cluster> clusters;
  for (std::size_t i = begin; i < end;) {
    const std::size_t start = i;
    char32_t c = text[i++];
    if (InRange(c, 0xD800, 0xDBFF) && i < end && InRange(text[i], 0xDC00, 0xDFFF))
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00u);
    Dir dir = IsAttached(c) ? Dir::Neutral : Classify(c);
    while (i < end && IsAttached(text[i])) ++i;
    clusters.push_back({start, i, dir});
  }
  std::vector<Piece> pieces;
  for (std::size_t k = 0; k < clusters.size();) {
    const bool startsNumber =
        clusters[k].dir == Dir::Digit ||
        (clusters[k].dir == Dir::Terminator && k + 1 < clusters.size() && clusters[k + 1].dir == Dir::Digit);
    if (!startsNumber) {
      Dir dir = clusters[k].dir;
      if (dir == Dir::Separator || dir == Dir::Terminator) dir = Dir::Neutral;
      pieces.push_back({k, k, dir});
      ++k;
      continue;
    }
    std::size_t j = k;
    while (j < clusters.size() && clusters[j].dir == Dir::Terminator) ++j;
    for (;;) {
      while (j < clusters.size() && clusters[j].dir == Dir::Digit) ++j;
      if (j + 1 < clusters.size() && clusters[j].dir == Dir::Separator && clusters[j + 1].dir == Dir::Digit) {
        ++j;
        continue;
      }
      break;
    }
    while (j < clusters.size() && clusters[j].dir == Dir::Terminator) ++j;
    pieces.push_back({k, j - 1, Dir::Digit});
    k = j;
  }
  // A right-to-left run starts at a right-to-left piece and takes in what follows up to the last
  // right-to-left piece or number before a left-to-right piece or the end of the line.
  for (std::size_t p = 0; p < pieces.size();) {
    if (pieces[p].dir != Dir::R) {
      ++p;
      continue;
    }
    std::size_t last = p;
    for (std::size_t q = p + 1; q < pieces.size() && pieces[q].dir != Dir::L; ++q)
      if (pieces[q].dir == Dir::R || pieces[q].dir == Dir::Digit) last = q;
    char16_t *o = out + clusters[pieces[p].first].begin;
    for (std::size_t q = last + 1; q-- > p;) {
      const Piece &piece = pieces[q];
      const std::size_t from = clusters[piece.first].begin, to = clusters[piece.last].end;
      if (piece.dir == Dir::Neutral && to - from == 1) *o++ = Mirror(text[from]);
      else
        for (std::size_t u = from; u < to; ++u) *o++ = text[u];
    }
    p = last + 1;
  }
}

} // namespace

extern "C" {

char16_t *estr_TranslateTextToVisualUC(const char16_t *text, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!text) return nullptr;
  char16_t *visual = estr_UnicodeStrDup(text);
  if (!visual) {
    lower::Report(err, "estr_TranslateTextToVisualUC", 1, "Error allocating visual text");
    return nullptr;
  }
  try {
    const auto n = static_cast<std::size_t>(estr_UnicodeStrLen(text));
    for (std::size_t begin = 0; begin < n;) {
      std::size_t end = begin;
      while (end < n && text[end] != u'\n' && text[end] != u'\r') ++end;
      ReorderLine(text, begin, end, visual);
      begin = end + 1;
    }
  } catch (const std::bad_alloc &) {
    emsc_HeapFree(visual);
    lower::Report(err, "estr_TranslateTextToVisualUC", 1, "Error allocating visual text");
    return nullptr;
  }
  return visual;
} TAVIRON_GUARD(err, nullptr)

char *estr_TranslateTextToVisual(const char *text, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!text) return nullptr;
  // Latin-1 holds no right-to-left characters: the visual order is the logical one.
  char *visual = estr_Duplicate(text);
  if (!visual) lower::Report(err, "estr_TranslateTextToVisual", 1, "Error allocating visual text");
  return visual;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
