// The string of a text element: its record, the meta strings that name database fields, their
// evaluation through the current DBI data, and the 8-bit or 16-bit byte form it is stored in.
#include <cstring>
#include <string>

#include "eant_internal.h"
#include "efio.h"
#include "emsc.h"
#include "estr.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

constexpr char16_t kOpen = static_cast<char16_t>(EANT_FIELD_OPEN);
constexpr char16_t kClose = static_cast<char16_t>(EANT_FIELD_CLOSE);
constexpr char16_t kEscape = u'\\';

// The text as 8-bit text for a message (units above 255 shown as "?").
std::string Narrow(const char16_t *text) {
  char *narrow = estr_Unicode2Ascii(text);
  std::string result = narrow ? narrow : "";
  emsc_HeapFree(narrow);
  return result;
}

// Frees a whole list and empties its head.
void FreeList(Eant_MetaStringData *&head) {
  while (head) {
    Eant_MetaStringData *next = head->next;
    emsc_HeapFree(head->string);
    emsc_HeapFree(head);
    head = next;
  }
}

bool HasString(const Eant_TextData *data) { return data->string.count > 0 && data->string.data; }

// The checks of the source that the getters share: 0 for local text, else the code's report.
bool CheckLocal(const Eant_TextData *data, const char *reporter, int32_t code, const char *otherMessage,
                Eerr_ErrorReport **err) {
  if (data->source == EANT_LOCAL) return true;
  if (data->source == EANT_DESCRIPTORDATA)
    lower::Report(err, reporter, code, "Non-local text data not yet supported");
  else
    lower::Report(err, reporter, code + 1, "%s", otherMessage);
  return false;
}

// Appends piece to the evaluated text (a new string replaces it).
bool Append(char16_t *&result, const char16_t *piece, const char *reporter, Eerr_ErrorReport **err) {
  char16_t *longer = estr_UnicodeStrCat(result, piece);
  if (!longer) {
    lower::Report(err, reporter, 3, "Unable to create newstring");
    return false;
  }
  emsc_HeapFree(result);
  result = longer;
  return true;
}

} // namespace

namespace taviron::eant {

bool TextDataWidenOnRead(Eant_TextData *data, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  if (!data || data->string.count <= 0 || !data->string.data) return true;
  const auto *bytes = reinterpret_cast<const unsigned char *>(data->string.data);
  const auto count = static_cast<std::size_t>(data->string.count);
  std::size_t length = 0;
  char16_t *wide = nullptr;
  if (count > 2 && bytes[0] == 0 && bytes[1] == 0) {
    // The 16-bit form: a 0 unit, the units, a 0 unit. A count that is odd or lacks the closing
    // unit would read past the stored bytes.
    if (count % 2 != 0 || count < 4 || bytes[count - 2] != 0 || bytes[count - 1] != 0) {
      lower::Report(err, reporter, code, "Invalid 16-bit text string of %d bytes in Eant_TextData",
                    data->string.count);
      return false;
    }
    const std::size_t units = count / 2;
    const auto unit = [&](std::size_t i) {
      return static_cast<char16_t>(bytes[2 * i] | (static_cast<unsigned>(bytes[2 * i + 1]) << 8));
    };
    while (1 + length < units && unit(1 + length) != 0) ++length;
    wide = static_cast<char16_t *>(emsc_HeapMalloc((length + 1) * sizeof(char16_t)));
    if (!wide) {
      lower::Report(err, reporter, code, "Unable to allocate text");
      return false;
    }
    for (std::size_t i = 0; i < length; ++i) wide[i] = unit(1 + i);
  } else {
    // The 8-bit form: Latin-1 bytes widened by zero extension.
    while (length < count && bytes[length] != 0) ++length;
    wide = static_cast<char16_t *>(emsc_HeapMalloc((length + 1) * sizeof(char16_t)));
    if (!wide) {
      lower::Report(err, reporter, code, "Unable to allocate text");
      return false;
    }
    for (std::size_t i = 0; i < length; ++i) wide[i] = bytes[i];
  }
  wide[length] = 0;
  emsc_HeapFree(data->string.data);
  data->string.data = wide;
  data->string.count = static_cast<int32_t>(length + 1);
  return true;
}

} // namespace taviron::eant

extern "C" {

// ---- Meta strings ----

Eant_MetaStringData *eant_MetaStringDataCreate(int32_t type, const char16_t *text, Eant_MetaStringData *list,
                                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!text || !*text) return list;
  auto *node = static_cast<Eant_MetaStringData *>(emsc_HeapMalloc(sizeof(Eant_MetaStringData)));
  char16_t *copy = node ? estr_UnicodeStrDup(text) : nullptr;
  if (!copy) {
    emsc_HeapFree(node);
    lower::Report(err, "eant_MetaStringDataCreate", 1, "Error allocating Meta String Data");
    return list;
  }
  node->type = type;
  node->string = copy;
  node->column = -1;
  return eant_MetaStringDataAddToList(list, node, nullptr);
} TAVIRON_GUARD(err, list)

Eant_MetaStringData *eant_MetaStringDataAddToList(Eant_MetaStringData *list, Eant_MetaStringData *node,
                                                  Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) return node;
  if (!node) return list;
  Eant_MetaStringData *last = list;
  while (last->next) last = last->next;
  last->next = node;
  return list;
} TAVIRON_GUARD(err, list)

void eant_MetaStringDataFree(Eant_MetaStringData *node) try {
  if (!node) return;
  FreeList(node->next);
} TAVIRON_GUARD_QUIET_VOID

Eant_MetaStringData *eant_MetaStringParse(const char16_t *text, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_MetaStringParse";
  lower::Clear(err);
  if (!text) {
    lower::Report(err, reporter, 1, "Invalid input string");
    return nullptr;
  }
  const std::size_t length = static_cast<std::size_t>(estr_UnicodeStrLen(text));
  auto *buffer = static_cast<char16_t *>(emsc_HeapMalloc(2 * length + 2));
  if (!buffer) {
    lower::Report(err, reporter, 2, "Unable to allocate text");
    return nullptr;
  }
  enum class State { Text, TextEscape, Field, FieldEscape } state = State::Text;
  Eant_MetaStringData *list = nullptr;
  std::size_t used = 0;
  lower::CalleeReport inner;
  // Makes a node of the run collected so far and starts a new run.
  const auto flush = [&](int32_t type) {
    buffer[used] = 0;
    list = eant_MetaStringDataCreate(type, buffer, list, &inner);
    used = 0;
    return !inner;
  };
  const char *failure = nullptr;
  int32_t code = 0;
  for (std::size_t i = 0;; ++i) {
    const char16_t unit = text[i];
    bool ok = true;
    switch (state) {
    case State::Text:
      if (unit == 0) {
        ok = flush(EANT_METASTRING_LITERAL);
      } else if (unit == kOpen) {
        ok = flush(EANT_METASTRING_LITERAL);
        state = State::Field;
      } else if (unit == kEscape) {
        state = State::TextEscape;
      } else if (unit == kClose) {
        failure = "Unmatched field delimiter in string \"%s\"";
        code = 3;
      } else {
        buffer[used++] = unit;
      }
      break;
    case State::TextEscape:
      if (unit == 0) {
        ok = flush(EANT_METASTRING_LITERAL);
      } else {
        buffer[used++] = unit;
        state = State::Text;
      }
      break;
    case State::Field:
      if (unit == 0) {
        failure = "Unmatched field delimiter in string \"%s\"";
        code = 3;
      } else if (unit == kEscape) {
        state = State::FieldEscape;
      } else if (unit == kOpen) {
        failure = "Invalid nesting of field delimiters in string \"%s\"";
        code = 4;
      } else if (unit == kClose) {
        ok = flush(EANT_METASTRING_FIELD);
        state = State::Text;
      } else {
        buffer[used++] = unit;
      }
      break;
    case State::FieldEscape:
      if (unit == 0) {
        failure = "Unmatched field delimiter in string \"%s\"";
        code = 3;
      } else {
        buffer[used++] = unit;
        state = State::Field;
      }
      break;
    }
    if (!ok) {
      emsc_HeapFree(buffer);
      FreeList(list);
      lower::ReportCallee(err, inner, reporter, 5, "eant_MetaStringDataCreate");
      return nullptr;
    }
    if (failure) {
      emsc_HeapFree(buffer);
      FreeList(list);
      lower::Report(err, reporter, code, failure, Narrow(text).c_str());
      return nullptr;
    }
    if (unit == 0) break;
  }
  emsc_HeapFree(buffer);
  return list;
} TAVIRON_GUARD(err, nullptr)

int32_t eant_MetaStringDataCheckForSmartData(const Eant_MetaStringData *list, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) {
    lower::Report(err, "eant_MetaStringDataCheckForSmartData", 1, "Invalid input Eant_MetaStringData");
    return 0;
  }
  for (; list; list = list->next)
    if (list->type == EANT_METASTRING_FIELD) return 1;
  return 0;
} TAVIRON_GUARD(err, 0)

char16_t *eant_MetaStringDataBuildString(Eant_MetaStringData *list, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_MetaStringDataBuildString";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "Invalid input meta string data");
    return nullptr;
  }
  char16_t *result = static_cast<char16_t *>(emsc_HeapMalloc(sizeof(char16_t)));
  if (!result) {
    lower::Report(err, reporter, 3, "Unable to create newstring");
    return nullptr;
  }
  const Eant_DBIData *dbi = eant_DBIData();
  const bool bound = dbi && dbi->attributeStringCallback && dbi->columnNumberCallback;
  const auto fail = [&]() -> char16_t * {
    emsc_HeapFree(result);
    return nullptr;
  };
  for (Eant_MetaStringData *node = list; node; node = node->next) {
    if (node->type == EANT_METASTRING_LITERAL) {
      if (!Append(result, node->string, reporter, err)) return fail();
      continue;
    }
    if (node->type != EANT_METASTRING_FIELD) {
      lower::Report(err, reporter, 2, "Invalid meta string data type");
      return fail();
    }
    char *narrow = estr_Unicode2Ascii(node->string);
    if (!narrow) {
      lower::Report(err, reporter, 3, "Unable to create newstring");
      return fail();
    }
    const std::string name = narrow;
    emsc_HeapFree(narrow);
    char value[256] = {};
    if (bound) {
      lower::CalleeReport inner;
      node->column = dbi->columnNumberCallback(dbi->data, name.c_str(), &inner);
      if (inner) {
        lower::ReportChained(err, inner, reporter, 4, "Error getting column number for field \"%s\"", name.c_str());
        return fail();
      }
      if (!dbi->attributeStringCallback(dbi->data, dbi->currentRow, node->column, value, sizeof value)) {
        lower::Report(err, reporter, 5, "Unable to read data from row %d, field \"%s\"", dbi->currentRow,
                      name.c_str());
        return fail();
      }
      // The callback need not terminate what it wrote.
      value[sizeof value - 1] = 0;
    } else {
      // Without a database the field shows its name between the 8-bit forms of the delimiters.
      std::string shown = "\xAB" + name + "\xBB";
      if (shown.size() > sizeof value - 1) shown.resize(sizeof value - 1);
      std::memcpy(value, shown.data(), shown.size());
    }
    char16_t *wide = estr_Ascii2Unicode(value);
    if (!wide) {
      lower::Report(err, reporter, 3, "Unable to create newstring");
      return fail();
    }
    const bool appended = Append(result, wide, reporter, err);
    emsc_HeapFree(wide);
    if (!appended) return fail();
  }
  return result;
} TAVIRON_GUARD(err, nullptr)

// ---- Text data ----

Eant_TextData *eant_TextDataCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *data = static_cast<Eant_TextData *>(emsc_HeapMalloc(sizeof(Eant_TextData)));
  if (!data) lower::Report(err, "eant_TextDataCreate", 1, "Error allocating Text Data");
  return data;
} TAVIRON_GUARD(err, nullptr)

void eant_TextDataFree(Eant_TextData **data) try {
  if (!data || !*data) return;
  emsc_HeapFree((*data)->string.data);
  FreeList((*data)->metaStringList);
  emsc_HeapFree(*data);
  *data = nullptr;
} TAVIRON_GUARD_QUIET_VOID

Eant_TextData *eant_TextDataCopy(const Eant_TextData *source, Eant_TextData *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextDataCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_TextData");
    return target;
  }
  if (!CheckLocal(source, reporter, 2, "Invalid text data source", err)) return target;
  lower::CalleeReport inner;
  Eant_TextData *made = nullptr;
  if (!target && !(target = made = eant_TextDataCreate(&inner))) {
    lower::PassOn(err, inner);
    return nullptr;
  }
  const auto fail = [&](int32_t code, const char *callee) -> Eant_TextData * {
    lower::ReportCallee(err, inner, reporter, code, callee);
    if (!made) return target;
    eant_TextDataFree(&made);
    return nullptr;
  };
  if (!eant_UnicodeStrCopy(&source->string, &target->string, &inner)) return fail(4, "eant_UnicodeStrCopy");
  target->source = source->source;
  FreeList(target->metaStringList);
  if (source->metaStringList && HasString(target)) {
    target->metaStringList = eant_MetaStringParse(target->string.data, &inner);
    if (inner) return fail(5, "eant_MetaStringParse");
  }
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_TextDataPrint(const Eant_TextData *data, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextDataPrint";
  lower::Clear(err);
  if (!data) return lower::Report(err, reporter, 1, "Invalid input Eant_TextData");
  if (!CheckLocal(data, reporter, 2, "Invalid text data source", err)) return;
  efio_Printf("Text:\n");
} TAVIRON_GUARD_VOID(err)

void eant_TextDataSetupString(Eant_TextData *data, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextDataSetupString";
  lower::Clear(err);
  if (!data) return lower::Report(err, reporter, 1, "Invalid input textData");
  if (data->source == EANT_DESCRIPTORDATA) return;
  if (data->source != EANT_LOCAL) return lower::Report(err, reporter, 2, "Invalid text data source");
  FreeList(data->metaStringList);
  if (!HasString(data)) return lower::Report(err, reporter, 3, "Local text string does not exist");
  lower::CalleeReport inner;
  data->metaStringList = eant_MetaStringParse(data->string.data, &inner);
  if (inner)
    lower::ReportChained(err, inner, reporter, 4, "Error returned from eant_MetaStringParse; invalid meta string \"%s\"",
                         Narrow(data->string.data).c_str());
} TAVIRON_GUARD_VOID(err)

void eant_TextDataSetWithParseFlag(Eant_TextData *data, int32_t source, const char16_t *text, int32_t parseFlag,
                                   Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextDataSetWithParseFlag";
  lower::Clear(err);
  if (!data) return lower::Report(err, reporter, 1, "Invalid input textData");
  if (source == EANT_DESCRIPTORDATA) return lower::Report(err, reporter, 2, "Non-local text data not yet supported");
  if (source != EANT_LOCAL) return lower::Report(err, reporter, 3, "Invalid data source");
  lower::CalleeReport inner;
  if (!eant_UnicodeStrCreate(text, &data->string, &inner))
    return lower::ReportCallee(err, inner, reporter, 4, "eant_UnicodeStrCreate");
  data->source = EANT_LOCAL;
  if (parseFlag != 1) return;
  eant_TextDataSetupString(data, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 5, "eant_TextDataSetupString");
} TAVIRON_GUARD_VOID(err)

void eant_TextDataSet(Eant_TextData *data, int32_t source, const char16_t *text, Eerr_ErrorReport **err) try {
  eant_TextDataSetWithParseFlag(data, source, text, 1, err);
} TAVIRON_GUARD_VOID(err)

char16_t *eant_TextDataGet(const Eant_TextData *data, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextDataGet";
  lower::Clear(err);
  if (!data) {
    lower::Report(err, reporter, 1, "Invalid input textData");
    return nullptr;
  }
  if (!CheckLocal(data, reporter, 2, "Invalid data source", err)) return nullptr;
  if (!HasString(data)) {
    lower::Report(err, reporter, 4, "Local text string does not exist");
    return nullptr;
  }
  char16_t *copy = estr_UnicodeStrDup(data->string.data);
  if (!copy) lower::Report(err, reporter, 5, "Error duplicating local text string");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char16_t *eant_TextDataEvaluatedGet(const Eant_TextData *data, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextDataEvaluatedGet";
  lower::Clear(err);
  if (!data) {
    lower::Report(err, reporter, 1, "Invalid input textData");
    return nullptr;
  }
  if (!CheckLocal(data, reporter, 2, "Invalid data source", err)) return nullptr;
  if (!HasString(data)) {
    lower::Report(err, reporter, 4, "Local text string does not exist");
    return nullptr;
  }
  const Eant_DBIData *dbi = eant_DBIData();
  if (data->metaStringList && dbi && dbi->attributeStringCallback && dbi->columnNumberCallback) {
    lower::CalleeReport inner;
    char16_t *evaluated = eant_MetaStringDataBuildString(data->metaStringList, &inner);
    if (!evaluated) lower::ReportCallee(err, inner, reporter, 6, "eant_MetaStringDataBuildString");
    return evaluated;
  }
  char16_t *copy = estr_UnicodeStrDup(data->string.data);
  if (!copy) lower::Report(err, reporter, 5, "Error duplicating local text string");
  return copy;
} TAVIRON_GUARD(err, nullptr)

int32_t eant_TextDataCheckForSmartData(Eant_TextData *data, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextDataCheckForSmartData";
  lower::Clear(err);
  if (!data) {
    lower::Report(err, reporter, 1, "Invalid input textData");
    return 0;
  }
  if (data->source == EANT_DESCRIPTORDATA) return 0;
  if (data->source != EANT_LOCAL) {
    lower::Report(err, reporter, 2, "Invalid text data source");
    return 0;
  }
  lower::CalleeReport inner;
  if (!data->metaStringList) {
    eant_TextDataSetupString(data, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 3, "eant_TextDataSetupString");
      return 0;
    }
  }
  const int32_t found = eant_MetaStringDataCheckForSmartData(data->metaStringList, &inner);
  if (inner) lower::PassOn(err, inner);
  return found;
} TAVIRON_GUARD(err, 0)

Eant_TextData *eant_TextDataPrepareOutput(const Eant_TextData *data, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextDataPrepareOutput";
  lower::Clear(err);
  if (!data) {
    lower::Report(err, reporter, 1, "Invalid input textData");
    return nullptr;
  }
  // The source and the string only: the writer has no use for a parsed list (and a string set
  // without parsing need not parse).
  lower::CalleeReport inner;
  Eant_TextData *copy = eant_TextDataCreate(&inner);
  if (!copy || !eant_UnicodeStrCopy(&data->string, &copy->string, &inner)) {
    eant_TextDataFree(&copy);
    lower::ReportChained(err, inner, reporter, 2, "Unable to allocate new Eant_TextData");
    return nullptr;
  }
  copy->source = data->source;
  const char16_t *units = HasString(copy) ? copy->string.data : u"";
  const std::size_t length = static_cast<std::size_t>(estr_UnicodeStrLen(units));
  bool wide = false;
  for (std::size_t i = 0; i < length && !wide; ++i) wide = units[i] > 0xFF;
  const std::size_t bytes = wide ? 2 * length + 4 : length + 1;
  auto *stored = static_cast<unsigned char *>(emsc_HeapMalloc(bytes));
  if (!stored) {
    eant_TextDataFree(&copy);
    lower::Report(err, reporter, 2, "Unable to allocate new Eant_TextData");
    return nullptr;
  }
  if (wide) {
    // A 0 unit first, then the units little-endian, then the closing 0 unit (zeroed already).
    for (std::size_t i = 0; i < length; ++i) {
      stored[2 + 2 * i] = static_cast<unsigned char>(units[i] & 0xFF);
      stored[3 + 2 * i] = static_cast<unsigned char>(units[i] >> 8);
    }
  } else {
    for (std::size_t i = 0; i < length; ++i) stored[i] = static_cast<unsigned char>(units[i]);
  }
  emsc_HeapFree(copy->string.data);
  copy->string.data = reinterpret_cast<char16_t *>(stored);
  copy->string.count = static_cast<int32_t>(bytes);
  return copy;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
