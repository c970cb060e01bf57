/* Text helpers of the class layer: comparison and the 8-bit / UTF-16 conversions, and the class
   EtxtTextA that owns an 8-bit copy of a UTF-16 text. */
#ifndef TAVIRON_ETXT_H
#define TAVIRON_ETXT_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* strcmp of two texts: 0 when equal, negative / positive by the first differing byte (unsigned).
   A null text compares as below any text; two nulls are equal. */
int etxt_Text_strcmp(const char *a, const char *b);
/* A heap 8-bit (Latin-1) copy of the UTF-16 text. encoding must be 0 (Latin-1). A text holding a
   unit above 255 cannot be represented and gives null with a report (no silent substitution, so
   a name is never turned into another). Null text gives null without a report. */
char *etxt_Text_Unicode2Ascii(int32_t encoding, const char16_t *text, Eerr_ErrorReport **err);
/* A heap UTF-16 copy of the 8-bit (Latin-1) text, each byte widened. encoding must be 0. Null
   text gives null without a report. */
char16_t *etxt_Text_Ascii2Unicode(int32_t encoding, const char *text, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#ifdef __cplusplus

/* Owns one 8-bit copy of a UTF-16 text made by etxt_Text_Unicode2Ascii; Get() is null when the
   text was null or could not be converted. The copy is freed by the destructor or Reset(). */
class TAVIRON_API EtxtTextA {
public:
  explicit EtxtTextA(const char16_t *text, Eerr_ErrorReport **err = nullptr);
  ~EtxtTextA();
  EtxtTextA(const EtxtTextA &) = delete;
  EtxtTextA &operator=(const EtxtTextA &) = delete;
  EtxtTextA(EtxtTextA &&other) noexcept;
  EtxtTextA &operator=(EtxtTextA &&other) noexcept;

  const char *Get() const { return text_; }
  operator const char *() const { return text_; }
  /* Frees the copy now. */
  void Reset();

private:
  char *text_ = nullptr;
};
#endif

#endif
