// Variadic keyword lists read from one table of {code, value shapes}.
//
// A keyword list is "code, values..., code, values..., end" in the variable arguments of a call.
// The table names, for every code, the C types of its values in order, and the reader takes
// exactly those types from the va_list (a 32-bit value is read as int, a double as double, a
// text or record as a pointer). Each keyword is handed to the caller's `apply` as soon as its
// values are read, so a keyword that fails stops the list with the keywords before it applied:
//
//   constexpr lower::Keyword kChanges[] = {
//       {EHFA_CHANGE_BRACKET, {Value::Int, Value::Int, Value::Int, Value::Int}},
//       {EHFA_CHANGE_RENAME, {Value::Pointer}}};
//   constexpr lower::KeywordList kList{kChanges, "Invalid keyword %d"};
//   lower::ReadKeywords(kList, ap, reporter, 2, err, [&](int32_t code, const lower::KeywordValues &v) {
//     ... v.Int(0), v.Pointer<const char>(0) ...; return true; // false: stop (apply reported)
//   });
//
// A code the table lacks is reported (the caller's reporter and code, the list's message with
// the keyword's code filling %d) and ends the reading, since its values cannot be told. Lists whose error slot follows them
// give every code the table lacks one shape (`other`), so that the list can be read to its end
// before the slot is: ReadKeywordsThenSlot. ReadValues reads the values of one shape alone (a
// packet type's arguments, for instance).
#ifndef TAVIRON_LOWER_KEYWORDS_H
#define TAVIRON_LOWER_KEYWORDS_H

#include <cstdarg>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "eerr.h"

namespace taviron::lower {

// The C type of one value, as the caller passes it.
enum class Value : uint8_t {
  Int,         // a 32-bit integer: va_arg(ap, int)
  Double,      // va_arg(ap, double)
  Pointer,     // a data pointer (text, record, array): va_arg(ap, void *)
  Function,    // a function pointer: va_arg(ap, void (*)())
  PointerList, // data pointers up to and including a null one
};

inline constexpr int kMaxKeywordValues = 16;
// Most pointers a PointerList takes before its null (a list that runs on without one).
inline constexpr int32_t kMaxListValues = 100000;

// The values of one code, in order.
struct Shape {
  uint8_t count = 0;
  Value values[kMaxKeywordValues] = {};

  constexpr Shape() = default;
  constexpr Shape(std::initializer_list<Value> list) {
    for (Value value : list) values[count++] = value;
  }
};

struct Keyword {
  int32_t code;
  Shape shape;
};

// A table of keywords: the codes of one list.
struct KeywordTable {
  std::span<const Keyword> keywords;
  constexpr const Shape *Find(int32_t code) const {
    for (const Keyword &keyword : keywords)
      if (keyword.code == code) return &keyword.shape;
    return nullptr;
  }
};

// One list: its table, the message of a code the table lacks, and the code that ends it.
// The table may be any type with `const Shape *Find(int32_t code) const` (shapes that follow
// from the code's bits, for instance).
template <class Table = KeywordTable> struct BasicKeywordList {
  Table table;
  const char *unknownMessage; // printf format; the keyword's code fills %d
  int32_t end = 0;
  const Shape *other = nullptr; // shape of every code the table lacks (lists followed by err)
};
using KeywordList = BasicKeywordList<>;

// The values of one keyword as read.
class KeywordValues {
public:
  int32_t Int(int i) const { return words_[i].i; }
  double Double(int i) const { return words_[i].d; }
  template <class T = void> T *Pointer(int i) const { return static_cast<T *>(words_[i].p); }
  template <class F> F Function(int i) const { return reinterpret_cast<F>(words_[i].f); }
  // The pointers of the shape's PointerList (without the closing null).
  const std::vector<void *> &List() const { return list_; }
  // True when the PointerList ran past kMaxListValues; its reading stopped there.
  bool ListTooLong() const { return listTooLong_; }

private:
  union Word {
    int32_t i;
    double d;
    void *p;
    void (*f)();
  };
  Word words_[kMaxKeywordValues] = {};
  std::vector<void *> list_;
  bool listTooLong_ = false;
  friend void ReadValues(const Shape &shape, va_list *ap, KeywordValues &values);
};

// Reads the values of one shape from *ap into values. (The readers work on a va_list of their
// own, copied from the one given, and pass its address: a va_list handed on by value need not
// advance in its caller.)
void ReadValues(const Shape &shape, va_list *ap, KeywordValues &values);
// The same from the start of a call's arguments (read from a copy of ap).
inline void ReadValues(const Shape &shape, va_list ap, KeywordValues &values) {
  va_list own;
  va_copy(own, ap);
  ReadValues(shape, &own, values);
  va_end(own);
}

// Reports a code that a list's table lacks.
void ReportUnknownKeyword(Eerr_ErrorReport **err, const char *reporter, const char *message,
                          int32_t reportCode, int32_t code);

// Reads the list from `first` (already taken from the arguments) to its end code, handing each
// keyword to apply(code, values) -> bool. True when the list ended; false when a code was not
// in the table (reported) or apply returned false.
template <class Table, class Apply>
bool ReadKeywordsFrom(const BasicKeywordList<Table> &list, int32_t first, va_list *ap, const char *reporter,
                      int32_t reportCode, Eerr_ErrorReport **err, Apply &apply) {
  KeywordValues values;
  for (int32_t code = first; code != list.end; code = va_arg(*ap, int)) {
    const Shape *shape = list.table.Find(code);
    if (!shape) {
      ReportUnknownKeyword(err, reporter, list.unknownMessage, reportCode, code);
      return false;
    }
    ReadValues(*shape, ap, values);
    if (!apply(code, static_cast<const KeywordValues &>(values))) return false;
  }
  return true;
}

template <class Table, class Apply>
bool ReadKeywords(const BasicKeywordList<Table> &list, int32_t first, va_list ap, const char *reporter,
                  int32_t reportCode, Eerr_ErrorReport **err, Apply &&apply) {
  va_list own;
  va_copy(own, ap);
  const bool ended = ReadKeywordsFrom(list, first, &own, reporter, reportCode, err, apply);
  va_end(own);
  return ended;
}

// The same for a list whose first code is in the arguments too.
template <class Table, class Apply>
bool ReadKeywords(const BasicKeywordList<Table> &list, va_list ap, const char *reporter, int32_t reportCode,
                  Eerr_ErrorReport **err, Apply &&apply) {
  va_list own;
  va_copy(own, ap);
  const int32_t first = va_arg(own, int);
  const bool ended = ReadKeywordsFrom(list, first, &own, reporter, reportCode, err, apply);
  va_end(own);
  return ended;
}

// A list followed by the error slot: reads every keyword (a code the table lacks takes
// list.other, and apply sees only the codes of the table), then the slot, which it clears and
// returns. `ok` is false when a code was not in the table (reported into the slot, the first
// such code) or apply returned false for any keyword.
template <class Table, class Apply>
Eerr_ErrorReport **ReadKeywordsThenSlot(const BasicKeywordList<Table> &list, int32_t first, va_list ap,
                                        const char *reporter, int32_t reportCode, bool &ok, Apply &&apply) {
  KeywordValues values;
  int32_t unknown = 0;
  bool applied = true;
  va_list own;
  va_copy(own, ap);
  for (int32_t code = first; code != list.end; code = va_arg(own, int)) {
    const Shape *shape = list.table.Find(code);
    ReadValues(shape ? *shape : *list.other, &own, values);
    if (!shape) {
      if (!unknown) unknown = code;
    } else if (applied && !apply(code, static_cast<const KeywordValues &>(values))) {
      applied = false;
    }
  }
  Eerr_ErrorReport **err = va_arg(own, Eerr_ErrorReport **);
  va_end(own);
  if (err) *err = nullptr;
  if (unknown) ReportUnknownKeyword(err, reporter, list.unknownMessage, reportCode, unknown);
  ok = applied && !unknown;
  return err;
}

} // namespace taviron::lower

#endif
