// Text comparison, 8-bit / UTF-16 conversions and the owning class EtxtTextA.
#include "etxt.h"

#include <cstring>
#include <utility>

#include "emsc.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;

extern "C" {

int etxt_Text_strcmp(const char *a, const char *b) try {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  return std::strcmp(a, b);
} TAVIRON_GUARD_QUIET(0)

char *etxt_Text_Unicode2Ascii(int32_t encoding, const char16_t *text, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (encoding != 0) {
    lower::Report(err, "etxt_Text_Unicode2Ascii", 1, "Unknown encoding %d", encoding);
    return nullptr;
  }
  if (!text) return nullptr;
  for (int32_t i = 0; text[i]; ++i) {
    if (text[i] > 0xFF) {
      lower::Report(err, "etxt_Text_Unicode2Ascii", 2,
                    "Character U+%04X at position %d has no 8-bit form", static_cast<unsigned>(text[i]), i + 1);
      return nullptr;
    }
  }
  char *narrow = estr_Unicode2Ascii(text);
  if (!narrow) lower::Report(err, "etxt_Text_Unicode2Ascii", 3, "Error allocating 8-bit text");
  return narrow;
} TAVIRON_GUARD(err, nullptr)

char16_t *etxt_Text_Ascii2Unicode(int32_t encoding, const char *text, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (encoding != 0) {
    lower::Report(err, "etxt_Text_Ascii2Unicode", 1, "Unknown encoding %d", encoding);
    return nullptr;
  }
  if (!text) return nullptr;
  char16_t *wide = estr_Ascii2Unicode(text);
  if (!wide) lower::Report(err, "etxt_Text_Ascii2Unicode", 2, "Error allocating UTF-16 text");
  return wide;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

EtxtTextA::EtxtTextA(const char16_t *text, Eerr_ErrorReport **err)
    : text_(etxt_Text_Unicode2Ascii(0, text, err)) {}

EtxtTextA::~EtxtTextA() { emsc_HeapFree(text_); }

EtxtTextA::EtxtTextA(EtxtTextA &&other) noexcept : text_(std::exchange(other.text_, nullptr)) {}

EtxtTextA &EtxtTextA::operator=(EtxtTextA &&other) noexcept {
  if (this != &other) {
    emsc_HeapFree(text_);
    text_ = std::exchange(other.text_, nullptr);
  }
  return *this;
}

void EtxtTextA::Reset() { emsc_HeapFree(std::exchange(text_, nullptr)); }
