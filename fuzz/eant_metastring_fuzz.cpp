// Parses arbitrary UTF-16 texts (the input's bytes taken two at a time, little-endian) as meta
// strings with database fields. A refusal comes with a report; a parsed list, written back with
// its delimiters and escapes, parses again to the same nodes (literals around an empty field taken
// as one), and evaluates without a database.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "eant.h"
#include "emsc.h"

namespace {

using Nodes = std::vector<std::pair<int32_t, std::u16string>>;

// The nodes, with literals that follow one another (around an empty field) joined.
Nodes NodesOf(const Eant_MetaStringData *list) {
  Nodes nodes;
  for (; list; list = list->next) {
    const std::u16string string = list->string ? list->string : u"";
    if (list->type == EANT_METASTRING_LITERAL && !nodes.empty() && nodes.back().first == EANT_METASTRING_LITERAL)
      nodes.back().second += string;
    else
      nodes.emplace_back(list->type, string);
  }
  return nodes;
}

void Free(Eant_MetaStringData *list) { eant_MetaStringDataFree(reinterpret_cast<Eant_MetaStringData *>(&list)); }

// The text of the nodes with every delimiter and backslash escaped.
std::u16string Written(const Nodes &nodes) {
  std::u16string text;
  for (const auto &[type, string] : nodes) {
    if (type == EANT_METASTRING_FIELD) text += static_cast<char16_t>(EANT_FIELD_OPEN);
    for (char16_t unit : string) {
      if (unit == u'\\' || unit == EANT_FIELD_OPEN || unit == EANT_FIELD_CLOSE) text += u'\\';
      text += unit;
    }
    if (type == EANT_METASTRING_FIELD) text += static_cast<char16_t>(EANT_FIELD_CLOSE);
  }
  return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 14)) return 0;
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  text = text.substr(0, text.find(u'\0')); // the parser reads up to the first 0 unit
  Eerr_ErrorReport *err = nullptr;
  Eant_MetaStringData *list = eant_MetaStringParse(text.c_str(), &err);
  if (err) {
    if (list) __builtin_trap(); // a failure returns no list
    eerr_DeleteErrorReportEx(&err);
    return 0;
  }
  const Nodes nodes = NodesOf(list);
  for (const auto &[type, string] : nodes)
    if (string.empty() || (type != EANT_METASTRING_LITERAL && type != EANT_METASTRING_FIELD)) __builtin_trap();
  Eant_MetaStringData *again = eant_MetaStringParse(Written(nodes).c_str(), &err);
  if (err || NodesOf(again) != nodes) __builtin_trap();
  Free(again);
  if (list) {
    char16_t *built = eant_MetaStringDataBuildString(list, &err);
    if (!built && !err) __builtin_trap();
    emsc_HeapFree(built);
    eerr_DeleteErrorReportEx(&err);
  }
  Free(list);
  return 0;
}
