// The value reader of keyword lists.
#include "keywords.h"

#include "internal.h"

namespace taviron::lower {

void ReadValues(const Shape &shape, va_list *ap, KeywordValues &values) {
  values.list_.clear();
  values.listTooLong_ = false;
  for (int i = 0; i < shape.count; ++i) {
    KeywordValues::Word &word = values.words_[i];
    switch (shape.values[i]) {
    case Value::Int: word.i = va_arg(*ap, int); break;
    case Value::Double: word.d = va_arg(*ap, double); break;
    case Value::Pointer: word.p = va_arg(*ap, void *); break;
    case Value::Function: word.f = va_arg(*ap, void (*)()); break;
    case Value::PointerList:
      for (void *item = va_arg(*ap, void *); item; item = va_arg(*ap, void *)) {
        if (static_cast<int32_t>(values.list_.size()) >= kMaxListValues) {
          values.listTooLong_ = true;
          break;
        }
        values.list_.push_back(item);
      }
      break;
    }
  }
}

void ReportUnknownKeyword(Eerr_ErrorReport **err, const char *reporter, const char *message,
                          int32_t reportCode, int32_t code) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  Report(err, reporter, reportCode, message, code);
#pragma GCC diagnostic pop
}

} // namespace taviron::lower
