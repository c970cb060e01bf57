// Counted 8-bit and UTF-16 strings held inside annotation records.
#include <cstring>

#include "eant_internal.h"
#include "emsc.h"

namespace lower = taviron::lower;
using taviron::eant::Valid;

namespace {

bool ValidUnicode(const Eant_UnicodeStr *string) {
  return string && (string->count == 0 || (string->count > 0 && string->data));
}

// Frees a counted pair {count, data}.
template <class Pair> void FreePair(Pair *pair) {
  if (!pair) return;
  emsc_HeapFreeEx(&pair->data);
  pair->count = 0;
}

} // namespace

extern "C" {

Eant_CharStr *eant_CharStrCreate(const char *text, Eant_CharStr *string, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CharStrCreate";
  lower::Clear(err);
  if (!string) {
    lower::Report(err, reporter, 3, "Invalid output Eant_CharStrPtr");
    return nullptr;
  }
  if (!text) {
    FreePair(string);
    return string;
  }
  const std::size_t length = std::strlen(text);
  if (length >= lower::kMaxBlockBytes) {
    lower::Report(err, reporter, 2, "Error allocating charStr->data");
    return nullptr;
  }
  const auto count = static_cast<int32_t>(length + 1);
  if (string->count == count && string->data) {
    std::memmove(string->data, text, length + 1); // the text may be the string's own
    return string;
  }
  char *data = lower::HeapCopy(text, length);
  if (!data) {
    lower::Report(err, reporter, 2, "Error allocating charStr->data");
    return nullptr;
  }
  emsc_HeapFree(string->data);
  string->data = data;
  string->count = count;
  return string;
} TAVIRON_GUARD(err, nullptr)

Eant_CharStr *eant_CharStrCopy(const Eant_CharStr *source, Eant_CharStr *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CharStrCopy";
  lower::Clear(err);
  if (!Valid(source)) {
    lower::Report(err, reporter, 1, "Invalid input Eant_CharStrPtr");
    return nullptr;
  }
  if (!target) {
    lower::Report(err, reporter, 2, "Invalid output Eant_CharStrPtr");
    return nullptr;
  }
  lower::CalleeReport inner;
  if (!eant_CharStrCreate(taviron::eant::Text(*source), target, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CharStrCreate");
    return nullptr;
  }
  return target;
} TAVIRON_GUARD(err, nullptr)

int32_t eant_CharStrCompare(const Eant_CharStr *a, const Eant_CharStr *b, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CharStrCompare";
  lower::Clear(err);
  if (!Valid(a)) {
    lower::Report(err, reporter, 1, "Invalid input first Eant_CharStrPtr");
    return 0;
  }
  if (!Valid(b)) {
    lower::Report(err, reporter, 2, "Invalid input second Eant_CharStrPtr");
    return 0;
  }
  if (a->count != b->count) return 0;
  return a->count == 0 || std::memcmp(a->data, b->data, static_cast<std::size_t>(a->count)) == 0 ? 1 : 0;
} TAVIRON_GUARD(err, 0)

void eant_CharStrFree(Eant_CharStr *string) try { FreePair(string); } TAVIRON_GUARD_QUIET_VOID

void eant_LineCompositionFree(Eant_LineComposition *composition) try {
  FreePair(composition);
} TAVIRON_GUARD_QUIET_VOID

Eant_UnicodeStr *eant_UnicodeStrCreate(const char16_t *text, Eant_UnicodeStr *string, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_UnicodeStrCreate";
  lower::Clear(err);
  if (!string) {
    lower::Report(err, reporter, 2, "Invalid output Eant_UnicodeStrPtr");
    return nullptr;
  }
  char16_t *data = nullptr;
  int32_t count = 0;
  if (text) {
    // The copy comes first: the text may be the string's own.
    data = estr_UnicodeStrDup(text);
    if (!data) {
      lower::Report(err, reporter, 1, "Error allocating unicodeStr->data");
      return nullptr;
    }
    count = estr_UnicodeStrLen(text) + 1;
  }
  emsc_HeapFree(string->data);
  string->data = data;
  string->count = count;
  return string;
} TAVIRON_GUARD(err, nullptr)

Eant_UnicodeStr *eant_UnicodeStrCopy(const Eant_UnicodeStr *source, Eant_UnicodeStr *target,
                                     Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_UnicodeStrCopy";
  lower::Clear(err);
  if (!ValidUnicode(source)) {
    lower::Report(err, reporter, 1, "Invalid input Eant_UnicodeStrPtr");
    return nullptr;
  }
  if (!target) {
    lower::Report(err, reporter, 2, "Invalid output Eant_UnicodeStrPtr");
    return nullptr;
  }
  lower::CalleeReport inner;
  if (!eant_UnicodeStrCreate(source->count > 0 ? source->data : nullptr, target, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_UnicodeStrCreate");
    return nullptr;
  }
  return target;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
