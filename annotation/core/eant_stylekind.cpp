// The four kinds of style a style library holds (line styles, fill styles, text styles,
// colours): their records' create, copy and free, and what a library does with one of its lists
// (free, copy, and the stored arrays of each library version). Each kind is one C++ type below,
// registered in StyleKinds; what every kind shares is written once as templates over the kind.
//
// A list holds style pointers; a null entry is an empty slot, and a style's number is its index.
// The current stored forms of colours, line and text styles are the leading members of the
// records in memory (the kit's leading designs); the fill style's parts and every older form are
// structs of their own (eant_internal.h), converted field by field.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "eant_internal.h"
#include "efio.h"
#include "emsc.h"
#include "keywords.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

// ---- Style lists ---------------------------------------------------------------------------

Edlm_List *NewList(Eerr_ErrorReport **err) { return edlm_InitList(sizeof(void *), 1, err); }

int32_t Count(Edlm_List *list) { return list ? edlm_CountList(list, nullptr) : 0; }

template <class Record> Record *&At(Edlm_List *list, int32_t index) {
  return *static_cast<Record **>(edlm_GetAddr(list, index, nullptr));
}

// Appends a style (or an empty slot for null); false with the report in err.
bool Append(Edlm_List *list, void *style, Eerr_ErrorReport **err) { return edlm_Add(list, &style, err) >= 0; }

// Puts a style into the first empty slot of the list, else appends it.
bool Place(Edlm_List *list, void *style, Eerr_ErrorReport **err) {
  const int32_t count = Count(list);
  for (int32_t i = 0; i < count; ++i) {
    void *&slot = At<void>(list, i);
    if (!slot) {
      slot = style;
      return true;
    }
  }
  return Append(list, style, err);
}

// Moves a value out of a stored entry, leaving the entry's slot empty.
template <class T> T Take(T &from) { return std::exchange(from, T{}); }

void TakeHeader(auto &to, auto &from) {
  to.useCount = from.useCount;
  to.styleName = Take(from.styleName);
  to.description = Take(from.description);
  to.baseStyle = Take(from.baseStyle);
  to.mask = from.mask;
}

// ---- Records described by the kit -------------------------------------------------------------

// A deep copy of source's stored members into target (made when null) through a record-kit
// design; target's other members stay, its cache is dropped. On failure a target made here is
// freed and null returned; a given target is returned unchanged.
template <class Record>
Record *CopyByDesign(const record::Design &design, const Record *source, Record *target, const char *reporter,
                     const char *type, Record *(*create)(Eerr_ErrorReport **), const char *createName,
                     void (*dropCache)(Record &), Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input %s", type);
    return target;
  }
  if (source == target) return target;
  Record copy{};
  if (!record::Copy(design, source, &copy)) {
    lower::Report(err, reporter, 3, "Error copying %s", type);
    return target;
  }
  if (!target) {
    lower::CalleeReport inner;
    target = create(&inner);
    if (!target) {
      record::FreeContents(design, &copy);
      lower::ReportCallee(err, inner, reporter, 2, createName);
      return nullptr;
    }
  }
  record::FreeContents(design, target);
  dropCache(*target);
  std::memcpy(static_cast<void *>(target), &copy, static_cast<std::size_t>(design.size));
  return target;
}

template <class Record> Record *Create(const char *reporter, const char *what, Eerr_ErrorReport **err) {
  lower::Clear(err);
  auto *made = lower::HeapNew<Record>();
  if (!made) lower::Report(err, reporter, 1, "Error allocating %s", what);
  return made;
}

// ---- What every kind shares ------------------------------------------------------------------
//
// A kind supplies: Record; the exported Create, Copy and Free of its record; the names used in
// its reports; its stored forms with their converters (FromStored); and ToStored, which fills an
// entry of the current form sharing the style's parts.

template <class Kind> void FreeList(Edlm_List *list) {
  if (!list) return;
  const int32_t count = Count(list);
  for (int32_t i = 0; i < count; ++i) Kind::Free(&At<typename Kind::Record>(list, i));
  edlm_FreeList(list);
}

template <class Kind> Edlm_List *CopyList(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err) {
  const char *reporter = Kind::kListCopy;
  lower::Clear(err);
  FreeList<Kind>(target);
  if (!source) return nullptr;
  lower::CalleeReport inner;
  Edlm_List *list = NewList(&inner);
  if (!list) {
    lower::ReportCallee(err, inner, reporter, 1, "edlm_NewList");
    return nullptr;
  }
  const int32_t count = Count(source);
  for (int32_t i = 0; i < count; ++i) {
    const typename Kind::Record *style = At<typename Kind::Record>(source, i);
    typename Kind::Record *copy = nullptr;
    if (style && !(copy = Kind::Copy(style, nullptr, &inner))) {
      lower::ReportCallee(err, inner, reporter, 2, Kind::kCopy);
      FreeList<Kind>(list);
      return nullptr;
    }
    if (!Append(list, copy, &inner)) {
      Kind::Free(&copy);
      lower::ReportCallee(err, inner, reporter, 3, "edlm_Add");
      FreeList<Kind>(list);
      return nullptr;
    }
  }
  return list;
}

template <class Kind> void *ToArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) {
  const char *reporter = Kind::kToArray;
  lower::Clear(err);
  if (count) *count = 0;
  if (!list) {
    lower::Report(err, reporter, 1, "Invalid input %s list", Kind::kWords);
    return nullptr;
  }
  const int32_t n = Count(list);
  auto *array = Kind::NewArray(n);
  if (!array) {
    lower::Report(err, reporter, 2, "Error allocating %s data", Kind::kData);
    return nullptr;
  }
  for (int32_t i = 0; i < n; ++i) {
    if (const typename Kind::Record *style = At<typename Kind::Record>(list, i))
      Kind::ToStored(*style, array, i, n);
    else
      array[i].useCount = -1;
  }
  if (count) *count = n;
  return array;
}

// Converts the entries of a stored array of the form's design into styles of the list. With
// `slots`, an entry of useCount -1 is an empty slot and every entry is appended at its number;
// otherwise every entry becomes a style placed in the first empty slot or appended. Whatever
// happens, the entries own nothing afterwards (what a failure leaves is freed).
template <class Kind, class Stored>
void FromArray(const record::Design &form, bool slots, const char *reporter, void *array, int32_t count,
               Edlm_List *list, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!array && count > 0) {
    lower::Report(err, reporter, 1, "Invalid input %sArray", Kind::kArgument);
    return;
  }
  auto *entries = static_cast<Stored *>(array);
  int32_t i = 0;
  if (!list) {
    lower::Report(err, reporter, 2, "Invalid input %sList", Kind::kArgument);
  } else {
    lower::CalleeReport inner;
    for (; i < count; ++i) {
      Stored &entry = entries[i];
      if (slots && entry.useCount == -1) {
        record::FreeContents(form, &entry);
        if (!Append(list, nullptr, &inner)) {
          lower::ReportCallee(err, inner, reporter, 4, "edlm_Add");
          break;
        }
        continue;
      }
      typename Kind::Record *style = Kind::Create(&inner);
      if (!style || !Kind::FromStored(entry, *style)) {
        lower::ReportCallee(err, inner, reporter, 3, Kind::kCreate);
        Kind::Free(&style);
        break;
      }
      if (!(slots ? Append(list, style, &inner) : Place(list, style, &inner))) {
        lower::ReportCallee(err, inner, reporter, 4, "edlm_Add");
        Kind::Free(&style);
        break;
      }
    }
  }
  for (; i < count; ++i) record::FreeContents(form, &entries[i]);
}

// ---- Colours ---------------------------------------------------------------------------------

void DropColorCache(Eant_Color &color) { eevg_ColorFree(&color.evaluatedStyle); }

struct Colors {
  static constexpr int32_t kCode = kColors;
  static constexpr Edlm_List *Eant_StyleLibrary::*kList = &Eant_StyleLibrary::colors;
  using Record = Eant_Color;
  static constexpr const char *kCreate = "eant_ColorCreate", *kCopy = "eant_ColorCopy",
                              *kListCopy = "eant_ColorListCopy", *kToArray = "eant_ColorListToPrivateArray";
  static constexpr const char *kWords = "color", *kData = "color", *kArgument = "color";
  static Eant_Color *Create(Eerr_ErrorReport **err) { return eant_ColorCreate(err); }
  static Eant_Color *Copy(const Eant_Color *s, Eant_Color *t, Eerr_ErrorReport **err) { return eant_ColorCopy(s, t, err); }
  static void Free(Eant_Color **style) { eant_ColorFree(style); }
  static Color2 *NewArray(int32_t n) { return lower::HeapNewArray<Color2>(n); }
  // The current form is the record's leading members: an entry is a record whose cache is unused.
  static void ToStored(const Eant_Color &style, Color2 *array, int32_t i, int32_t) {
    std::memcpy(static_cast<void *>(&array[i]), &style, static_cast<std::size_t>(kColor2.size));
    array[i].flags = 0;
  }
  static bool FromStored(Color2 &entry, Eant_Color &style) {
    std::memcpy(static_cast<void *>(&style), &entry, static_cast<std::size_t>(kColor2.size));
    std::memset(static_cast<void *>(&entry), 0, static_cast<std::size_t>(kColor2.size));
    style.flags = 0;
    return true;
  }
  static bool FromStored(Color0 &entry, Eant_Color &style) {
    TakeHeader(style, entry);
    style.red = entry.red;
    style.green = entry.green;
    style.blue = entry.blue;
    return true;
  }
  static Edlm_List *CopyList(Edlm_List *s, Edlm_List *t, Eerr_ErrorReport **err) { return eant_ColorListCopy(s, t, err); }
  static void *ToArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) {
    return eant_ColorListToPrivateArray(list, count, err);
  }
  static constexpr const record::Design *kForms[] = {&kColor0, &kColor0, &kColor2, &kColor2, &kColor2};
  static constexpr void (*kFromArray[])(void *, int32_t, Edlm_List *, Eerr_ErrorReport **) = {
      eant_ColorPrivate0ArrayToList, eant_ColorPrivate0ArrayToList, eant_ColorPrivate2ArrayToList,
      eant_ColorPrivate2ArrayToList, eant_ColorPrivate2ArrayToList};
  static constexpr const char *kFromArrayNames[] = {
      "eant_ColorPrivate0ArrayToList", "eant_ColorPrivate0ArrayToList", "eant_ColorPrivate2ArrayToList",
      "eant_ColorPrivate2ArrayToList", "eant_ColorPrivate2ArrayToList"};
  static constexpr const char *kListName = "colors";
  static constexpr const char *kCreateDefault = "eant_ColorCreateDefault";
  static void CreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err) {
    eant_ColorCreateDefault(library, nullptr, err);
  }
};

// ---- Line styles -----------------------------------------------------------------------------

void DropLineCache(Eant_LineStyle &style) { eevg_LineStyleFree(&style.evaluatedStyle); }
bool ValidComposition(const Eant_LineComposition &c) { return c.count >= 0 && (c.count == 0 || c.data); }

template <class Stored> void TakeLineParts(Stored &entry, Eant_LineStyle &style) {
  TakeHeader(style, entry);
  style.styleUnits = Take(entry.styleUnits);
  style.overLines = Take(entry.overLines);
  style.linePattern = Take(entry.linePattern);
}
template <class Stored> void TakeLineEnds(Stored &entry, Eant_LineStyle &style) {
  style.lineJoin = entry.lineJoin;
  style.markEnd = entry.markEnd;
  style.startLineEnd = entry.startLineEnd;
  style.endLineEnd = entry.endLineEnd;
  style.arrowEnd = Take(entry.arrowEnd);
}

struct LineStyles {
  static constexpr int32_t kCode = kLineStyles;
  static constexpr Edlm_List *Eant_StyleLibrary::*kList = &Eant_StyleLibrary::lineStyles;
  using Record = Eant_LineStyle;
  static constexpr const char *kCreate = "eant_LineStyleCreate", *kCopy = "eant_LineStyleCopy",
                              *kListCopy = "eant_LineStyleListCopy", *kToArray = "eant_LineStyleListToPrivateArray";
  static constexpr const char *kWords = "line style", *kData = "lineStyle", *kArgument = "lineStyle";
  static Eant_LineStyle *Create(Eerr_ErrorReport **err) { return eant_LineStyleCreate(err); }
  static Eant_LineStyle *Copy(const Eant_LineStyle *s, Eant_LineStyle *t, Eerr_ErrorReport **err) {
    return eant_LineStyleCopy(s, t, err);
  }
  static void Free(Eant_LineStyle **style) { eant_LineStyleFree(style); }
  static LineStyle4 *NewArray(int32_t n) { return lower::HeapNewArray<LineStyle4>(n); }
  static void ToStored(const Eant_LineStyle &style, LineStyle4 *array, int32_t i, int32_t) {
    std::memcpy(static_cast<void *>(&array[i]), &style, static_cast<std::size_t>(kLineStyle4.size));
    array[i].flags = 0;
  }
  static bool FromStored(LineStyle4 &entry, Eant_LineStyle &style) {
    std::memcpy(static_cast<void *>(&style), &entry, static_cast<std::size_t>(kLineStyle4.size));
    std::memset(static_cast<void *>(&entry), 0, static_cast<std::size_t>(kLineStyle4.size));
    style.flags = 0;
    return true;
  }
  static bool FromStored(LineStyle0 &entry, Eant_LineStyle &style) {
    TakeLineParts(entry, style);
    return true;
  }
  static bool FromStored(LineStyle1 &entry, Eant_LineStyle &style) {
    TakeLineParts(entry, style);
    TakeLineEnds(entry, style);
    return true;
  }
  static bool FromStored(LineStyle2 &entry, Eant_LineStyle &style) {
    TakeLineParts(entry, style);
    TakeLineEnds(entry, style);
    return true;
  }
  static Edlm_List *CopyList(Edlm_List *s, Edlm_List *t, Eerr_ErrorReport **err) {
    return eant_LineStyleListCopy(s, t, err);
  }
  static void *ToArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) {
    return eant_LineStyleListToPrivateArray(list, count, err);
  }
  static constexpr const record::Design *kForms[] = {&kLineStyle0, &kLineStyle1, &kLineStyle2, &kLineStyle2,
                                                     &kLineStyle4};
  static constexpr void (*kFromArray[])(void *, int32_t, Edlm_List *, Eerr_ErrorReport **) = {
      eant_LineStylePrivate0ArrayToList, eant_LineStylePrivate1ArrayToList, eant_LineStylePrivate2ArrayToList,
      eant_LineStylePrivate2ArrayToList, eant_LineStylePrivate4ArrayToList};
  static constexpr const char *kFromArrayNames[] = {
      "eant_LineStylePrivate0ArrayToList", "eant_LineStylePrivate1ArrayToList", "eant_LineStylePrivate2ArrayToList",
      "eant_LineStylePrivate2ArrayToList", "eant_LineStylePrivate4ArrayToList"};
  static constexpr const char *kListName = "lineStyles";
  static constexpr const char *kCreateDefault = "eant_LineStyleCreateDefault";
  static void CreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err) {
    eant_LineStyleCreateDefault(library, err);
  }
};

// ---- Text styles -----------------------------------------------------------------------------

void DropTextCache(Eant_TextStyle &style) { eevg_TextStyleFree(&style.renderStyle); }

struct TextStyles {
  static constexpr int32_t kCode = kTextStyles;
  static constexpr Edlm_List *Eant_StyleLibrary::*kList = &Eant_StyleLibrary::textStyles;
  using Record = Eant_TextStyle;
  static constexpr const char *kCreate = "eant_TextStyleCreate", *kCopy = "eant_TextStyleCopy",
                              *kListCopy = "eant_TextStyleListCopy", *kToArray = "eant_TextStyleListToPrivateArray";
  static constexpr const char *kWords = "text style", *kData = "textStyle", *kArgument = "textStyle";
  static Eant_TextStyle *Create(Eerr_ErrorReport **err) { return eant_TextStyleCreate(err); }
  static Eant_TextStyle *Copy(const Eant_TextStyle *s, Eant_TextStyle *t, Eerr_ErrorReport **err) {
    return eant_TextStyleCopy(s, t, err);
  }
  static void Free(Eant_TextStyle **style) { eant_TextStyleFree(style); }
  static TextStyle2 *NewArray(int32_t n) { return lower::HeapNewArray<TextStyle2>(n); }
  static void ToStored(const Eant_TextStyle &style, TextStyle2 *array, int32_t i, int32_t) {
    std::memcpy(static_cast<void *>(&array[i]), &style, static_cast<std::size_t>(kTextStyle2.size));
    array[i].flags = 0;
  }
  static bool FromStored(TextStyle2 &entry, Eant_TextStyle &style) {
    std::memcpy(static_cast<void *>(&style), &entry, static_cast<std::size_t>(kTextStyle2.size));
    std::memset(static_cast<void *>(&entry), 0, static_cast<std::size_t>(kTextStyle2.size));
    style.flags = 0;
    return true;
  }
  static bool FromStored(TextStyle0 &entry, Eant_TextStyle &style) {
    TakeHeader(style, entry);
    style.styleUnits = Take(entry.styleUnits);
    style.fontName = Take(entry.fontName);
    style.textSlant = entry.textSlant;
    style.textChSpace = entry.textChSpace;
    style.textLnSpace = entry.textLnSpace;
    style.textChExt = entry.textChExt;
    style.fillStyle = entry.fillStyle;
    style.underline = entry.underline;
    style.underlineStyle = entry.underlineStyle;
    style.shadow = entry.shadow;
    style.textShadow = entry.textShadow;
    style.underlineDist = entry.underlineDist;
    return true;
  }
  static Edlm_List *CopyList(Edlm_List *s, Edlm_List *t, Eerr_ErrorReport **err) {
    return eant_TextStyleListCopy(s, t, err);
  }
  static void *ToArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) {
    return eant_TextStyleListToPrivateArray(list, count, err);
  }
  static constexpr const record::Design *kForms[] = {&kTextStyle0, &kTextStyle0, &kTextStyle2, &kTextStyle2,
                                                     &kTextStyle2};
  static constexpr void (*kFromArray[])(void *, int32_t, Edlm_List *, Eerr_ErrorReport **) = {
      eant_TextStylePrivate0ArrayToList, eant_TextStylePrivate0ArrayToList, eant_TextStylePrivate2ArrayToList,
      eant_TextStylePrivate2ArrayToList, eant_TextStylePrivate2ArrayToList};
  static constexpr const char *kFromArrayNames[] = {
      "eant_TextStylePrivate0ArrayToList", "eant_TextStylePrivate0ArrayToList", "eant_TextStylePrivate2ArrayToList",
      "eant_TextStylePrivate2ArrayToList", "eant_TextStylePrivate2ArrayToList"};
  static constexpr const char *kListName = "textStyles";
  static constexpr const char *kCreateDefault = "eant_TextStyleCreateDefault";
  static void CreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err) {
    eant_TextStyleCreateDefault(library, err);
  }
};

// ---- Fill styles -----------------------------------------------------------------------------
// In memory a pattern fill carries a pixel stack the stored form does not, so the fill style's
// parts are copied and converted member by member.

// A stored array of fill styles: one block holding the entries, then a fill pattern and a pattern
// fill per entry for the entries to point to (so the caller frees the array alone).
struct FillArray {
  FillStyle2 *entries;
  FillPattern2 *patterns;
  PatternFill *fills;
};
FillArray NewFillArray(int32_t count) {
  constexpr std::size_t each = sizeof(FillStyle2) + sizeof(FillPattern2) + sizeof(PatternFill);
  static_assert(sizeof(FillStyle2) % alignof(FillPattern2) == 0 && sizeof(FillPattern2) % alignof(PatternFill) == 0);
  if (count < 0 || static_cast<std::size_t>(count) > lower::kMaxBlockBytes / each) return {};
  auto *block = static_cast<uint8_t *>(emsc_HeapMalloc(count ? static_cast<std::size_t>(count) * each : 1));
  if (!block) return {};
  auto *entries = reinterpret_cast<FillStyle2 *>(block);
  auto *patterns = reinterpret_cast<FillPattern2 *>(block + static_cast<std::size_t>(count) * sizeof(FillStyle2));
  auto *fills = reinterpret_cast<PatternFill *>(reinterpret_cast<uint8_t *>(patterns) +
                                                static_cast<std::size_t>(count) * sizeof(FillPattern2));
  return {entries, patterns, fills};
}

void DropFillCache(Eant_FillStyle &style) { eevg_FillStyleFree(&style.evaluatedStyle); }

struct FillStyles {
  static constexpr int32_t kCode = kFillStyles;
  static constexpr Edlm_List *Eant_StyleLibrary::*kList = &Eant_StyleLibrary::fillStyles;
  using Record = Eant_FillStyle;
  static constexpr const char *kCreate = "eant_FillStyleCreate", *kCopy = "eant_FillStyleCopy",
                              *kListCopy = "eant_FillStyleListCopy", *kToArray = "eant_FillStyleListToPrivateArray";
  static constexpr const char *kWords = "fill style", *kData = "fillStyle", *kArgument = "fillStyle";
  static Eant_FillStyle *Create(Eerr_ErrorReport **err) { return eant_FillStyleCreate(err); }
  static Eant_FillStyle *Copy(const Eant_FillStyle *s, Eant_FillStyle *t, Eerr_ErrorReport **err) {
    return eant_FillStyleCopy(s, t, err);
  }
  static void Free(Eant_FillStyle **style) { eant_FillStyleFree(style); }
  // The array's entries, with room for their patterns behind them in the same block.
  static FillStyle2 *NewArray(int32_t n) { return NewFillArray(n).entries; }
  static void ToStored(const Eant_FillStyle &style, FillStyle2 *array, int32_t i, int32_t count) {
    // The patterns of entry i stand at place i of the block's second and third parts.
    auto *patterns = reinterpret_cast<FillPattern2 *>(array + count);
    auto *fills = reinterpret_cast<PatternFill *>(patterns + count);
    FillStyle2 &entry = array[i];
    entry.useCount = style.useCount;
    entry.styleName = style.styleName;
    entry.description = style.description;
    entry.baseStyle = style.baseStyle;
    entry.mask = style.mask;
    entry.fill = style.fill;
    entry.trace = style.trace;
    entry.traceStyle = style.traceStyle;
    if (const Eant_FillPattern *pattern = style.pattern) {
      entry.pattern = &patterns[i];
      *entry.pattern = {pattern->solidFill, pattern->color, pattern->patternFill, nullptr};
      if (const Eant_PatternFill *fill = pattern->pattern) {
        entry.pattern->pattern = &fills[i];
        fills[i] = {fill->scaleUnits,      fill->positionUnits, fill->scale, fill->xsep, fill->ysep, fill->symbol,
                    fill->colorOverrideFlag, fill->overrideColor, 0};
      }
    }
  }
  static bool FromStored(FillStyle2 &entry, Eant_FillStyle &style) {
    if (FillPattern2 *stored = entry.pattern) {
      Eant_FillPattern *pattern = lower::HeapNew<Eant_FillPattern>();
      if (!pattern) return false;
      if (PatternFill *storedFill = stored->pattern) {
        Eant_PatternFill *fill = lower::HeapNew<Eant_PatternFill>();
        if (!fill) {
          emsc_HeapFree(pattern);
          return false;
        }
        fill->scaleUnits = Take(storedFill->scaleUnits);
        fill->positionUnits = Take(storedFill->positionUnits);
        fill->scale = storedFill->scale;
        fill->xsep = storedFill->xsep;
        fill->ysep = storedFill->ysep;
        fill->symbol = Take(storedFill->symbol);
        fill->colorOverrideFlag = storedFill->colorOverrideFlag;
        fill->overrideColor = storedFill->overrideColor;
        pattern->pattern = fill;
        emsc_HeapFree(Take(stored->pattern));
      }
      pattern->solidFill = stored->solidFill;
      pattern->color = stored->color;
      pattern->patternFill = stored->patternFill;
      style.pattern = pattern;
      emsc_HeapFree(Take(entry.pattern));
    }
    TakeHeader(style, entry);
    style.fill = entry.fill;
    style.trace = entry.trace;
    style.traceStyle = entry.traceStyle;
    return true;
  }
  // The oldest form knows only the solid colour of a pattern.
  static bool FromStored(FillStyle0 &entry, Eant_FillStyle &style) {
    if (entry.pattern) {
      Eant_FillPattern *pattern = eant_FillPatternCreate(nullptr);
      if (!pattern) return false;
      pattern->color = entry.pattern->color;
      style.pattern = pattern;
      emsc_HeapFree(Take(entry.pattern));
    }
    TakeHeader(style, entry);
    style.fill = entry.fill;
    style.trace = entry.trace;
    style.traceStyle = entry.traceStyle;
    return true;
  }
  static Edlm_List *CopyList(Edlm_List *s, Edlm_List *t, Eerr_ErrorReport **err) {
    return eant_FillStyleListCopy(s, t, err);
  }
  static void *ToArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) {
    return eant_FillStyleListToPrivateArray(list, count, err);
  }
  static constexpr const record::Design *kForms[] = {&kFillStyle0, &kFillStyle0, &kFillStyle2, &kFillStyle2,
                                                     &kFillStyle2};
  static constexpr void (*kFromArray[])(void *, int32_t, Edlm_List *, Eerr_ErrorReport **) = {
      eant_FillStylePrivate0ArrayToList, eant_FillStylePrivate0ArrayToList, eant_FillStylePrivate2ArrayToList,
      eant_FillStylePrivate2ArrayToList, eant_FillStylePrivate2ArrayToList};
  static constexpr const char *kFromArrayNames[] = {
      "eant_FillStylePrivate0ArrayToList", "eant_FillStylePrivate0ArrayToList", "eant_FillStylePrivate2ArrayToList",
      "eant_FillStylePrivate2ArrayToList", "eant_FillStylePrivate2ArrayToList"};
  static constexpr const char *kListName = "fillStyles";
  static constexpr const char *kCreateDefault = "eant_FillStyleCreateDefault";
  static void CreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err) {
    eant_FillStyleCreateDefault(library, err);
  }
};

} // namespace

// ---- The registry of the kinds ------------------------------------------------------------------

template <> struct taviron::lower::TableFiller<StyleKindFunctions> {
  template <class Kind> static constexpr StyleKindFunctions Make() {
    StyleKindFunctions t{};
    t.list = Kind::kList;
    t.freeList = &::FreeList<Kind>;
    TAVIRON_SLOT(t, Kind, copyList, CopyList);
    TAVIRON_SLOT(t, Kind, toArray, ToArray);
    for (int32_t version = 0; version <= EANT_ANNOTATION_VERSION; ++version) {
      t.fromArray[version] = Kind::kFromArray[version];
      t.form[version] = Kind::kForms[version];
      t.fromArrayName[version] = Kind::kFromArrayNames[version];
    }
    t.toArrayName = Kind::kToArray;
    t.listName = Kind::kListName;
    t.createDefault = &Kind::CreateDefault;
    t.createDefaultName = Kind::kCreateDefault;
    return t;
  }
};

namespace taviron::eant {

// The kinds, in the order of their codes (the order the library stores its lists).
using StyleKinds = lower::KindTables<StyleKindFunctions, LineStyles, FillStyles, TextStyles, Colors>;

const StyleKindFunctions &StyleKind(int32_t code) { return *StyleKinds::Find(code); }

} // namespace taviron::eant

extern "C" {

// ---- Colours ---------------------------------------------------------------------------------

Eant_Color *eant_ColorCreate(Eerr_ErrorReport **err) try {
  Eant_Color *color = Create<Eant_Color>("eant_ColorCreate", "Color", err);
  if (color) color->opacity = 1.0;
  return color;
} TAVIRON_GUARD(err, nullptr)

Eant_Color *eant_ColorCopy(const Eant_Color *source, Eant_Color *target, Eerr_ErrorReport **err) try {
  return CopyByDesign(kColor2Memory, source, target, "eant_ColorCopy", "Eant_Color", eant_ColorCreate, "eant_ColorCreate",
                      DropColorCache, err);
} TAVIRON_GUARD(err, nullptr)

void eant_ColorFree(Eant_Color **color) try {
  if (!color || !*color) return;
  record::FreeContents(kColor2Memory, *color);
  DropColorCache(**color);
  emsc_HeapFreeEx(color);
} TAVIRON_GUARD_QUIET_VOID

Edlm_List *eant_ColorListCopy(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err) try {
  return CopyList<Colors>(source, target, err);
} TAVIRON_GUARD(err, nullptr)

void *eant_ColorListToPrivateArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) try {
  return ToArray<Colors>(list, count, err);
} TAVIRON_GUARD(err, nullptr)

void eant_ColorPrivate0ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<Colors, Color0>(kColor0, false, "eant_ColorPrivate0ArrayToList", array, count, list, err);
} TAVIRON_GUARD_VOID(err)

void eant_ColorPrivate2ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<Colors, Color2>(kColor2, true, "eant_ColorPrivate2ArrayToList", array, count, list, err);
} TAVIRON_GUARD_VOID(err)

// ---- Line styles -----------------------------------------------------------------------------

Eant_LineSymbol *eant_LineSymbolCreate(Eerr_ErrorReport **err) try {
  Eant_LineSymbol *symbol = Create<Eant_LineSymbol>("eant_LineSymbolCreate", "LineSymbol", err);
  if (symbol) symbol->overrideColor = -1;
  return symbol;
} TAVIRON_GUARD(err, nullptr)

Eant_LineSymbol *eant_LineSymbolCopy(const Eant_LineSymbol *source, Eant_LineSymbol *target,
                                     Eerr_ErrorReport **err) try {
  return CopyByDesign<Eant_LineSymbol>(kLineSymbol, source, target, "eant_LineSymbolCopy", "Eant_LineSymbol",
                                       eant_LineSymbolCreate, "eant_LineSymbolCreate", [](Eant_LineSymbol &) {}, err);
} TAVIRON_GUARD(err, nullptr)

void eant_LineSymbolFree(Eant_LineSymbol **symbol) try {
  if (!symbol || !*symbol) return;
  record::FreeContents(kLineSymbol, *symbol);
  emsc_HeapFreeEx(symbol);
} TAVIRON_GUARD_QUIET_VOID

Eant_LineStyle *eant_LineStyleCreate(Eerr_ErrorReport **err) try {
  Eant_LineStyle *style = Create<Eant_LineStyle>("eant_LineStyleCreate", "LineStyle", err);
  if (style) style->displayLine = EMSC_TRUE;
  return style;
} TAVIRON_GUARD(err, nullptr)

// The overlaid lines are copied without shrinking: a destination with more lines than the source
// keeps its extra lines after the source's.
Eant_LineStyle *eant_LineStyleCopy(const Eant_LineStyle *source, Eant_LineStyle *target, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eant_LineComposition lines{};
  if (source && target && source != target && ValidComposition(source->overLines) &&
      ValidComposition(target->overLines) && target->overLines.count > source->overLines.count) {
    if (!eant_LineCompositionCopy(&target->overLines, &lines, 1, nullptr) ||
        !eant_LineCompositionCopy(&source->overLines, &lines, 0, nullptr)) {
      eant_LineCompositionFree(&lines);
      lower::Report(err, "eant_LineStyleCopy", 3, "Error copying Eant_LineStyle");
      return target;
    }
  }
  lower::CalleeReport inner;
  Eant_LineStyle *copy = CopyByDesign(kLineStyle4Memory, source, target, "eant_LineStyleCopy", "Eant_LineStyle",
                                      eant_LineStyleCreate, "eant_LineStyleCreate", DropLineCache, &inner);
  if (copy && !inner && lines.data) std::swap(copy->overLines, lines);
  eant_LineCompositionFree(&lines);
  lower::PassOn(err, inner);
  return copy;
} TAVIRON_GUARD(err, nullptr)

void eant_LineStyleFree(Eant_LineStyle **style) try {
  if (!style || !*style) return;
  record::FreeContents(kLineStyle4Memory, *style);
  DropLineCache(**style);
  emsc_HeapFreeEx(style);
} TAVIRON_GUARD_QUIET_VOID

Edlm_List *eant_LineStyleListCopy(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err) try {
  return CopyList<LineStyles>(source, target, err);
} TAVIRON_GUARD(err, nullptr)

void *eant_LineStyleListToPrivateArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) try {
  return ToArray<LineStyles>(list, count, err);
} TAVIRON_GUARD(err, nullptr)

void eant_LineStylePrivate0ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<LineStyles, LineStyle0>(kLineStyle0, false, "eant_LineStylePrivate0ArrayToList", array, count, list, err);
} TAVIRON_GUARD_VOID(err)

void eant_LineStylePrivate1ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<LineStyles, LineStyle1>(kLineStyle1, false, "eant_LineStylePrivate1ArrayToList", array, count, list, err);
} TAVIRON_GUARD_VOID(err)

void eant_LineStylePrivate2ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<LineStyles, LineStyle2>(kLineStyle2, false, "eant_LineStylePrivate2ArrayToList", array, count, list, err);
} TAVIRON_GUARD_VOID(err)

void eant_LineStylePrivate4ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<LineStyles, LineStyle4>(kLineStyle4, true, "eant_LineStylePrivate4ArrayToList", array, count, list,
                                        err);
} TAVIRON_GUARD_VOID(err)

// ---- Text styles -----------------------------------------------------------------------------

Eant_TextStyle *eant_TextStyleCreate(Eerr_ErrorReport **err) try {
  Eant_TextStyle *style = Create<Eant_TextStyle>("eant_TextStyleCreate", "TextStyle", err);
  if (style) {
    style->textChSpace = 1.0;
    style->textChExt = 1.0;
    style->fillStyle = -1;
    style->underlineStyle = -1;
    style->textShadow.style = -1;
  }
  return style;
} TAVIRON_GUARD(err, nullptr)

Eant_TextStyle *eant_TextStyleCopy(const Eant_TextStyle *source, Eant_TextStyle *target, Eerr_ErrorReport **err) try {
  // Every member but flags: the target keeps its own.
  const uint32_t flags = target ? target->flags : 0;
  Eant_TextStyle *copy = CopyByDesign(kTextStyle2Memory, source, target, "eant_TextStyleCopy", "Eant_TextStyle",
                                      eant_TextStyleCreate, "eant_TextStyleCreate", DropTextCache, err);
  if (copy && copy != source) copy->flags = flags;
  return copy;
} TAVIRON_GUARD(err, nullptr)

void eant_TextStyleFree(Eant_TextStyle **style) try {
  if (!style || !*style) return;
  record::FreeContents(kTextStyle2Memory, *style);
  DropTextCache(**style);
  emsc_HeapFreeEx(style);
} TAVIRON_GUARD_QUIET_VOID

Edlm_List *eant_TextStyleListCopy(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err) try {
  return CopyList<TextStyles>(source, target, err);
} TAVIRON_GUARD(err, nullptr)

void *eant_TextStyleListToPrivateArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) try {
  return ToArray<TextStyles>(list, count, err);
} TAVIRON_GUARD(err, nullptr)

void eant_TextStylePrivate0ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<TextStyles, TextStyle0>(kTextStyle0, false, "eant_TextStylePrivate0ArrayToList", array, count, list, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextStylePrivate2ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<TextStyles, TextStyle2>(kTextStyle2, true, "eant_TextStylePrivate2ArrayToList", array, count, list,
                                        err);
} TAVIRON_GUARD_VOID(err)

// ---- Fill styles -----------------------------------------------------------------------------

Eant_PatternFill *eant_PatternFillCreate(Eerr_ErrorReport **err) try {
  Eant_PatternFill *fill = Create<Eant_PatternFill>("eant_PatternFillCreate", "PatternFill", err);
  if (fill) fill->overrideColor = -1;
  return fill;
} TAVIRON_GUARD(err, nullptr)

Eant_PatternFill *eant_PatternFillCopy(const Eant_PatternFill *source, Eant_PatternFill *target,
                                       Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_PatternFillCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_PatternFill");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  // The parts are copied first, so that a failure leaves the target as it was.
  Eant_PatternFill parts{};
  const bool copied =
      (!source->scaleUnits || (parts.scaleUnits = eant_CoordDefinitionCopy(source->scaleUnits, nullptr, &inner))) &&
      (!source->positionUnits ||
       (parts.positionUnits = eant_CoordDefinitionCopy(source->positionUnits, nullptr, &inner))) &&
      (!source->symbol || (parts.symbol = eant_StyleCopy(source->symbol, nullptr, &inner)));
  Eant_PatternFill *made = nullptr;
  if (copied && !target) target = made = eant_PatternFillCreate(&inner);
  if (!copied || !target) {
    eant_CoordDefinitionFree(&parts.scaleUnits);
    eant_CoordDefinitionFree(&parts.positionUnits);
    eant_StyleFree(&parts.symbol);
    lower::ReportChained(err, inner, reporter, 2, "Error copying Eant_PatternFill");
    return target; // null when the call was to make it
  }
  eant_CoordDefinitionFree(&target->scaleUnits);
  eant_CoordDefinitionFree(&target->positionUnits);
  eant_StyleFree(&target->symbol);
  egda_BaseDataStackDelete(target->pixelRectStack, nullptr);
  *target = parts;
  target->scale = source->scale;
  target->xsep = source->xsep;
  target->ysep = source->ysep;
  target->colorOverrideFlag = source->colorOverrideFlag;
  target->overrideColor = source->overrideColor;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_PatternFillFree(Eant_PatternFill **fill) try {
  if (!fill || !*fill) return;
  eant_CoordDefinitionFree(&(*fill)->scaleUnits);
  eant_CoordDefinitionFree(&(*fill)->positionUnits);
  eant_StyleFree(&(*fill)->symbol);
  egda_BaseDataStackDelete((*fill)->pixelRectStack, nullptr);
  emsc_HeapFreeEx(fill);
} TAVIRON_GUARD_QUIET_VOID

Eant_FillPattern *eant_FillPatternCreate(Eerr_ErrorReport **err) try {
  Eant_FillPattern *pattern = Create<Eant_FillPattern>("eant_FillPatternCreate", "FillPattern", err);
  if (pattern) {
    pattern->solidFill = EMSC_TRUE;
    pattern->color = -1;
  }
  return pattern;
} TAVIRON_GUARD(err, nullptr)

Eant_FillPattern *eant_FillPatternCopy(const Eant_FillPattern *source, Eant_FillPattern *target,
                                       Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_FillPatternCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_FillPattern");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  Eant_PatternFill *fill = nullptr;
  if (source->pattern && !(fill = eant_PatternFillCopy(source->pattern, nullptr, &inner))) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_PatternFillCopy");
    return target;
  }
  Eant_FillPattern *made = nullptr;
  if (!target && !(target = made = eant_FillPatternCreate(&inner))) {
    eant_PatternFillFree(&fill);
    lower::ReportCallee(err, inner, reporter, 2, "eant_FillPatternCreate");
    return nullptr;
  }
  eant_PatternFillFree(&target->pattern);
  target->solidFill = source->solidFill;
  target->color = source->color;
  target->patternFill = source->patternFill;
  target->pattern = fill;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_FillPatternFree(Eant_FillPattern **pattern) try {
  if (!pattern || !*pattern) return;
  eant_PatternFillFree(&(*pattern)->pattern);
  emsc_HeapFreeEx(pattern);
} TAVIRON_GUARD_QUIET_VOID

Eant_FillStyle *eant_FillStyleCreate(Eerr_ErrorReport **err) try {
  Eant_FillStyle *style = Create<Eant_FillStyle>("eant_FillStyleCreate", "FillStyle", err);
  if (style) style->traceStyle = -1;
  return style;
} TAVIRON_GUARD(err, nullptr)

Eant_FillStyle *eant_FillStyleCopy(const Eant_FillStyle *source, Eant_FillStyle *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_FillStyleCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_FillStyle");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  // The parts are copied first, so that a failure leaves the target as it was.
  Eant_FillStyle parts{};
  const bool copied = eant_CharStrCopy(&source->styleName, &parts.styleName, &inner) &&
                      eant_CharStrCopy(&source->description, &parts.description, &inner) &&
                      (!source->baseStyle || (parts.baseStyle = eant_StyleCopy(source->baseStyle, nullptr, &inner))) &&
                      (!source->pattern || (parts.pattern = eant_FillPatternCopy(source->pattern, nullptr, &inner)));
  Eant_FillStyle *made = nullptr;
  if (copied && !target) target = made = eant_FillStyleCreate(&inner);
  if (!copied || !target) {
    eant_CharStrFree(&parts.styleName);
    eant_CharStrFree(&parts.description);
    eant_StyleFree(&parts.baseStyle);
    eant_FillPatternFree(&parts.pattern);
    lower::ReportChained(err, inner, reporter, 2, "Error copying Eant_FillStyle");
    return target; // null when the call was to make it
  }
  eant_CharStrFree(&target->styleName);
  eant_CharStrFree(&target->description);
  eant_StyleFree(&target->baseStyle);
  eant_FillPatternFree(&target->pattern);
  DropFillCache(*target);
  parts.useCount = source->useCount;
  parts.mask = source->mask;
  parts.flags = source->flags;
  parts.fill = source->fill;
  parts.trace = source->trace;
  parts.traceStyle = source->traceStyle;
  *target = parts;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_FillStyleFree(Eant_FillStyle **style) try {
  if (!style || !*style) return;
  Eant_FillStyle *s = *style;
  eant_CharStrFree(&s->styleName);
  eant_CharStrFree(&s->description);
  eant_StyleFree(&s->baseStyle);
  eant_FillPatternFree(&s->pattern);
  DropFillCache(*s);
  emsc_HeapFreeEx(style);
} TAVIRON_GUARD_QUIET_VOID

Edlm_List *eant_FillStyleListCopy(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err) try {
  return CopyList<FillStyles>(source, target, err);
} TAVIRON_GUARD(err, nullptr)

void *eant_FillStyleListToPrivateArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err) try {
  return ToArray<FillStyles>(list, count, err);
} TAVIRON_GUARD(err, nullptr)

void eant_FillStylePrivate0ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<FillStyles, FillStyle0>(kFillStyle0, false, "eant_FillStylePrivate0ArrayToList", array, count, list, err);
} TAVIRON_GUARD_VOID(err)

void eant_FillStylePrivate2ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err) try {
  FromArray<FillStyles, FillStyle2>(kFillStyle2, true, "eant_FillStylePrivate2ArrayToList", array, count, list, err);
} TAVIRON_GUARD_VOID(err)

// ---- Designs ---------------------------------------------------------------------------------

Emif_Design *eant_ColorDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_ColorDesignDefine", {{&kColor0, true}, {&kColor2, true}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_LineDescriptionDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_LineDescriptionDesignDefine", {{&kLineDescription}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_LineSymbolDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_LineSymbolDesignDefine", {{&kLineSymbol}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_PatternFillDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_PatternFillDesignDefine", {{&kPatternFill, true}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_FillPatternDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_FillPatternDesignDefine", {{&kFillPattern2, true}, {&kFillPattern0, true}},
                       err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_LineStyleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_LineStyleDesignDefine",
                       {{&kLineStyle0}, {&kLineStyle1}, {&kLineStyle2}, {&kLineStyle4}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_FillStyleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_FillStyleDesignDefine", {{&kFillStyle0, true}, {&kFillStyle2, true}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_TextShadowDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_TextShadowDesignDefine", {{&kTextShadow}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_TextStyleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_TextStyleDesignDefine", {{&kTextShadow}, {&kTextStyle0}, {&kTextStyle2}},
                       err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

// =================================================================================================
// The numbered-style family: what a library does with the styles of one kind (adding, deleting,
// looking up, use counts, evaluation of base chains, copying between libraries, renderer objects,
// keyword lists). Written once over the kind; each kind below adds to its list kind the names of
// its operations and messages, its keywords, its parts by mask bit, its comparison, its defaults,
// the numbers of other styles it holds, and how it fills its renderer object.

namespace {

using V = lower::Value;

// The number of a list's slots; the style in a slot (null: empty).
template <class Record> Record *StyleAt(Edlm_List *list, int32_t number) { return At<Record>(list, number); }

// A name joined from parts at compile time, so that reports name their callees without taking
// memory at the moment an allocation may just have failed.
struct FixedName {
  char text[80] = {};
  constexpr FixedName(const char *a, const char *b, const char *c = "") {
    std::size_t n = 0;
    for (const char *part : {a, b, c})
      for (; *part && n + 1 < sizeof text; ++part) text[n++] = *part;
  }
};
template <class Kind> struct Names {
  static constexpr FixedName addToList{Kind::kPrefix, "AddToList"},
      addToLibrary{Kind::kPrefix, "AddToLibrary"}, deleteFromList{Kind::kPrefix, "DeleteFromList"},
      evaluate{Kind::kPrefix, "Evaluate"}, namedFromList{Kind::kPrefix, "GetNamedFromList"},
      incrementUseCount{Kind::kPrefix, "IncrementUseCount"},
      incrementByStyle{Kind::kPrefix, "IncrementUseCountByStyle"}, lookup{Kind::kPrefix, "LookupInLibrary"},
      replaceInLibrary{Kind::kPrefix, "ReplaceInLibrary"},
      notInLibrary{"Invalid ", Kind::kData, " in input style library"};
};

// The keywords every kind reads: the name, the description, the base reference.
#define TAVIRON_EANT_COMMON_KEYWORDS                                                                         \
  {EANT_KEY_STYLENAME, {V::Pointer}}, {EANT_KEY_DESCRIPTION, {V::Pointer}}, {                                \
    EANT_KEY_BASESTYLE, { V::Pointer, V::Pointer, V::Int }                                                   \
  }

// Copies a coordinate definition into *slot (made when null); false with the report in err.
bool SetUnits(Eant_CoordDefinition *&slot, int32_t coordSys, const char *units, Eerr_ErrorReport **err) {
  Eant_CoordDefinition *set = eant_CoordDefinitionSetValues(slot, coordSys, units, err);
  if (!set) return false;
  slot = set;
  return true;
}

bool SetReference(Eant_Style *&slot, const Eant_Style *source, Eerr_ErrorReport **err) {
  if (!source) {
    eant_StyleFree(&slot);
    return true;
  }
  Eant_Style *copy = eant_StyleCopy(source, slot, err);
  if (!copy) return false;
  slot = copy;
  return true;
}

bool SameUnits(const Eant_CoordDefinition *a, const Eant_CoordDefinition *b) {
  if (!a || !b) return a == b;
  return eant_CoordDefinitionCompare(a, b, nullptr) == 1;
}

// A length in a style's units as map units of the layer (unchanged without a conversion).
double MapLength(Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *units, double value,
                 Eerr_ErrorReport **err) {
  if (!conversion || !units) return value;
  return eant_CoordSysConversionScaleX(conversion, units, value, err);
}

std::atomic<int32_t> ignoreOpacity{0};

// An opacity of 0.0 to 1.0 as the renderer's 0 to 255, truncated; nothing clamps the value but
// what no 32-bit number can hold.
int32_t Opacity(double opacity) {
  const double scaled = std::trunc(opacity * 255.0);
  if (!(scaled > -2147483648.0)) return scaled != scaled ? 0 : INT32_MIN;
  if (scaled > 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(scaled);
}

// ---- Colours ---------------------------------------------------------------------------------

struct ColorFamily : Colors {
  using Target = Eevg_Color;
  using Renderer = Eevg_Color;
  static constexpr const char *kPrefix = "eant_Color", *kName = "Color";
  static constexpr auto kSetValues = eant_ColorSetValues;
  static constexpr uint32_t kBits = EANT_COLOR_RED | EANT_COLOR_GREEN | EANT_COLOR_BLUE | EANT_COLOR_OPACITY;
  static constexpr lower::Keyword kKeywords[] = {TAVIRON_EANT_COMMON_KEYWORDS,
                                                 {EANT_KEY_RGB, {V::Int, V::Int, V::Int}},
                                                 {EANT_KEY_OPACITY, {V::Double}}};
  static constexpr lower::KeywordList kKeywordList{{kKeywords}, "Invalid keyword option for color"};
  static void DropCache(Eant_Color &style) { DropColorCache(style); }
  static Eevg_Color *&Cache(Eant_Color &style) { return style.evaluatedStyle; }

  static bool Apply(Eant_Color &style, int32_t code, const lower::KeywordValues &v, const char *,
                    Eerr_ErrorReport **) {
    if (code == EANT_KEY_RGB) {
      style.red = v.Int(0);
      style.green = v.Int(1);
      style.blue = v.Int(2);
      style.mask |= EANT_COLOR_RED | EANT_COLOR_GREEN | EANT_COLOR_BLUE;
    } else {
      style.opacity = v.Double(0);
      style.mask |= EANT_COLOR_OPACITY;
    }
    return true;
  }
  static void SwapPart(Eant_Color &a, Eant_Color &b, uint32_t bit) {
    switch (bit) {
      case EANT_COLOR_RED:
        std::swap(a.red, b.red);
        break;
      case EANT_COLOR_GREEN:
        std::swap(a.green, b.green);
        break;
      case EANT_COLOR_BLUE:
        std::swap(a.blue, b.blue);
        break;
      case EANT_COLOR_OPACITY:
        std::swap(a.opacity, b.opacity);
        break;
      default:
        break;
    }
  }
  static bool Equal(const Eant_Color &a, const Eant_Color &b) {
    // The stored members but useCount and flags, compared through the record's design.
    Eant_Color x = a, y = b;
    x.useCount = y.useCount = 0;
    x.flags = y.flags = 0;
    return record::Equal(kColor2Memory, &x, &y);
  }
  static bool Defaults(Eant_Color &style, Eerr_ErrorReport **) {
    if (!(style.mask & EANT_COLOR_RED)) style.red = 0;
    if (!(style.mask & EANT_COLOR_GREEN)) style.green = 0;
    if (!(style.mask & EANT_COLOR_BLUE)) style.blue = 0;
    if (!(style.mask & EANT_COLOR_OPACITY)) style.opacity = 1.0;
    style.mask |= kBits;
    return true;
  }
  static bool FillTarget(Eint_InitToolkitData *, Eant_StyleLibrary *, Eant_Color &style, Eevg_Color *target,
                         Eant_CoordSysConversion *, const char *, Eerr_ErrorReport **) {
    target->index = style.red;
    target->red = style.red;
    target->green = style.green;
    target->blue = style.blue;
    target->opacity = ignoreOpacity.load(std::memory_order_relaxed) ? 255 : Opacity(style.opacity);
    return true;
  }
  static Eevg_Color *NewRenderer(Eerr_ErrorReport **err) { return eevg_ColorCreate(err); }
  static void FreeRenderer(Eevg_Color **renderer) { eevg_ColorFree(renderer); }
  static Eevg_Color *TargetOf(Eevg_Color *renderer) { return renderer; }
  static bool Complete(Eint_InitToolkitData *, Eant_StyleLibrary *, Eant_Color &, Eevg_Color *,
                       Eant_CoordSysConversion *, const char *, Eerr_ErrorReport **) {
    return true;
  }
  // A colour names no other colour or style.
  static bool Move(Eant_Color &, Eant_StyleLibrary *, Eant_StyleLibrary *, int32_t, bool, const char *,
                   Eerr_ErrorReport **) {
    return true;
  }
  static void PrintParts(const Eant_Color &style) {
    efio_Printf("   red - %ld\n", static_cast<long>(style.red));
    efio_Printf("   green - %ld\n", static_cast<long>(style.green));
    efio_Printf("   blue - %ld\n", static_cast<long>(style.blue));
    efio_Printf("   opacity - %lg\n", style.opacity);
  }
};

// ---- Line styles -----------------------------------------------------------------------------

// Sets the line at position, growing the composition with lines {-1, 0.0}; on failure the
// composition stays as it was.
bool PutLine(Eant_LineComposition &composition, int32_t position, double width, int32_t color,
             const char *reporter, Eerr_ErrorReport **err) {
  if (position >= composition.count) {
    auto *grown = lower::HeapNewArray<Eant_LineDescription>(position + 1);
    if (!grown) {
      lower::Report(err, reporter, 3, "Error reallocating lineComp->data");
      return false;
    }
    for (int32_t i = 0; i <= position; ++i)
      grown[i] = i < composition.count ? composition.data[i] : Eant_LineDescription{-1, 0.0};
    emsc_HeapFree(composition.data);
    composition.data = grown;
    composition.count = position + 1;
  }
  composition.data[position] = {color, width};
  return true;
}

// A position past this is refused rather than allocated.
constexpr int32_t kMaxLinePosition = 0xffff;

bool SetOverLine(Eant_LineComposition &composition, int32_t position, double width, int32_t color,
                 const char *reporter, Eerr_ErrorReport **err) {
  if (position < 0 || position > kMaxLinePosition) {
    lower::Report(err, reporter, 3, "Invalid overLine position %d", position);
    return false;
  }
  return PutLine(composition, position, width, color, reporter, err);
}


void PrintDescription(const Eant_LineDescription &line) {
  efio_Printf("LineDescription:\n   color - %ld\n   width - %lg\n", static_cast<long>(line.color), line.width);
}

void PrintComposition(const Eant_LineComposition &composition) {
  efio_Printf("LineComposition:\n");
  for (int32_t i = 0; i < composition.count; ++i) PrintDescription(composition.data[i]);
}

struct LineFamily : LineStyles {
  using Target = Eevg_LineComposition;
  using Renderer = Eevg_LineStyle;
  static constexpr const char *kPrefix = "eant_LineStyle", *kName = "LineStyle";
  static constexpr auto kSetValues = eant_LineStyleSetValues;
  static constexpr uint32_t kBits = 0xffeu;
  static constexpr lower::Keyword kKeywords[] = {
      TAVIRON_EANT_COMMON_KEYWORDS,
      {EANT_KEY_STYLEUNITS, {V::Int, V::Pointer}},
      {EANT_KEY_OVERLINE, {V::Int, V::Double, V::Int}},
      {EANT_KEY_LINEPATTERN, {V::Int, V::Double, V::Double}},
      {EANT_KEY_LINEJOIN, {V::Int}},
      {EANT_KEY_MARKEND, {V::Int}},
      {EANT_KEY_STARTLINEEND, {V::Int}},
      {EANT_KEY_ENDLINEEND, {V::Int}},
      {EANT_KEY_ARROWEND, {V::Double, V::Double, V::Double, V::Int, V::Int}},
      {EANT_KEY_DISPLAYLINE, {V::Int}},
      {EANT_KEY_USESYMBOL, {V::Int}},
      {EANT_KEY_LINESYMBOL,
       {V::Int, V::Pointer, V::Int, V::Pointer, V::Double, V::Double, V::Double, V::Int, V::Pointer, V::Int,
        V::Int}}};
  static constexpr lower::KeywordList kKeywordList{{kKeywords}, "Invalid keyword option for lineStyle"};
  static void DropCache(Eant_LineStyle &style) { DropLineCache(style); }
  static Eevg_LineStyle *&Cache(Eant_LineStyle &style) { return style.evaluatedStyle; }

  static bool Apply(Eant_LineStyle &style, int32_t code, const lower::KeywordValues &v, const char *reporter,
                    Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    switch (code) {
      case EANT_KEY_STYLEUNITS:
        if (!SetUnits(style.styleUnits, v.Int(0), v.Pointer<const char>(1), &inner)) break;
        style.mask |= EANT_LINE_STYLEUNITS;
        return true;
      case EANT_KEY_OVERLINE:
        if (!SetOverLine(style.overLines, v.Int(0), v.Double(1), v.Int(2), reporter, err)) return false;
        style.mask |= EANT_LINE_OVERLINES;
        return true;
      case EANT_KEY_LINEPATTERN:
        if (v.Int(0) < 0 ||
            !eevg_LinePatternSetValues(&style.linePattern, v.Int(0), v.Double(1), v.Double(2), &inner))
          break;
        style.mask |= EANT_LINE_LINEPATTERN;
        return true;
      case EANT_KEY_LINEJOIN:
        style.lineJoin = v.Int(0);
        style.mask |= EANT_LINE_LINEJOIN;
        return true;
      case EANT_KEY_MARKEND:
        style.markEnd = v.Int(0);
        style.mask |= EANT_LINE_MARKEND;
        return true;
      case EANT_KEY_STARTLINEEND:
        style.startLineEnd = v.Int(0);
        style.mask |= EANT_LINE_STARTLINEEND;
        return true;
      case EANT_KEY_ENDLINEEND:
        style.endLineEnd = v.Int(0);
        style.mask |= EANT_LINE_ENDLINEEND;
        return true;
      case EANT_KEY_DISPLAYLINE:
        style.displayLine = v.Int(0);
        style.mask |= EANT_LINE_DISPLAYLINE;
        return true;
      case EANT_KEY_USESYMBOL:
        style.useSymbol = v.Int(0);
        style.mask |= EANT_LINE_USESYMBOL;
        return true;
      case EANT_KEY_ARROWEND: {
        Eevg_ArrowEnd *arrow = eevg_ArrowEndSetValues(style.arrowEnd, v.Double(0), v.Double(1), v.Double(2),
                                                      v.Int(3), v.Int(4), &inner);
        if (!arrow) break;
        style.arrowEnd = arrow;
        style.mask |= EANT_LINE_ARROWEND;
        return true;
      }
      case EANT_KEY_LINESYMBOL: {
        if (!style.lineSymbol && !(style.lineSymbol = eant_LineSymbolCreate(&inner))) break;
        Eant_LineSymbol &symbol = *style.lineSymbol;
        if (!SetUnits(symbol.scaleUnits, v.Int(0), v.Pointer<const char>(1), &inner) ||
            !SetUnits(symbol.positionUnits, v.Int(2), v.Pointer<const char>(3), &inner) ||
            !SetReference(symbol.symbol, v.Pointer<const Eant_Style>(8), &inner))
          break;
        symbol.scale = v.Double(4);
        symbol.spacing = v.Double(5);
        symbol.offset = v.Double(6);
        symbol.effect = v.Int(7);
        symbol.colorOverrideFlag = v.Int(9);
        symbol.overrideColor = v.Int(10);
        style.mask |= EANT_LINE_LINESYMBOL;
        return true;
      }
      default:
        break;
    }
    lower::ReportChained(err, inner, reporter, 3, "Error setting keyword %d of lineStyle", code);
    return false;
  }
  static void SwapPart(Eant_LineStyle &a, Eant_LineStyle &b, uint32_t bit) {
    switch (bit) {
      case EANT_LINE_STYLEUNITS:
        std::swap(a.styleUnits, b.styleUnits);
        break;
      case EANT_LINE_OVERLINES:
        std::swap(a.overLines, b.overLines);
        break;
      case EANT_LINE_LINEPATTERN:
        std::swap(a.linePattern, b.linePattern);
        break;
      case EANT_LINE_LINEJOIN:
        std::swap(a.lineJoin, b.lineJoin);
        break;
      case EANT_LINE_MARKEND:
        std::swap(a.markEnd, b.markEnd);
        break;
      case EANT_LINE_STARTLINEEND:
        std::swap(a.startLineEnd, b.startLineEnd);
        break;
      case EANT_LINE_ENDLINEEND:
        std::swap(a.endLineEnd, b.endLineEnd);
        break;
      case EANT_LINE_ARROWEND:
        std::swap(a.arrowEnd, b.arrowEnd);
        break;
      case EANT_LINE_DISPLAYLINE:
        std::swap(a.displayLine, b.displayLine);
        break;
      case EANT_LINE_USESYMBOL:
        std::swap(a.useSymbol, b.useSymbol);
        break;
      case EANT_LINE_LINESYMBOL:
        std::swap(a.lineSymbol, b.lineSymbol);
        break;
      default:
        break;
    }
  }
  static bool Equal(const Eant_LineStyle &a, const Eant_LineStyle &b) {
    Eant_LineStyle x = a, y = b;
    x.useCount = y.useCount = 0;
    x.flags = y.flags = 0;
    return record::Equal(kLineStyle4Memory, &x, &y);
  }
  // Without a base, the style units are output units unless the style names its own.
  static bool Defaults(Eant_LineStyle &style, Eerr_ErrorReport **err) {
    if (style.mask & EANT_LINE_STYLEUNITS) return true;
    if (!SetUnits(style.styleUnits, EEVG_OUTPUT, nullptr, err)) return false;
    style.mask |= EANT_LINE_STYLEUNITS;
    return true;
  }
  // The overlaid lines this level defines, as renderer lines: widths in map units, colours of
  // this level's library.
  static bool FillTarget(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, Eant_LineStyle &style,
                         Eevg_LineComposition *target, Eant_CoordSysConversion *conversion,
                         const char *reporter, Eerr_ErrorReport **err) {
    if (!(style.mask & EANT_LINE_OVERLINES)) return true;
    lower::CalleeReport inner;
    if (!eant_GetLineComposition(toolkit, library, &style.overLines, target, style.styleUnits, conversion,
                                 &inner)) {
      lower::ReportCallee(err, inner, reporter, 7, "eant_GetLineComposition");
      return false;
    }
    style.mask &= ~EANT_LINE_OVERLINES;
    return true;
  }
  static Eevg_LineStyle *NewRenderer(Eerr_ErrorReport **err) { return eevg_LineStyleCreate(err); }
  static void FreeRenderer(Eevg_LineStyle **renderer) { eevg_LineStyleFree(renderer); }
  static Eevg_LineComposition *TargetOf(Eevg_LineStyle *renderer) { return &renderer->composition; }
  // What the composition does not carry: the dashes in map units, joins and ends, the arrow head,
  // the symbol drawn along the line.
  static bool Complete(Eint_InitToolkitData *, Eant_StyleLibrary *library, Eant_LineStyle &style,
                       Eevg_LineStyle *renderer, Eant_CoordSysConversion *conversion, const char *reporter,
                       Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    if (!eant_GetLinePattern(&style.linePattern, &renderer->pattern, style.styleUnits, conversion, &inner)) {
      lower::ReportCallee(err, inner, reporter, 6, "eant_GetLinePattern");
      return false;
    }
    renderer->lineJoin = style.lineJoin;
    renderer->markEnd = style.markEnd;
    renderer->startLineEnd = style.startLineEnd;
    renderer->endLineEnd = style.endLineEnd;
    if (style.arrowEnd) {
      Eevg_ArrowEnd *arrow = eant_GetArrowEnd(style.arrowEnd, style.styleUnits, conversion, &inner);
      if (!arrow) {
        lower::ReportCallee(err, inner, reporter, 6, "eant_GetArrowEnd");
        return false;
      }
      eevg_ArrowEndFree(&renderer->arrowEnd);
      renderer->arrowEnd = arrow;
    }
    renderer->displayLine = style.displayLine;
    renderer->useSymbol = style.useSymbol;
    if (style.useSymbol == 1 && style.lineSymbol &&
        !(renderer->lineSymbol = eant_GetLineSymbol(style.lineSymbol, library, conversion, &inner))) {
      lower::ReportCallee(err, inner, reporter, 6, "eant_GetLineSymbol");
      return false;
    }
    return true;
  }
  static bool Move(Eant_LineStyle &style, Eant_StyleLibrary *source, Eant_StyleLibrary *target,
                   int32_t unique, bool replace, const char *reporter, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    for (int32_t i = 0; i < style.overLines.count; ++i) {
      int32_t &color = style.overLines.data[i].color;
      if (color == -1) continue;
      color = eant_ColorCopyBetweenLibraries(color, source, target, replace ? 1 : unique, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 4, "eant_ColorCopyBetweenLibraries for line color");
        return false;
      }
    }
    if (style.lineSymbol && style.lineSymbol->overrideColor != -1) {
      int32_t &color = style.lineSymbol->overrideColor;
      color = eant_ColorCopyBetweenLibraries(color, source, target, 1, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 5,
                            "eant_ColorCopyBetweenLibraries for lineSymbol overrideColor");
        return false;
      }
    }
    return true;
  }
  static void PrintParts(const Eant_LineStyle &style) {
    eant_CoordDefinitionPrint(style.styleUnits, nullptr);
    PrintComposition(style.overLines);
    eevg_LinePatternPrint(&style.linePattern, nullptr);
    efio_Printf("   lineJoin - %d\n   markEnd - %d\n   startLineEnd - %d\n   endLineEnd - %d\n",
                style.lineJoin, style.markEnd, style.startLineEnd, style.endLineEnd);
    if (style.arrowEnd) eevg_ArrowEndPrint(style.arrowEnd, nullptr);
    if (style.lineSymbol) eant_LineSymbolPrint(style.lineSymbol, nullptr);
  }
};

// ---- Fill styles -----------------------------------------------------------------------------

struct FillFamily : FillStyles {
  using Target = Eevg_FillStyle;
  using Renderer = Eevg_FillStyle;
  static constexpr const char *kPrefix = "eant_FillStyle", *kName = "FillStyle";
  static constexpr auto kSetValues = eant_FillStyleSetValues;
  static constexpr uint32_t kBits =
      EANT_FILL_FILL | EANT_FILL_TRACE | EANT_FILL_PATTERN | EANT_FILL_TRACESTYLE;
  static constexpr lower::Keyword kKeywords[] = {
      TAVIRON_EANT_COMMON_KEYWORDS,
      {EANT_KEY_FILL, {V::Int, V::Int}},
      {EANT_KEY_TRACE, {V::Int, V::Int}},
      {EANT_KEY_PATTERN,
       {V::Int, V::Int, V::Int, V::Int, V::Int, V::Pointer, V::Int, V::Pointer, V::Double, V::Double,
        V::Double, V::Pointer, V::Int, V::Int}}};
  static constexpr lower::KeywordList kKeywordList{{kKeywords}, "Invalid keyword option for fillStyle"};
  static void DropCache(Eant_FillStyle &style) { DropFillCache(style); }
  static Eevg_FillStyle *&Cache(Eant_FillStyle &style) { return style.evaluatedStyle; }

  static bool Apply(Eant_FillStyle &style, int32_t code, const lower::KeywordValues &v, const char *reporter,
                    Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    if (code == EANT_KEY_TRACE) {
      style.trace = v.Int(0);
      style.traceStyle = v.Int(1);
      style.mask |= EANT_FILL_TRACE | EANT_FILL_TRACESTYLE;
      return true;
    }
    style.fill = v.Int(0);
    style.mask |= EANT_FILL_FILL | EANT_FILL_PATTERN;
    if (style.fill != 1) {
      eant_FillPatternFree(&style.pattern);
      return true;
    }
    Eant_FillPattern *pattern = nullptr;
    if (code == EANT_KEY_FILL) {
      pattern = eant_FillPatternSetValues(style.pattern, v.Int(1), &inner);
    } else {
      // The list's symbol reference stays the caller's: the pattern fill takes a copy.
      Eant_Style *symbol = nullptr;
      if (!SetReference(symbol, v.Pointer<const Eant_Style>(11), &inner)) {
        lower::ReportChained(err, inner, reporter, 3, "Error setting keyword %d of fillStyle", code);
        return false;
      }
      pattern = eant_FillPatternSetAllValues(style.pattern, v.Int(1), v.Int(2), v.Int(3), v.Int(4),
                                             v.Pointer<const char>(5), v.Int(6), v.Pointer<const char>(7),
                                             v.Double(8), v.Double(9), v.Double(10), symbol, v.Int(12),
                                             v.Int(13), &inner);
      if (!pattern || v.Int(3) != 1) eant_StyleFree(&symbol); // not taken over
    }
    if (!pattern) {
      lower::ReportChained(err, inner, reporter, 3, "Error setting keyword %d of fillStyle", code);
      return false;
    }
    style.pattern = pattern;
    return true;
  }
  static void SwapPart(Eant_FillStyle &a, Eant_FillStyle &b, uint32_t bit) {
    switch (bit) {
      case EANT_FILL_FILL:
        std::swap(a.fill, b.fill);
        break;
      case EANT_FILL_TRACE:
        std::swap(a.trace, b.trace);
        break;
      case EANT_FILL_PATTERN:
        std::swap(a.pattern, b.pattern);
        break;
      case EANT_FILL_TRACESTYLE:
        std::swap(a.traceStyle, b.traceStyle);
        break;
      default:
        break;
    }
  }
  static bool Equal(const Eant_FillStyle &a, const Eant_FillStyle &b) {
    return eant_CharStrCompare(&a.styleName, &b.styleName, nullptr) == 1 &&
           eant_CharStrCompare(&a.description, &b.description, nullptr) == 1 &&
           eant_StyleCompare(a.baseStyle, b.baseStyle, nullptr) == 1 && a.mask == b.mask &&
           a.fill == b.fill && a.trace == b.trace && eant_FillPatternCompare(a.pattern, b.pattern, nullptr) == 1 &&
           a.traceStyle == b.traceStyle;
  }
  static bool Defaults(Eant_FillStyle &, Eerr_ErrorReport **) { return true; }
  // Each level turns the numbers it sets into renderer objects of its own library.
  static bool FillTarget(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, Eant_FillStyle &style,
                         Eevg_FillStyle *target, Eant_CoordSysConversion *conversion, const char *reporter,
                         Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    target->fill = style.fill;
    target->trace = style.trace;
    if (style.mask & EANT_FILL_PATTERN) {
      eevg_FillPatternFree(&target->pattern);
      if (style.pattern && !(target->pattern = eant_GetFillPattern(toolkit, library, style.pattern, &inner))) {
        lower::ReportCallee(err, inner, reporter, 7, "eant_GetFillPattern");
        return false;
      }
      style.mask &= ~EANT_FILL_PATTERN;
    }
    if (style.trace == 1 && (style.mask & EANT_FILL_TRACESTYLE)) {
      eevg_LineStyleFree(&target->traceStyle);
      if (style.traceStyle != -1 &&
          !(target->traceStyle = eant_GetLineStyle(toolkit, library, style.traceStyle, conversion, &inner))) {
        lower::ReportCallee(err, inner, reporter, 7, "eant_GetLineStyle");
        return false;
      }
      style.mask &= ~EANT_FILL_TRACESTYLE;
    }
    return true;
  }
  static Eevg_FillStyle *NewRenderer(Eerr_ErrorReport **err) { return eevg_FillStyleCreate(err); }
  static void FreeRenderer(Eevg_FillStyle **renderer) { eevg_FillStyleFree(renderer); }
  static Eevg_FillStyle *TargetOf(Eevg_FillStyle *renderer) { return renderer; }
  static bool Complete(Eint_InitToolkitData *, Eant_StyleLibrary *, Eant_FillStyle &, Eevg_FillStyle *,
                       Eant_CoordSysConversion *, const char *, Eerr_ErrorReport **) {
    return true;
  }
  // The pattern's colours and the outline's line style move with the fill style: a copy moves
  // them with the caller's flag (the outline only when it is drawn), a replacement the colours
  // with unique 1 and the outline with 0.
  static bool Move(Eant_FillStyle &style, Eant_StyleLibrary *source, Eant_StyleLibrary *target,
                   int32_t unique, bool replace, const char *reporter, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    auto color = [&](int32_t &number, const char *callee) {
      if (number == -1) return true;
      number = eant_ColorCopyBetweenLibraries(number, source, target, replace ? 1 : unique, &inner);
      if (!inner) return true;
      lower::ReportCallee(err, inner, reporter, 4, callee);
      return false;
    };
    if (Eant_FillPattern *pattern = style.pattern) {
      if (!color(pattern->color, replace ? "eant_ColorCopyBetweenLibraries for color"
                                         : "eant_ColorCopyBetweenLibraries for solid color"))
        return false;
      if (pattern->pattern &&
          !color(pattern->pattern->overrideColor,
                 replace ? "eant_ColorCopyBetweenLibraries for patternFill overrideColor"
                         : "eant_ColorCopyBetweenLibraries for pattern override color"))
        return false;
    }
    if (style.traceStyle != -1 && (replace || style.trace == 1)) {
      style.traceStyle =
          eant_LineStyleCopyBetweenLibraries(style.traceStyle, source, target, replace ? 0 : unique, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 5, "eant_LineStyleCopyBetweenLibraries for traceStyle");
        return false;
      }
    }
    return true;
  }
  static void PrintParts(const Eant_FillStyle &style) {
    efio_Printf("   fill - %s\n   trace - %s\n", style.fill == 1 ? "true" : "false",
                style.trace == 1 ? "true" : "false");
    eant_FillPatternPrint(style.pattern, nullptr);
    efio_Printf("   traceStyle - %ld\n", static_cast<long>(style.traceStyle));
  }
};

// ---- The family, over the kind -----------------------------------------------------------------

// The most levels of base styles one evaluation follows.
constexpr int32_t kMaxBaseDepth = 256;

// What the drawing forms of an evaluation carry to the kinds that build renderer objects for a
// drawing (the character fill of a text style): the drawing and the symbol library.
struct Rendering {
  Eevg_Drawing *drawing;
  Eant_SymbolLibrary *symbols;
};

template <class Kind> struct Family {
  using Record = typename Kind::Record;
  using Target = typename Kind::Target;
  using Renderer = typename Kind::Renderer;

  static Edlm_List *ListOf(Eant_StyleLibrary *library) { return library->*Kind::kList; }

  static bool Equal(const Record *a, const Record *b) {
    if (!a || !b) return a == b;
    return Kind::Equal(*a, *b);
  }

  static int32_t AddToList(const char *reporter, Record *style, Edlm_List *list, int32_t unique,
                           Eerr_ErrorReport **err) {
    lower::Clear(err);
    if (!style) {
      lower::Report(err, reporter, 1, "Invalid input %s", Kind::kWords);
      return 0;
    }
    if (!list) {
      lower::Report(err, reporter, 2, "Invalid input %s list", Kind::kWords);
      return 0;
    }
    // A style the list holds already keeps its number (it is neither stored twice nor freed).
    const int32_t count = Count(list);
    for (int32_t i = 0; i < count; ++i)
      if (At<Record>(list, i) == style) return i;
    // The walk stops at the first slot that is empty or, with unique 1, holds an equal style.
    for (int32_t i = 0; i < count; ++i) {
      Record *&slot = At<Record>(list, i);
      if (!slot) {
        slot = style;
        return i;
      }
      if (unique == 1 && Equal(slot, style)) {
        Kind::Free(&style);
        return i;
      }
    }
    lower::CalleeReport inner;
    if (!Append(list, style, &inner)) {
      lower::ReportCallee(err, inner, reporter, 3, "edlm_Add");
      return 0;
    }
    return count;
  }

  static void DeleteFromList(const char *reporter, int32_t number, Edlm_List *list, Eerr_ErrorReport **err) {
    lower::Clear(err);
    if (number < 0) {
      lower::Report(err, reporter, 1, "Invalid input %s", Kind::kWords);
      return;
    }
    if (!list) {
      lower::Report(err, reporter, 2, "Invalid input %s list", Kind::kWords);
      return;
    }
    if (number >= Count(list)) {
      lower::Report(err, reporter, 3, "Invalid %s list", Kind::kWords);
      return;
    }
    Record *&slot = At<Record>(list, number);
    if (!slot) return; // already deleted
    if (slot->useCount > 0) --slot->useCount;
    if (slot->useCount <= 0) Kind::Free(&slot);
  }

  // The library's list of the kind, or null after the report (codes 1 and 2).
  static Edlm_List *LibraryList(const char *reporter, Eant_StyleLibrary *library, const char *missing,
                                Eerr_ErrorReport **err) {
    if (!library) {
      lower::Report(err, reporter, 1, "Invalid input style library");
      return nullptr;
    }
    Edlm_List *list = ListOf(library);
    if (!list) lower::Report(err, reporter, 2, "%s", missing);
    return list;
  }

  static Record *Lookup(const char *reporter, Eant_StyleLibrary *library, int32_t number,
                        Eerr_ErrorReport **err) {
    lower::Clear(err);
    Edlm_List *list = LibraryList(reporter, library, Names<Kind>::notInLibrary.text, err);
    if (!list) return nullptr;
    if (number < 0 || number >= Count(list)) {
      lower::Report(err, reporter, 3, "Requested %s number is out of range", Kind::kWords);
      return nullptr;
    }
    Record *style = At<Record>(list, number);
    if (!style) lower::Report(err, reporter, 4, "%s has been deleted", Kind::kName);
    return style;
  }

  static int32_t AddToLibrary(const char *reporter, Record *style, Eant_StyleLibrary *library, int32_t unique,
                              Eerr_ErrorReport **err) {
    lower::Clear(err);
    Edlm_List *list = LibraryList(reporter, library, Names<Kind>::notInLibrary.text, err);
    if (!list) return 0;
    lower::CalleeReport inner;
    const int32_t number = AddToList(Names<Kind>::addToList.text, style, list, unique, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 3, Names<Kind>::addToList.text);
    return inner ? 0 : number;
  }

  static void DeleteFromLibrary(const char *reporter, int32_t number, Eant_StyleLibrary *library,
                                Eerr_ErrorReport **err) {
    lower::Clear(err);
    Edlm_List *list = LibraryList(reporter, library, "Invalid styleNum in input style library", err);
    if (!list) return;
    lower::CalleeReport inner;
    DeleteFromList(Names<Kind>::deleteFromList.text, number, list, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 3, Names<Kind>::deleteFromList.text);
  }

  static void ReplaceInLibrary(const char *reporter, Record *style, int32_t number,
                               Eant_StyleLibrary *library, Eerr_ErrorReport **err) {
    lower::Clear(err);
    if (!style) {
      lower::Report(err, reporter, 3, "Invalid input %s", Kind::kWords);
      return;
    }
    Edlm_List *list = LibraryList(reporter, library, Names<Kind>::notInLibrary.text, err);
    if (!list) return;
    const int32_t count = Count(list);
    if (number < 0 || number >= count) {
      lower::Report(err, reporter, 4, "Invalid input %sNum.  Must be between 0 and %d", Kind::kData,
                    count - 1);
      return;
    }
    Record *&slot = At<Record>(list, number);
    if (slot == style) return;
    Kind::Free(&slot);
    slot = style;
  }

  static int32_t ByName(const char *reporter, Eant_StyleLibrary *library, const char *name,
                        Eerr_ErrorReport **err) {
    lower::Clear(err);
    Edlm_List *list = LibraryList(reporter, library, Names<Kind>::notInLibrary.text, err);
    if (!list) return -1;
    if (!name) {
      lower::Report(err, reporter, 3, "Invalid input styleName");
      return -1;
    }
    const int32_t count = Count(list);
    for (int32_t i = 0; i < count; ++i) {
      const Record *style = At<Record>(list, i);
      const char *text = style ? Text(style->styleName) : nullptr;
      if (text && std::strcmp(text, name) == 0) return i;
    }
    lower::Report(err, reporter, 4, "Requested %s \"%s\" not found", Kind::kWords, name);
    return -1;
  }

  static void IncrementUseCount(const char *reporter, Eant_StyleLibrary *library, int32_t number,
                                Eerr_ErrorReport **err) {
    lower::Clear(err);
    lower::CalleeReport inner;
    Record *style = Lookup(Names<Kind>::lookup.text, library, number, &inner);
    if (!style) {
      lower::ReportCallee(err, inner, reporter, 1, Names<Kind>::lookup.text);
      return;
    }
    ++style->useCount;
  }

  static void IncrementByStyle(const char *reporter, Eint_InitToolkitData *toolkit,
                               Eant_StyleLibrary *library, const Eant_Style *reference,
                               Eerr_ErrorReport **err) {
    lower::Clear(err);
    if (!reference) {
      lower::Report(err, reporter, 1, "Invalid input style");
      return;
    }
    lower::CalleeReport inner;
    Eant_StyleLibrary *found = eant_StyleLibraryGetFromStyle(toolkit, library, reference, &inner);
    if (!found) {
      if (inner)
        lower::ReportCallee(err, inner, reporter, 2, "eant_StyleLibraryGetFromStyle");
      else
        lower::Report(err, reporter, 2, "Invalid input style library");
      return;
    }
    IncrementUseCount(Names<Kind>::incrementUseCount.text, found, reference->number, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 3, Names<Kind>::incrementUseCount.text);
  }

  static void FreeNamed(Edlm_List *named) {
    if (!named) return;
    const int32_t count = Count(named);
    for (int32_t i = 0; i < count; ++i)
      eant_StyleFreeContents(static_cast<Eant_Style *>(edlm_GetAddr(named, i, nullptr)));
    edlm_FreeList(named);
  }

  static Edlm_List *NamedFromList(const char *reporter, Edlm_List *list, const char *fileNodeName,
                                  Eerr_ErrorReport **err) {
    lower::Clear(err);
    const int32_t count = Count(list);
    if (count == 0) return nullptr;
    lower::CalleeReport inner;
    Edlm_List *named = edlm_InitList(sizeof(Eant_Style), 8, &inner);
    if (!named) {
      lower::ReportCallee(err, inner, reporter, 1, "edlm_InitList");
      return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
      const Record *style = At<Record>(list, i);
      if (!style || !Text(style->styleName)) continue;
      Eant_Style entry{};
      entry.number = i;
      if (!eant_CharStrCreate(fileNodeName, &entry.fileNodeName, &inner) ||
          !eant_CharStrCopy(&style->styleName, &entry.name, &inner) || edlm_Add(named, &entry, &inner) < 0) {
        eant_StyleFreeContents(&entry);
        lower::ReportCallee(err, inner, reporter, 2, "edlm_Add");
        FreeNamed(named);
        return nullptr;
      }
    }
    return named;
  }

  static Edlm_List *NamedFromLibrary(const char *reporter, Eant_AnnotationInfo *info,
                                     const char *fileNodeName, Eerr_ErrorReport **err) {
    lower::Clear(err);
    Eant_StyleLibrary *library = nullptr;
    if (fileNodeName) {
      lower::CalleeReport ignored; // a library that cannot be had names no styles
      library =
          eant_StyleLibraryListLookup(info ? info->initToolkitData : eint_GetInit(), fileNodeName, &ignored);
    } else if (!info) {
      lower::Report(err, reporter, 1, "Invalid input annotation info");
      return nullptr;
    } else {
      library = info->styleLib;
    }
    if (!library || !ListOf(library)) return nullptr;
    lower::CalleeReport inner;
    Edlm_List *named = NamedFromList(Names<Kind>::namedFromList.text, ListOf(library), fileNodeName, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, Names<Kind>::namedFromList.text);
    return named;
  }

  static void ClearEvaluated(const char *reporter, Edlm_List *list, Eerr_ErrorReport **err) {
    lower::Clear(err);
    if (!list) {
      lower::Report(err, reporter, 1, "Invalid input %ss", Kind::kData);
      return;
    }
    const int32_t count = Count(list);
    for (int32_t i = 0; i < count; ++i)
      if (Record *style = At<Record>(list, i)) Kind::DropCache(*style);
  }

  // The styles being evaluated above one of its bases, innermost first (a list on the stack).
  struct Chain {
    const Record *style;
    const Chain *above;
  };
  // Evaluation. `chain` holds the styles being evaluated above this one: a base chain that comes
  // back to one of them is refused instead of followed for ever.
  static Record *Evaluate(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                          const Record *style, int32_t followExternal, Target *target,
                          Eant_CoordSysConversion *conversion, const Chain *chain, Eerr_ErrorReport **err,
                          const Rendering *rendering = nullptr) {
    if (!style) {
      lower::Report(err, reporter, 1, "Invalid input %s", Kind::kData);
      return nullptr;
    }
    // A chain deeper than any library holds is taken for a loop as well, so that evaluation never
    // runs out of stack.
    int32_t depth = 0;
    for (const Chain *above = chain; above; above = above->above)
      if (above->style == style || ++depth >= kMaxBaseDepth) {
        lower::Report(err, reporter, 2, "Base style chain loops");
        return nullptr;
      }
    lower::CalleeReport inner;
    const Eant_Style *base = style->baseStyle;
    Record *result = nullptr;
    if (base && (!Text(base->fileNodeName) || followExternal)) {
      Eant_StyleLibrary *baseLibrary = eant_StyleLibraryGetFromStyle(toolkit, library, base, &inner);
      if (!baseLibrary) {
        if (inner)
          lower::ReportCallee(err, inner, reporter, 3, "eant_StyleLibraryGetFromStyle");
        else
          lower::Report(err, reporter, 3, "Invalid input style library");
        return nullptr;
      }
      const Record *baseStyle = Lookup(Names<Kind>::lookup.text, baseLibrary, base->number, &inner);
      if (!baseStyle) {
        lower::ReportCallee(err, inner, reporter, 4, Names<Kind>::lookup.text);
        return nullptr;
      }
      const Chain here{style, chain};
      result =
          Evaluate(reporter, toolkit, baseLibrary, baseStyle, followExternal, target, conversion, &here, err, rendering);
      if (!result) return nullptr;
      // This style's own parts replace the base's.
      Record *own = Kind::Copy(style, nullptr, &inner);
      if (!own) {
        Kind::Free(&result);
        lower::ReportCallee(err, inner, reporter, 5, Kind::kCopy);
        return nullptr;
      }
      for (uint32_t bit = 0x2; bit & Kind::kBits; bit <<= 1)
        if (style->mask & bit) {
          Kind::SwapPart(*result, *own, bit);
          result->mask |= bit;
        }
      Kind::Free(&own);
    } else {
      if (!(result = Kind::Copy(style, nullptr, &inner))) {
        lower::ReportCallee(err, inner, reporter, 5, Kind::kCopy);
        return nullptr;
      }
      if (!base && !Kind::Defaults(*result, &inner)) {
        Kind::Free(&result);
        lower::ReportCallee(err, inner, reporter, 6, "the defaults");
        return nullptr;
      }
    }
    bool filled = true;
    if constexpr (requires { Kind::FillTarget(toolkit, library, *result, target, conversion, rendering, reporter, err); })
      filled = !target || Kind::FillTarget(toolkit, library, *result, target, conversion, rendering, reporter, err);
    else
      filled = !target || Kind::FillTarget(toolkit, library, *result, target, conversion, reporter, err);
    if (!filled) {
      Kind::Free(&result);
      return nullptr;
    }
    return result;
  }
  static Record *Evaluate(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                          const Record *style, int32_t followExternal, Target *target,
                          Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err,
                          const Rendering *rendering = nullptr) {
    lower::Clear(err);
    return Evaluate(reporter, toolkit, library, style, followExternal, target, conversion, nullptr, err, rendering);
  }

  static Record *EvaluateFromStyle(const char *reporter, Eint_InitToolkitData *toolkit,
                                   Eant_StyleLibrary *library, const Eant_Style *reference,
                                   int32_t followExternal, Target *target,
                                   Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    lower::Clear(err);
    if (!reference) {
      lower::Report(err, reporter, 1, "Invalid input style");
      return nullptr;
    }
    lower::CalleeReport inner;
    Eant_StyleLibrary *found = eant_StyleLibraryGetFromStyle(toolkit, library, reference, &inner);
    const Record *style = nullptr;
    if (!found) {
      if (inner)
        lower::ReportCallee(err, inner, reporter, 2, "eant_StyleLibraryGetFromStyle");
      else
        lower::Report(err, reporter, 2, "Invalid input style library");
      return nullptr;
    }
    if (!(style = Lookup(Names<Kind>::lookup.text, found, reference->number, &inner))) {
      lower::ReportCallee(err, inner, reporter, 3, Names<Kind>::lookup.text);
      return nullptr;
    }
    Record *result = Evaluate(Names<Kind>::evaluate.text, toolkit, found, style, followExternal, target,
                              conversion, &inner);
    if (!result) lower::ReportCallee(err, inner, reporter, 4, Names<Kind>::evaluate.text);
    return result;
  }

  // The style evaluated without following external bases, its numbers moved into the target
  // library; null after the report.
  static Record *EvaluatedForMove(const char *reporter, int32_t number, Eant_StyleLibrary *source,
                                  Eant_StyleLibrary *target, int32_t unique, bool replace,
                                  Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    const Record *style = Lookup(Names<Kind>::lookup.text, source, number, &inner);
    if (!style) {
      lower::ReportCallee(err, inner, reporter, 1, Names<Kind>::lookup.text);
      return nullptr;
    }
    Record *evaluated =
        Evaluate(Names<Kind>::evaluate.text, nullptr, source, style, 0, nullptr, nullptr, &inner);
    if (!evaluated) {
      lower::ReportCallee(err, inner, reporter, 2, Names<Kind>::evaluate.text);
      return nullptr;
    }
    if (!target) {
      Kind::Free(&evaluated);
      lower::Report(err, reporter, 3, "Invalid input style library");
      return nullptr;
    }
    if (!Kind::Move(*evaluated, source, target, unique, replace, reporter, err)) {
      Kind::Free(&evaluated);
      return nullptr;
    }
    return evaluated;
  }

  static int32_t CopyBetween(const char *reporter, int32_t number, Eant_StyleLibrary *source,
                             Eant_StyleLibrary *target, int32_t unique, Eerr_ErrorReport **err) {
    lower::Clear(err);
    Record *evaluated = EvaluatedForMove(reporter, number, source, target, unique, false, err);
    if (!evaluated) return -1;
    lower::CalleeReport inner;
    const int32_t added = AddToLibrary(Names<Kind>::addToLibrary.text, evaluated, target, unique, &inner);
    if (inner) {
      Kind::Free(&evaluated);
      lower::ReportCallee(err, inner, reporter, 6, Names<Kind>::addToLibrary.text);
      return 0;
    }
    return added;
  }

  static void ReplaceBetween(const char *reporter, int32_t sourceNumber, Eant_StyleLibrary *source,
                             int32_t targetNumber, Eant_StyleLibrary *target, Eerr_ErrorReport **err) {
    lower::Clear(err);
    Record *evaluated = EvaluatedForMove(reporter, sourceNumber, source, target, 1, true, err);
    if (!evaluated) return;
    lower::CalleeReport inner;
    ReplaceInLibrary(Names<Kind>::replaceInLibrary.text, evaluated, targetNumber, target, &inner);
    if (inner) {
      Kind::Free(&evaluated);
      lower::ReportCallee(err, inner, reporter, 6, Names<Kind>::replaceInLibrary.text);
    }
  }

  // Sets the base reference and counts the use of the referenced style.
  static bool SetBase(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                      Record &style, const char *fileNodeName, const char *name, int32_t number,
                      Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    Eant_Style *base = eant_StyleSetValues(style.baseStyle, fileNodeName, name, number, &inner);
    if (!base) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_StyleSetValues");
      return false;
    }
    style.baseStyle = base;
    IncrementByStyle(Names<Kind>::incrementByStyle.text, toolkit, library, base, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, Names<Kind>::incrementByStyle.text);
      return false;
    }
    return true;
  }

  static Record *SetValues(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                           Record *style, Eerr_ErrorReport **err, va_list ap) {
    lower::Clear(err);
    lower::CalleeReport inner;
    Record *made = nullptr;
    if (!style && !(style = made = Kind::Create(&inner))) {
      lower::ReportCallee(err, inner, reporter, 1, Kind::kCreate);
      return nullptr;
    }
    const bool ended = lower::ReadKeywords(
        Kind::kKeywordList, ap, reporter, 4, err, [&](int32_t code, const lower::KeywordValues &v) {
          switch (code) {
            case EANT_KEY_STYLENAME:
            case EANT_KEY_DESCRIPTION:
              if (!eant_CharStrCreate(v.Pointer<const char>(0),
                                      code == EANT_KEY_STYLENAME ? &style->styleName : &style->description,
                                      &inner)) {
                lower::ReportCallee(err, inner, reporter, 3, "eant_CharStrCreate");
                return false;
              }
              return true;
            case EANT_KEY_BASESTYLE:
              return SetBase(reporter, toolkit, library, *style, v.Pointer<const char>(0),
                             v.Pointer<const char>(1), v.Int(2), err);
            default:
              return Kind::Apply(*style, code, v, reporter, err);
          }
        });
    if (!ended) {
      if (!made) return style; // a given record keeps the keywords applied before the failure
      Kind::Free(&made);
      return nullptr;
    }
    Kind::DropCache(*style);
    return style;
  }

  static int32_t AddToLocal(const char *reporter, Eant_AnnotationInfo *info, const Eant_Style *reference,
                            Eerr_ErrorReport **err) {
    lower::Clear(err);
    if (!info) {
      lower::Report(err, reporter, 1, "Invalid input annotation info");
      return 0;
    }
    if (!reference) {
      lower::Report(err, reporter, 2, "Invalid input style");
      return 0;
    }
    if (reference->fileNodeName.count < 0 || !reference->fileNodeName.data) return reference->number;
    lower::CalleeReport inner;
    Record *style = Kind::Create(&inner);
    if (!style) {
      lower::ReportCallee(err, inner, reporter, 3, Kind::kCreate);
      return 0;
    }
    if (!SetBase(reporter, info->initToolkitData, info->styleLib, *style, Text(reference->fileNodeName),
                 Text(reference->name), reference->number, err)) {
      Kind::Free(&style);
      return 0;
    }
    const int32_t number = AddToLibrary(Names<Kind>::addToLibrary.text, style, info->styleLib, 1, &inner);
    if (inner) {
      Kind::Free(&style);
      lower::ReportCallee(err, inner, reporter, 4, Names<Kind>::addToLibrary.text);
      return 0;
    }
    return number;
  }

  static Renderer *Get(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                       int32_t number, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err,
                       const Rendering *rendering = nullptr) {
    lower::Clear(err);
    if (number == -1) return nullptr;
    if (!toolkit) {
      lower::Report(err, reporter, 1, "%s", kToolkitNotInitialized);
      return nullptr;
    }
    if (!library) {
      lower::Report(err, reporter, 2, "Invalid input style library");
      return nullptr;
    }
    lower::CalleeReport inner;
    const Record *style = Lookup(Names<Kind>::lookup.text, library, number, &inner);
    if (!style) {
      lower::ReportCallee(err, inner, reporter, 3, Names<Kind>::lookup.text);
      return nullptr;
    }
    Renderer *renderer = Kind::NewRenderer(&inner);
    if (!renderer) {
      lower::ReportChained(err, inner, reporter, 4, "Error allocating the renderer's %s", Kind::kWords);
      return nullptr;
    }
    Record *evaluated = Evaluate(Names<Kind>::evaluate.text, toolkit, library, style, 1,
                                 Kind::TargetOf(renderer), conversion, &inner, rendering);
    if (!evaluated) {
      Kind::FreeRenderer(&renderer);
      lower::ReportCallee(err, inner, reporter, 5, Names<Kind>::evaluate.text);
      return nullptr;
    }
    if (!Kind::Complete(toolkit, library, *evaluated, renderer, conversion, reporter, err))
      Kind::FreeRenderer(&renderer);
    Kind::Free(&evaluated);
    return renderer;
  }

  static Renderer *Ptr(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                       int32_t number, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err,
                       const Rendering *rendering = nullptr) {
    lower::Clear(err);
    if (number == -1) return nullptr;
    if (!toolkit) {
      lower::Report(err, reporter, 1, "%s", kToolkitNotInitialized);
      return nullptr;
    }
    lower::CalleeReport inner;
    Record *style = Lookup(Names<Kind>::lookup.text, library, number, &inner);
    if (!style) {
      lower::ReportCallee(err, inner, reporter, 2, Names<Kind>::lookup.text);
      return nullptr;
    }
    if (Renderer *cached = Kind::Cache(*style)) return cached;
    Renderer *renderer = Get(reporter, toolkit, library, number, conversion, err, rendering);
    if (!renderer) return nullptr;
    Kind::Cache(*style) = renderer;
    library->evaluated = 1;
    return renderer;
  }

  static void Print(const Record *style) {
    efio_Printf("%s:\n", Kind::kName);
    if (!style) return;
    efio_Printf("   useCount - %ld\n", static_cast<long>(style->useCount));
    const char *name = Text(style->styleName), *description = Text(style->description);
    if (name)
      efio_Printf("   styleName - %s\n", name);
    else
      efio_Printf("   styleName - NULL\n");
    if (description)
      efio_Printf("   description - %s\n", description);
    else
      efio_Printf("   description - NULL\n");
    eant_StylePrint(style->baseStyle, nullptr);
    efio_Printf("   mask - %ld\n", static_cast<long>(style->mask));
    Kind::PrintParts(*style);
  }

  // Builds a style from a keyword list and adds it with unique 1.
  template <class... Keywords>
  static int32_t AddDefault(const char *reporter, Eant_StyleLibrary *library, const char *what,
                            Eerr_ErrorReport **err, Keywords... keywords) {
    lower::Clear(err);
    lower::CalleeReport inner;
    Record *style = Kind::kSetValues(nullptr, nullptr, nullptr, &inner, keywords...);
    if (!style) {
      lower::ReportChained(err, inner, reporter, 1, "Error returned from %sSetValues for %s", Kind::kPrefix,
                           what);
      return -1;
    }
    const int32_t number = AddToLibrary(Names<Kind>::addToLibrary.text, style, library, 1, &inner);
    if (inner) {
      Kind::Free(&style);
      lower::ReportChained(err, inner, reporter, 2, "Error returned from %sAddToLibrary for %s",
                           Kind::kPrefix, what);
      return -1;
    }
    return number;
  }
};

} // namespace

// The exported members of each kind's family, each a thin face over the template.
#define TAVIRON_EANT_FAMILY_FACES(KindName, Traits, Record, Target, CONV_PARAM, CONV_ARG)                    \
  int32_t eant_##KindName##Compare(const Record *a, const Record *b, Eerr_ErrorReport **err) try {           \
    lower::Clear(err);                                                                                       \
    return Family<Traits>::Equal(a, b) ? 1 : 0;                                                              \
  }                                                                                                          \
  TAVIRON_GUARD(err, 0)                                                                                      \
  void eant_##KindName##Print(const Record *style, Eerr_ErrorReport **err) try {                             \
    lower::Clear(err);                                                                                       \
    Family<Traits>::Print(style);                                                                            \
  }                                                                                                          \
  TAVIRON_GUARD_VOID(err)                                                                                    \
  Record *eant_##KindName##SetValues(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,              \
                                     Record *style, Eerr_ErrorReport **err, ...) try {                       \
    va_list ap;                                                                                              \
    va_start(ap, err);                                                                                       \
    Record *result = Family<Traits>::SetValues(__func__, toolkit, library, style, err, ap);                  \
    va_end(ap);                                                                                              \
    return result;                                                                                           \
  }                                                                                                          \
  TAVIRON_GUARD(err, nullptr)                                                                                \
  int32_t eant_##KindName##AddToList(Record *style, Edlm_List *list, int32_t unique,                         \
                                     Eerr_ErrorReport **err) try {                                           \
    return Family<Traits>::AddToList(__func__, style, list, unique, err);                                    \
  }                                                                                                          \
  TAVIRON_GUARD(err, 0)                                                                                      \
  void eant_##KindName##DeleteFromList(int32_t number, Edlm_List *list, Eerr_ErrorReport **err) try {        \
    Family<Traits>::DeleteFromList(__func__, number, list, err);                                             \
  }                                                                                                          \
  TAVIRON_GUARD_VOID(err)                                                                                    \
  int32_t eant_##KindName##AddToLibrary(Record *style, Eant_StyleLibrary *library, int32_t unique,           \
                                        Eerr_ErrorReport **err) try {                                        \
    return Family<Traits>::AddToLibrary(__func__, style, library, unique, err);                              \
  }                                                                                                          \
  TAVIRON_GUARD(err, 0)                                                                                      \
  void eant_##KindName##DeleteFromLibrary(int32_t number, Eant_StyleLibrary *library,                        \
                                          Eerr_ErrorReport **err) try {                                      \
    Family<Traits>::DeleteFromLibrary(__func__, number, library, err);                                       \
  }                                                                                                          \
  TAVIRON_GUARD_VOID(err)                                                                                    \
  void eant_##KindName##ReplaceInLibrary(Record *style, int32_t number, Eant_StyleLibrary *library,          \
                                         Eerr_ErrorReport **err) try {                                       \
    Family<Traits>::ReplaceInLibrary(__func__, style, number, library, err);                                 \
  }                                                                                                          \
  TAVIRON_GUARD_VOID(err)                                                                                    \
  Record *eant_##KindName##LookupInLibrary(Eant_StyleLibrary *library, int32_t number,                       \
                                           Eerr_ErrorReport **err) try {                                     \
    return Family<Traits>::Lookup(__func__, library, number, err);                                           \
  }                                                                                                          \
  TAVIRON_GUARD(err, nullptr)                                                                                \
  int32_t eant_##KindName##LookupInLibraryByName(Eant_StyleLibrary *library, const char *name,               \
                                                 Eerr_ErrorReport **err) try {                               \
    return Family<Traits>::ByName(__func__, library, name, err);                                             \
  }                                                                                                          \
  TAVIRON_GUARD(err, -1)                                                                                     \
  void eant_##KindName##IncrementUseCount(Eant_StyleLibrary *library, int32_t number,                        \
                                          Eerr_ErrorReport **err) try {                                      \
    Family<Traits>::IncrementUseCount(__func__, library, number, err);                                       \
  }                                                                                                          \
  TAVIRON_GUARD_VOID(err)                                                                                    \
  void eant_##KindName##IncrementUseCountByStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,  \
                                                 const Eant_Style *style, Eerr_ErrorReport **err) try {      \
    Family<Traits>::IncrementByStyle(__func__, toolkit, library, style, err);                                \
  }                                                                                                          \
  TAVIRON_GUARD_VOID(err)                                                                                    \
  Edlm_List *eant_##KindName##GetNamedFromList(Edlm_List *list, const char *fileNodeName,                    \
                                               Eerr_ErrorReport **err) try {                                 \
    return Family<Traits>::NamedFromList(__func__, list, fileNodeName, err);                                 \
  }                                                                                                          \
  TAVIRON_GUARD(err, nullptr)                                                                                \
  Edlm_List *eant_##KindName##GetNamedFromLibrary(Eant_AnnotationInfo *info, const char *fileNodeName,       \
                                                  Eerr_ErrorReport **err) try {                              \
    return Family<Traits>::NamedFromLibrary(__func__, info, fileNodeName, err);                              \
  }                                                                                                          \
  TAVIRON_GUARD(err, nullptr)                                                                                \
  void eant_##KindName##ListClearEvaluatedStyles(Edlm_List *list, Eerr_ErrorReport **err) try {              \
    Family<Traits>::ClearEvaluated(__func__, list, err);                                                     \
  }                                                                                                          \
  TAVIRON_GUARD_VOID(err)                                                                                    \
  Record *eant_##KindName##Evaluate(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,               \
                                    const Record *style, int32_t followExternal, Target *target CONV_PARAM,  \
                                    Eerr_ErrorReport **err) try {                                            \
    return Family<Traits>::Evaluate(__func__, toolkit, library, style, followExternal, target, CONV_ARG,     \
                                    err);                                                                    \
  }                                                                                                          \
  TAVIRON_GUARD(err, nullptr)                                                                                \
  Record *eant_##KindName##EvaluateFromStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,      \
                                             const Eant_Style *style, int32_t followExternal,                \
                                             Target *target CONV_PARAM, Eerr_ErrorReport **err) try {        \
    return Family<Traits>::EvaluateFromStyle(__func__, toolkit, library, style, followExternal, target,      \
                                             CONV_ARG, err);                                                 \
  }                                                                                                          \
  TAVIRON_GUARD(err, nullptr)                                                                                \
  int32_t eant_##KindName##CopyBetweenLibraries(int32_t number, Eant_StyleLibrary *source,                   \
                                                Eant_StyleLibrary *target, int32_t unique,                   \
                                                Eerr_ErrorReport **err) try {                                \
    return Family<Traits>::CopyBetween(__func__, number, source, target, unique, err);                       \
  }                                                                                                          \
  TAVIRON_GUARD(err, -1)                                                                                     \
  int32_t eant_##KindName##CopyBetweenLibs(int32_t number, Eant_StyleLibrary *source,                        \
                                           Eant_StyleLibrary *target, Eerr_ErrorReport **err) try {          \
    return Family<Traits>::CopyBetween(__func__, number, source, target, 1, err);                            \
  }                                                                                                          \
  TAVIRON_GUARD(err, -1)                                                                                     \
  void eant_##KindName##ReplaceBetweenLibraries(int32_t sourceNumber, Eant_StyleLibrary *source,             \
                                                int32_t targetNumber, Eant_StyleLibrary *target,             \
                                                Eerr_ErrorReport **err) try {                                \
    Family<Traits>::ReplaceBetween(__func__, sourceNumber, source, targetNumber, target, err);               \
  }                                                                                                          \
  TAVIRON_GUARD_VOID(err)                                                                                    \
  int32_t eant_##KindName##AddToLocalLibrary(Eant_AnnotationInfo *info, const Eant_Style *style,             \
                                             Eerr_ErrorReport **err) try {                                   \
    return Family<Traits>::AddToLocal(__func__, info, style, err);                                           \
  }                                                                                                          \
  TAVIRON_GUARD(err, 0)

namespace {

// Evaluates a numbered line style (following external bases) and measures it with measure
// (evaluated style, report) -> map units; 0 whenever something reports.
template <class Measure>
double MeasureLineStyle(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                        int32_t number, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err,
                        Measure measure) {
  lower::Clear(err);
  if (!toolkit) {
    lower::Report(err, reporter, 1, "%s", kToolkitNotInitialized);
    return 0;
  }
  lower::CalleeReport inner;
  const Eant_LineStyle *style = Family<LineFamily>::Lookup("eant_LineStyleLookup", library, number, &inner);
  if (!style) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_LineStyleLookup");
    return 0;
  }
  Eant_LineStyle *evaluated = Family<LineFamily>::Evaluate("eant_LineStyleEvaluate", toolkit, library, style, 1,
                                                           nullptr, conversion, &inner);
  if (!evaluated) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_LineStyleEvaluate");
    return 0;
  }
  const double value = measure(*evaluated, &inner);
  eant_LineStyleFree(&evaluated);
  if (!inner) return value;
  lower::PassOn(err, inner);
  return 0;
}

// The first overlaid line's width in map units, reported (code 4) when the style has none.
double FirstWidth(const Eant_LineStyle &style, Eant_CoordSysConversion *conversion, const char *reporter,
                  Eerr_ErrorReport **err) {
  if (style.overLines.count < 1 || !style.overLines.data) {
    lower::Report(err, reporter, 4, "Line style has no widths");
    return 0;
  }
  lower::CalleeReport inner;
  const double width = MapLength(conversion, style.styleUnits, style.overLines.data[0].width, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 5, "eant_CoordSysConversionScaleX");
  return width;
}

} // namespace

namespace {

// ---- Text styles -----------------------------------------------------------------------------

// A length in a text style's units as map units of the layer, carried through the map transform
// (unchanged without a conversion or units).
double TextLength(double (*scale)(Eant_CoordSysConversion *, const Eant_CoordDefinition *, double,
                                  Eerr_ErrorReport **),
                  Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *units, double value,
                  Eerr_ErrorReport **err) {
  if (!conversion || !units) return value;
  return scale(conversion, units, value, err);
}

struct TextFamily : TextStyles {
  using Target = Eevg_TextStyle;
  using Renderer = Eevg_TextStyle;
  static constexpr const char *kPrefix = "eant_TextStyle", *kName = "TextStyle";
  static constexpr auto kSetValues = eant_TextStyleSetValues;
  static constexpr uint32_t kBits = 0x7ffeu;
  static constexpr lower::Keyword kKeywords[] = {TAVIRON_EANT_COMMON_KEYWORDS,
                                                 {EANT_KEY_TEXTUNITS, {V::Int, V::Pointer}},
                                                 {EANT_KEY_FONTNAME, {V::Pointer}},
                                                 {EANT_KEY_TEXTSLANT, {V::Double}},
                                                 {EANT_KEY_TEXTCHSPACE, {V::Double}},
                                                 {EANT_KEY_TEXTLNSPACE, {V::Double}},
                                                 {EANT_KEY_TEXTCHEXT, {V::Double}},
                                                 {EANT_KEY_TEXTFILL, {V::Int}},
                                                 {EANT_KEY_UNDERLINE, {V::Int, V::Double}},
                                                 {EANT_KEY_UNDERLINESTYLE, {V::Int}},
                                                 {EANT_KEY_SHADOW, {V::Int, V::Double, V::Double}},
                                                 {EANT_KEY_SHADOWSTYLE, {V::Int}}};
  static constexpr lower::KeywordList kKeywordList{{kKeywords}, "Invalid keyword option for textStyle"};
  static void DropCache(Eant_TextStyle &style) { DropTextCache(style); }
  static Eevg_TextStyle *&Cache(Eant_TextStyle &style) { return style.renderStyle; }

  static bool Apply(Eant_TextStyle &style, int32_t code, const lower::KeywordValues &v, const char *reporter,
                    Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    switch (code) {
      case EANT_KEY_TEXTUNITS:
        if (!SetUnits(style.styleUnits, v.Int(0), v.Pointer<const char>(1), &inner)) break;
        style.mask |= EANT_TEXTSTYLE_STYLEUNITS;
        return true;
      case EANT_KEY_FONTNAME:
        if (!eant_CharStrCreate(v.Pointer<const char>(0), &style.fontName, &inner)) break;
        style.mask |= EANT_TEXTSTYLE_FONTNAME;
        return true;
      case EANT_KEY_TEXTSLANT:
        style.textSlant = v.Double(0);
        style.mask |= EANT_TEXTSTYLE_SLANT;
        return true;
      case EANT_KEY_TEXTCHSPACE:
        style.textChSpace = v.Double(0);
        style.mask |= EANT_TEXTSTYLE_CHSPACE;
        return true;
      case EANT_KEY_TEXTLNSPACE:
        style.textLnSpace = v.Double(0);
        style.mask |= EANT_TEXTSTYLE_LNSPACE;
        return true;
      case EANT_KEY_TEXTCHEXT:
        style.textChExt = v.Double(0);
        style.mask |= EANT_TEXTSTYLE_CHEXT;
        return true;
      case EANT_KEY_TEXTFILL:
        style.fillStyle = v.Int(0);
        style.mask |= EANT_TEXTSTYLE_FILLSTYLE;
        return true;
      case EANT_KEY_UNDERLINE:
        style.underline = v.Int(0);
        style.underlineDist = v.Double(1);
        style.mask |= EANT_TEXTSTYLE_UNDERLINE | EANT_TEXTSTYLE_UNDERLINEDIST;
        return true;
      case EANT_KEY_UNDERLINESTYLE:
        style.underlineStyle = v.Int(0);
        style.mask |= EANT_TEXTSTYLE_UNDERLINESTYLE;
        return true;
      case EANT_KEY_SHADOW:
        style.shadow = v.Int(0);
        style.textShadow.dx = v.Double(1);
        style.textShadow.dy = v.Double(2);
        style.mask |= EANT_TEXTSTYLE_SHADOW | EANT_TEXTSTYLE_SHADOWDX | EANT_TEXTSTYLE_SHADOWDY;
        return true;
      case EANT_KEY_SHADOWSTYLE:
        style.textShadow.style = v.Int(0);
        style.mask |= EANT_TEXTSTYLE_SHADOWSTYLE;
        return true;
      default:
        break;
    }
    lower::ReportChained(err, inner, reporter, 3, "Error setting keyword %d of textStyle", code);
    return false;
  }
  static void SwapPart(Eant_TextStyle &a, Eant_TextStyle &b, uint32_t bit) {
    switch (bit) {
      case EANT_TEXTSTYLE_STYLEUNITS:
        std::swap(a.styleUnits, b.styleUnits);
        break;
      case EANT_TEXTSTYLE_FONTNAME:
        std::swap(a.fontName, b.fontName);
        break;
      case EANT_TEXTSTYLE_SLANT:
        std::swap(a.textSlant, b.textSlant);
        break;
      case EANT_TEXTSTYLE_CHSPACE:
        std::swap(a.textChSpace, b.textChSpace);
        break;
      case EANT_TEXTSTYLE_LNSPACE:
        std::swap(a.textLnSpace, b.textLnSpace);
        break;
      case EANT_TEXTSTYLE_CHEXT:
        std::swap(a.textChExt, b.textChExt);
        break;
      case EANT_TEXTSTYLE_FILLSTYLE:
        std::swap(a.fillStyle, b.fillStyle);
        break;
      case EANT_TEXTSTYLE_UNDERLINE:
        std::swap(a.underline, b.underline);
        break;
      case EANT_TEXTSTYLE_UNDERLINESTYLE:
        std::swap(a.underlineStyle, b.underlineStyle);
        break;
      case EANT_TEXTSTYLE_UNDERLINEDIST:
        std::swap(a.underlineDist, b.underlineDist);
        break;
      case EANT_TEXTSTYLE_SHADOW:
        std::swap(a.shadow, b.shadow);
        break;
      case EANT_TEXTSTYLE_SHADOWSTYLE:
        std::swap(a.textShadow.style, b.textShadow.style);
        break;
      case EANT_TEXTSTYLE_SHADOWDX:
        std::swap(a.textShadow.dx, b.textShadow.dx);
        break;
      case EANT_TEXTSTYLE_SHADOWDY:
        std::swap(a.textShadow.dy, b.textShadow.dy);
        break;
      default:
        break;
    }
  }
  static bool Equal(const Eant_TextStyle &a, const Eant_TextStyle &b) {
    Eant_TextStyle x = a, y = b;
    x.useCount = y.useCount = 0;
    x.flags = y.flags = 0;
    return record::Equal(kTextStyle2Memory, &x, &y);
  }
  // At the root of a chain: output units without a unit name, the default font, plain spacing,
  // no underline and no shadow. The numbers of other styles and the lengths keep what is stored.
  static bool Defaults(Eant_TextStyle &style, Eerr_ErrorReport **err) {
    if (!(style.mask & EANT_TEXTSTYLE_STYLEUNITS) && !SetUnits(style.styleUnits, EEVG_OUTPUT, nullptr, err))
      return false;
    if (!(style.mask & EANT_TEXTSTYLE_FONTNAME) && !eant_CharStrCreate(kDefaultFont, &style.fontName, err))
      return false;
    if (!(style.mask & EANT_TEXTSTYLE_SLANT)) style.textSlant = 0.0;
    if (!(style.mask & EANT_TEXTSTYLE_CHSPACE)) style.textChSpace = 1.0;
    if (!(style.mask & EANT_TEXTSTYLE_LNSPACE)) style.textLnSpace = 0.0;
    if (!(style.mask & EANT_TEXTSTYLE_CHEXT)) style.textChExt = 1.0;
    if (!(style.mask & EANT_TEXTSTYLE_UNDERLINE)) style.underline = EMSC_FALSE;
    if (!(style.mask & EANT_TEXTSTYLE_SHADOW)) style.shadow = EMSC_FALSE;
    style.mask |= EANT_TEXTSTYLE_STYLEUNITS | EANT_TEXTSTYLE_FONTNAME | EANT_TEXTSTYLE_SLANT |
                  EANT_TEXTSTYLE_CHSPACE | EANT_TEXTSTYLE_LNSPACE | EANT_TEXTSTYLE_CHEXT | EANT_TEXTSTYLE_UNDERLINE |
                  EANT_TEXTSTYLE_SHADOW;
    return true;
  }
  // Each level copies the font and spacings, and turns the style numbers it sets itself into
  // renderer objects of its own library (the bits are cleared once built, so that an outer level
  // builds only what it overrides).
  // The drawing forms (rendering given) build the character fill for the drawing.
  static bool FillTarget(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, Eant_TextStyle &style,
                         Eevg_TextStyle *target, Eant_CoordSysConversion *conversion, const Rendering *rendering,
                         const char *reporter, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    char *font = Text(style.fontName) ? estr_Duplicate(Text(style.fontName)) : nullptr;
    if (!font) {
      lower::Report(err, reporter, 7, "Error duplicating fontName");
      return false;
    }
    emsc_HeapFree(target->fontName);
    target->fontName = font;
    target->textSlant = style.textSlant;
    target->textChSpace = style.textChSpace;
    target->textChExt = style.textChExt;
    target->textLnSpace = style.textLnSpace;
    if (style.mask & EANT_TEXTSTYLE_FILLSTYLE) {
      eevg_FillStyleFree(&target->charFillStyle);
      if (style.fillStyle != -1 &&
          !(target->charFillStyle =
                rendering ? eant_GetFillStyleForRendering(toolkit, rendering->drawing, conversion, library,
                                                          rendering->symbols, style.fillStyle, &inner)
                          : eant_GetFillStyle(toolkit, library, style.fillStyle, conversion, &inner))) {
        lower::ReportCallee(err, inner, reporter, 7,
                            rendering ? "eant_GetFillStyleForRendering" : "eant_GetFillStyle");
        return false;
      }
      style.mask &= ~EANT_TEXTSTYLE_FILLSTYLE;
    }
    target->underline = style.underline;
    if (style.underline == EMSC_TRUE && (style.mask & EANT_TEXTSTYLE_UNDERLINESTYLE)) {
      eevg_LineStyleFree(&target->underlineStyle);
      if (style.underlineStyle != -1 &&
          !(target->underlineStyle =
                eant_GetLineStyle(toolkit, library, style.underlineStyle, conversion, &inner))) {
        lower::ReportCallee(err, inner, reporter, 7, "eant_GetLineStyle");
        return false;
      }
      style.mask &= ~EANT_TEXTSTYLE_UNDERLINESTYLE;
    }
    target->shadow = style.shadow;
    if (style.shadow == EMSC_TRUE && (style.mask & EANT_TEXTSTYLE_SHADOWSTYLE)) {
      Eevg_FillStyle *fill = eant_GetFillStyle(toolkit, library, style.textShadow.style, conversion, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 7, "eant_GetFillStyle");
        return false;
      }
      if (!fill || !fill->pattern) {
        eevg_FillStyleFree(&fill);
        lower::Report(err, reporter, 7, "Text shadow style has no fill pattern");
        return false;
      }
      eevg_FillPatternFree(&target->shadowPattern);
      target->shadowPattern = std::exchange(fill->pattern, nullptr);
      eevg_FillStyleFree(&fill);
      style.mask &= ~EANT_TEXTSTYLE_SHADOWSTYLE;
    }
    return true;
  }
  static Eevg_TextStyle *NewRenderer(Eerr_ErrorReport **err) { return eevg_TextStyleCreate(err); }
  static void FreeRenderer(Eevg_TextStyle **renderer) { eevg_TextStyleFree(renderer); }
  static Eevg_TextStyle *TargetOf(Eevg_TextStyle *renderer) { return renderer; }
  // The lengths in map units of the layer: the underline's distance and the shadow's offset.
  static bool Complete(Eint_InitToolkitData *, Eant_StyleLibrary *, Eant_TextStyle &style, Eevg_TextStyle *renderer,
                       Eant_CoordSysConversion *conversion, const char *reporter, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    renderer->underlineDist =
        TextLength(eant_CoordSysConversionScaleAndTransformY, conversion, style.styleUnits, style.underlineDist, &inner);
    if (!inner)
      renderer->dropShadowX =
          TextLength(eant_CoordSysConversionScaleAndTransformX, conversion, style.styleUnits, style.textShadow.dx, &inner);
    if (!inner)
      renderer->dropShadowY =
          TextLength(eant_CoordSysConversionScaleAndTransformY, conversion, style.styleUnits, style.textShadow.dy, &inner);
    if (!inner) return true;
    lower::ReportCallee(err, inner, reporter, 6, "eant_CoordSysConversionScaleAndTransform");
    return false;
  }
  // The character fill, the underline and the shadow's fill move with the text style: a copy
  // moves those in use with the caller's flag, a replacement every one that is set with 0.
  static bool Move(Eant_TextStyle &style, Eant_StyleLibrary *source, Eant_StyleLibrary *target, int32_t unique,
                   bool replace, const char *reporter, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    const int32_t flag = replace ? 0 : unique;
    if (style.fillStyle != -1) {
      style.fillStyle = eant_FillStyleCopyBetweenLibraries(style.fillStyle, source, target, flag, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 4, "eant_FillStyleCopyBetweenLibraries for fillStyle");
        return false;
      }
    }
    if (style.underlineStyle != -1 && (replace || style.underline == EMSC_TRUE)) {
      style.underlineStyle =
          eant_LineStyleCopyBetweenLibraries(style.underlineStyle, source, target, flag, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 5, "eant_LineStyleCopyBetweenLibraries for underlineStyle");
        return false;
      }
    }
    if (style.textShadow.style != -1 && (replace || style.shadow == EMSC_TRUE)) {
      style.textShadow.style =
          eant_FillStyleCopyBetweenLibraries(style.textShadow.style, source, target, flag, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 4, "eant_FillStyleCopyBetweenLibraries for shadow style");
        return false;
      }
    }
    return true;
  }
  static void PrintParts(const Eant_TextStyle &style) {
    eant_CoordDefinitionPrint(style.styleUnits, nullptr);
    if (Text(style.fontName))
      efio_Printf("   fontName - %s\n", Text(style.fontName));
    else
      efio_Printf("   fontName - NULL\n");
    efio_Printf("   textSlant - %lg\n   textChSpace - %lg\n   textLnSpace - %lg\n   textChExt - %lg\n",
                style.textSlant, style.textChSpace, style.textLnSpace, style.textChExt);
    efio_Printf("   fillStyle - %ld\n", static_cast<long>(style.fillStyle));
    efio_Printf(style.underline == EMSC_TRUE ? "   underline - true\n" : "   underline - false\n");
    efio_Printf("   underlineStyle - %ld\n   underlineDist - %lg\n", static_cast<long>(style.underlineStyle),
                style.underlineDist);
    efio_Printf(style.shadow == EMSC_TRUE ? "   shadow - true\n" : "   shadow - false\n");
    efio_Printf("      dx - %lg\n      dy - %lg\n   textShadow style - %ld\n", style.textShadow.dx,
                style.textShadow.dy, static_cast<long>(style.textShadow.style));
  }
  static constexpr const char *kDefaultFont = "galaxy.otl";
};

} // namespace

#define TAVIRON_EANT_NO_CONVERSION
#define TAVIRON_EANT_CONVERSION , Eant_CoordSysConversion *conversion

extern "C" {

TAVIRON_EANT_FAMILY_FACES(Color, ColorFamily, Eant_Color, Eevg_Color, TAVIRON_EANT_NO_CONVERSION, nullptr)
TAVIRON_EANT_FAMILY_FACES(FillStyle, FillFamily, Eant_FillStyle, Eevg_FillStyle, TAVIRON_EANT_CONVERSION,
                          conversion)
TAVIRON_EANT_FAMILY_FACES(LineStyle, LineFamily, Eant_LineStyle, Eevg_LineComposition,
                          TAVIRON_EANT_CONVERSION, conversion)
TAVIRON_EANT_FAMILY_FACES(TextStyle, TextFamily, Eant_TextStyle, Eevg_TextStyle, TAVIRON_EANT_CONVERSION,
                          conversion)

Eevg_Color *eant_GetColor(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                          Eerr_ErrorReport **err) try {
  return Family<ColorFamily>::Get(__func__, toolkit, library, number, nullptr, err);
}
TAVIRON_GUARD(err, nullptr)

Eevg_Color *eant_GetColorPtr(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                             Eerr_ErrorReport **err) try {
  return Family<ColorFamily>::Ptr(__func__, toolkit, library, number, nullptr, err);
}
TAVIRON_GUARD(err, nullptr)

Eevg_FillStyle *eant_GetFillStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  return Family<FillFamily>::Get(__func__, toolkit, library, number, conversion, err);
}
TAVIRON_GUARD(err, nullptr)

Eevg_FillPattern *eant_GetFillPattern(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                      const Eant_FillPattern *pattern, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetFillPattern";
  lower::Clear(err);
  if (!pattern) return nullptr;
  lower::CalleeReport inner;
  Eevg_FillPattern *made = eevg_FillPatternCreate(&inner);
  if (!made) {
    lower::ReportCallee(err, inner, reporter, 1, "eevg_FillPatternCreate");
    return nullptr;
  }
  made->usePattern = pattern->patternFill == 1 ? 1 : 0;
  if (pattern->color != -1 && !(made->color = eant_GetColor(toolkit, library, pattern->color, &inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_GetColor");
    eevg_FillPatternFree(&made);
  }
  return made;
}
TAVIRON_GUARD(err, nullptr)

Eevg_LineStyle *eant_GetLineStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  return Family<LineFamily>::Get(__func__, toolkit, library, number, conversion, err);
}
TAVIRON_GUARD(err, nullptr)

Eevg_LineStyle *eant_GetLineStylePtr(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                     int32_t number, Eant_CoordSysConversion *conversion,
                                     Eerr_ErrorReport **err) try {
  return Family<LineFamily>::Ptr(__func__, toolkit, library, number, conversion, err);
}
TAVIRON_GUARD(err, nullptr)

int32_t eant_ColorSetIgnoreOpacityForEevg(int32_t flag) try {
  ignoreOpacity.store(flag, std::memory_order_relaxed);
  return flag;
}
TAVIRON_GUARD_QUIET(flag)

void eant_ColorCreateDefault(Eant_StyleLibrary *library, const Eevg_Color *color,
                             Eerr_ErrorReport **err) try {
  Family<ColorFamily>::AddDefault(__func__, library, "black", err, EANT_KEY_STYLENAME, "default color",
                                  EANT_KEY_RGB, color ? color->red : 0, color ? color->green : 0,
                                  color ? color->blue : 0, EANT_KEY_OPACITY, 1.0, EANT_KEY_END);
}
TAVIRON_GUARD_VOID(err)

void eant_ColorCreateDefaultWithOpacity(Eant_StyleLibrary *library, const Eevg_Color *color,
                                        Eerr_ErrorReport **err) try {
  Family<ColorFamily>::AddDefault(__func__, library, "black", err, EANT_KEY_STYLENAME, "default color",
                                  EANT_KEY_RGB, color ? color->red : 0, color ? color->green : 0,
                                  color ? color->blue : 0, EANT_KEY_OPACITY,
                                  color ? color->opacity / 255.0 : 1.0, EANT_KEY_END);
}
TAVIRON_GUARD_VOID(err)

void eant_FillStyleCreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  Family<FillFamily>::AddDefault(__func__, library, "default", err, EANT_KEY_STYLENAME,
                                 "Filled default color", EANT_KEY_FILL, 1, 0, EANT_KEY_TRACE, 0, -1,
                                 EANT_KEY_END);
}
TAVIRON_GUARD_VOID(err)

int32_t eant_FillStyleCreateOutlineDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  return Family<FillFamily>::AddDefault(__func__, library, "outline", err, EANT_KEY_STYLENAME,
                                        "Filled default color", EANT_KEY_FILL, 0, -1, EANT_KEY_TRACE, 1, 0,
                                        EANT_KEY_END);
}
TAVIRON_GUARD(err, -1)

void eant_LineStyleCreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  Family<LineFamily>::AddDefault(__func__, library, "default", err, EANT_KEY_STYLENAME,
                                 "Medium solid default color line", EANT_KEY_STYLEUNITS, EEVG_OUTPUT,
                                 "points", EANT_KEY_OVERLINE, 0, 2.0, 0, EANT_KEY_LINEPATTERN, 0, 1.0, 0.0,
                                 EANT_KEY_END);
}
TAVIRON_GUARD_VOID(err)

Eant_LineComposition *eant_LineCompositionCreate(int32_t count, Eant_LineComposition *composition,
                                                 Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineCompositionCreate";
  lower::Clear(err);
  if (!composition) {
    lower::Report(err, reporter, 1, "Invalid output Eant_LineComposition");
    return nullptr;
  }
  if (count < 0) {
    lower::Report(err, reporter, 2, "Count is less than 0");
    return nullptr;
  }
  if (count == 0 || composition->count != count || !composition->data) {
    eant_LineCompositionFree(composition);
    if (count == 0) return composition;
    if (count > kMaxLinePosition + 1 || !(composition->data = lower::HeapNewArray<Eant_LineDescription>(count))) {
      lower::Report(err, reporter, 3, "Error allocating lineComp->data");
      return nullptr;
    }
    composition->count = count;
  }
  for (int32_t i = 0; i < count; ++i) composition->data[i] = {-1, 0.0};
  return composition;
}
TAVIRON_GUARD(err, nullptr)

Eant_LineComposition *eant_LineCompositionSetValues(Eant_LineComposition *composition, int32_t position,
                                                    double width, int32_t color, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineCompositionSetValues";
  lower::Clear(err);
  if (!composition) {
    lower::Report(err, reporter, 1, "Invalid input Eant_LineComposition");
    return nullptr;
  }
  if (position < 0 || position > kMaxLinePosition) {
    lower::Report(err, reporter, 2, "Invalid input position");
    return nullptr;
  }
  return PutLine(*composition, position, width, color, reporter, err) ? composition : nullptr;
}
TAVIRON_GUARD(err, nullptr)

Eant_LineComposition *eant_LineCompositionCopy(const Eant_LineComposition *source,
                                               Eant_LineComposition *target, int32_t shrink,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineCompositionCopy";
  lower::Clear(err);
  if (!source || !ValidComposition(*source)) {
    lower::Report(err, reporter, 1, "Invalid input Eant_LineComposition");
    return nullptr;
  }
  if (!target) {
    lower::Report(err, reporter, 2, "Invalid output Eant_LineComposition");
    return nullptr;
  }
  if (source == target) return target;
  if (target->count < source->count || (shrink && target->count > source->count) || !ValidComposition(*target)) {
    lower::CalleeReport inner;
    if (!eant_LineCompositionCreate(source->count, target, &inner)) {
      lower::ReportCallee(err, inner, reporter, 3, "eant_LineCompositionCreate");
      return nullptr;
    }
  }
  for (int32_t i = 0; i < source->count; ++i) target->data[i] = source->data[i];
  return target;
}
TAVIRON_GUARD(err, nullptr)

int32_t eant_LineCompositionCompare(const Eant_LineComposition *a, const Eant_LineComposition *b,
                                    Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineCompositionCompare";
  lower::Clear(err);
  if (!a || !b) return a == b ? 1 : 0;
  if (!ValidComposition(*a)) {
    lower::Report(err, reporter, 1, "First input lineComposition is not valid");
    return 0;
  }
  if (!ValidComposition(*b)) {
    lower::Report(err, reporter, 2, "Second input lineComposition is not valid");
    return 0;
  }
  if (a->count != b->count) return 0;
  for (int32_t i = 0; i < a->count; ++i)
    if (a->data[i].color != b->data[i].color || a->data[i].width != b->data[i].width) return 0;
  return 1;
}
TAVIRON_GUARD(err, 0)

void eant_LineCompositionPrint(const Eant_LineComposition *composition, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!composition || !ValidComposition(*composition)) {
    lower::Report(err, "eant_LineCompositionPrint", 1, "Invalid input Eant_LineComposition");
    return;
  }
  PrintComposition(*composition);
}
TAVIRON_GUARD_VOID(err)

Eevg_LineComposition *eant_GetLineComposition(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                              const Eant_LineComposition *composition, Eevg_LineComposition *target,
                                              const Eant_CoordDefinition *units, Eant_CoordSysConversion *conversion,
                                              Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetLineComposition";
  lower::Clear(err);
  if (!composition || !ValidComposition(*composition)) {
    lower::Report(err, reporter, 1, "Invalid input antLineComp");
    return nullptr;
  }
  if (!target) {
    lower::Report(err, reporter, 2, "Invalid input eevgLineComp");
    return nullptr;
  }
  lower::CalleeReport inner;
  if (target->count != composition->count && !eevg_LineCompositionCreate(composition->count, target, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "eevg_LineCompositionCreate");
    return nullptr;
  }
  if (target->count > 0 && !target->data) {
    lower::Report(err, reporter, 4, "No data allocated for eevgLineComp");
    return nullptr;
  }
  for (int32_t i = 0; i < composition->count; ++i) {
    const Eant_LineDescription &line = composition->data[i];
    Eevg_LineDescription &out = target->data[i];
    out.width = MapLength(conversion, units, line.width, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 5, "eant_CoordSysConversionScaleX");
      return nullptr;
    }
    eevg_ColorFree(&out.color);
    if (line.color != -1 && !(out.color = eant_GetColor(toolkit, library, line.color, &inner))) {
      lower::ReportCallee(err, inner, reporter, 6, "eant_GetColor");
      return nullptr;
    }
  }
  return target;
}
TAVIRON_GUARD(err, nullptr)

Eevg_LinePattern *eant_GetLinePattern(const Eevg_LinePattern *pattern, Eevg_LinePattern *target,
                                      const Eant_CoordDefinition *units, Eant_CoordSysConversion *conversion,
                                      Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetLinePattern";
  lower::Clear(err);
  if (!pattern || pattern->count < 0 || (pattern->count > 0 && !pattern->data)) {
    lower::Report(err, reporter, 1, "Invalid input inLinePattern");
    return nullptr;
  }
  if (!target) {
    lower::Report(err, reporter, 2, "Invalid input outLinePattern");
    return nullptr;
  }
  lower::CalleeReport inner;
  if (target->count != pattern->count && !eevg_LinePatternCreate(pattern->count, target, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "eevg_LinePatternCreate");
    return nullptr;
  }
  if (target->count > 0 && !target->data) {
    lower::Report(err, reporter, 4, "No data allocated for outLinePattern");
    return nullptr;
  }
  for (int32_t i = 0; i < pattern->count; ++i) {
    target->data[i].lineMark = MapLength(conversion, units, pattern->data[i].lineMark, &inner);
    if (!inner) target->data[i].lineSpace = MapLength(conversion, units, pattern->data[i].lineSpace, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 5, "eant_CoordSysConversionScaleX");
      return nullptr;
    }
  }
  return target;
}
TAVIRON_GUARD(err, nullptr)

Eevg_ArrowEnd *eant_GetArrowEnd(const Eevg_ArrowEnd *arrowEnd, const Eant_CoordDefinition *units,
                                Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetArrowEnd";
  lower::Clear(err);
  if (!arrowEnd) return nullptr;
  lower::CalleeReport inner;
  Eevg_ArrowEnd *copy = eevg_ArrowEndCopy(arrowEnd, nullptr, &inner);
  if (!copy) {
    lower::ReportCallee(err, inner, reporter, 1, "eevg_ArrowEndCopy");
    return nullptr;
  }
  copy->length = MapLength(conversion, units, arrowEnd->length, &inner);
  if (inner) {
    eevg_ArrowEndFree(&copy);
    lower::ReportCallee(err, inner, reporter, 2, "eant_CoordSysConversionScaleX");
  }
  return copy;
}
TAVIRON_GUARD(err, nullptr)

Eant_LineDescription *eant_LineDescriptionCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *line = lower::HeapNew<Eant_LineDescription>();
  if (!line) {
    lower::Report(err, "eant_LineDescriptionCreate", 1, "Error allocating LineDescription");
    return nullptr;
  }
  *line = {-1, 0.0};
  return line;
}
TAVIRON_GUARD(err, nullptr)

Eant_LineDescription *eant_LineDescriptionCopy(const Eant_LineDescription *source, Eant_LineDescription *target,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineDescriptionCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_LineDescription");
    return nullptr;
  }
  lower::CalleeReport inner;
  if (!target && !(target = eant_LineDescriptionCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_LineDescriptionCreate");
    return nullptr;
  }
  *target = *source;
  return target;
}
TAVIRON_GUARD(err, nullptr)

int32_t eant_LineDescriptionCompare(const Eant_LineDescription *a, const Eant_LineDescription *b,
                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!a || !b) return a == b ? 1 : 0;
  return a->color == b->color && a->width == b->width ? 1 : 0;
}
TAVIRON_GUARD(err, 0)

void eant_LineDescriptionPrint(const Eant_LineDescription *description, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!description) {
    lower::Report(err, "eant_LineDescriptionPrint", 1, "Invalid input Eant_LineDescription");
    return;
  }
  PrintDescription(*description);
}
TAVIRON_GUARD_VOID(err)

void eant_LineDescriptionFree(Eant_LineDescription **description) try {
  if (description) emsc_HeapFreeEx(description);
}
TAVIRON_GUARD_QUIET_VOID

double eant_LineStyleGetWidth(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                              Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineStyleGetWidth";
  return MeasureLineStyle(reporter, toolkit, library, number, conversion, err,
                          [&](const Eant_LineStyle &style, Eerr_ErrorReport **out) {
                            return FirstWidth(style, conversion, reporter, out);
                          });
}
TAVIRON_GUARD(err, 0)

double eant_LineStyleGetArrowWingLength(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                        int32_t number, Eant_CoordSysConversion *conversion,
                                        Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineStyleGetArrowWingLength";
  return MeasureLineStyle(reporter, toolkit, library, number, conversion, err,
                          [&](const Eant_LineStyle &style, Eerr_ErrorReport **out) -> double {
                            if (style.startLineEnd != EEVG_ARROW_END && style.endLineEnd != EEVG_ARROW_END)
                              return 0;
                            if (!style.arrowEnd) {
                              lower::Report(out, reporter, 4, "Line style has no arrowEnd");
                              return 0;
                            }
                            lower::CalleeReport inner;
                            const double length =
                                MapLength(conversion, style.styleUnits, style.arrowEnd->length, &inner);
                            if (inner) lower::ReportCallee(out, inner, reporter, 5, "eant_CoordSysConversionScaleX");
                            return length * std::sin(style.arrowEnd->tipAngle);
                          });
}
TAVIRON_GUARD(err, 0)

double eant_LineStyleGetMitreLength(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                    Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineStyleGetMitreLength";
  return MeasureLineStyle(reporter, toolkit, library, number, conversion, err,
                          [&](const Eant_LineStyle &style, Eerr_ErrorReport **out) -> double {
                            if (style.lineJoin != EEVG_MITRE_JOIN) return 0;
                            const Eant_InitData *package = PackageData(toolkit);
                            if (!package) {
                              lower::Report(out, reporter, 6, "%s", kPackageNotInitialized);
                              return 0;
                            }
                            return FirstWidth(style, conversion, reporter, out) * package->mitreLimit;
                          });
}
TAVIRON_GUARD(err, 0)

double eant_LineStyleGetSymbolScaleAndOffset(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                             int32_t number, Eant_CoordSysConversion *conversion,
                                             Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineStyleGetSymbolScaleAndOffset";
  return MeasureLineStyle(reporter, toolkit, library, number, conversion, err,
                          [&](const Eant_LineStyle &style, Eerr_ErrorReport **out) -> double {
                            if (style.useSymbol != 1 || !style.lineSymbol) return 0;
                            const Eant_LineSymbol &symbol = *style.lineSymbol;
                            lower::CalleeReport inner;
                            const double offset = MapLength(conversion, symbol.positionUnits, symbol.offset, &inner);
                            const double scale =
                                inner ? 0 : MapLength(conversion, symbol.scaleUnits, symbol.scale, &inner);
                            if (inner) lower::ReportCallee(out, inner, reporter, 5, "eant_CoordSysConversionScaleX");
                            return std::fabs(offset) + scale / 2;
                          });
}
TAVIRON_GUARD(err, 0)

void eant_ModifyBboxByLineStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                Eant_CoordSysConversion *conversion, Egda_BaseData *bbox, int32_t withArrows,
                                int32_t withMitre, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ModifyBboxByLineStyle";
  lower::Clear(err);
  if (!IsCorners(bbox)) {
    lower::Report(err, reporter, 1, "Invalid input bounding box");
    return;
  }
  lower::CalleeReport inner;
  double d = eant_LineStyleGetWidth(toolkit, library, number, conversion, &inner) / 2;
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_LineStyleGetWidth");
    return;
  }
  if (withArrows == 1) {
    d = std::max(d, eant_LineStyleGetArrowWingLength(toolkit, library, number, conversion, &inner));
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 3, "eant_LineStyleGetArrowWingLength");
      return;
    }
  }
  if (withMitre == 1) {
    d = std::max(d, eant_LineStyleGetMitreLength(toolkit, library, number, conversion, &inner) / 2);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 4, "eant_LineStyleGetMitreLength");
      return;
    }
  }
  d = std::max(d, eant_LineStyleGetSymbolScaleAndOffset(toolkit, library, number, conversion, &inner));
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 5, "eant_LineStyleGetSymbolScaleAndOffset");
    return;
  }
  double angle = 0, cx = 0, cy = 0;
  const MatrixPtr ortho(eant_OrthoBboxAtOrigin(bbox, &angle, &cx, &cy, &inner));
  if (!ortho) {
    lower::ReportCallee(err, inner, reporter, 6, "eant_OrthoBboxAtOrigin");
    return;
  }
  constexpr double kSide[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
  for (int32_t c = 0; c < 4; ++c) {
    lower::At<double>(*ortho, 0, c) += kSide[c][0] * d;
    lower::At<double>(*ortho, 1, c) += kSide[c][1] * d;
  }
  if (!eant_RotateAndTranslateBbox(ortho.get(), angle, cx, cy, bbox, &inner))
    lower::ReportCallee(err, inner, reporter, 7, "eant_RotateAndTranslateBbox");
}
TAVIRON_GUARD_VOID(err)

void eant_ModifyBboxByFillStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                Eant_CoordSysConversion *conversion, Egda_BaseData *bbox, int32_t withMitre,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ModifyBboxByFillStyle";
  lower::Clear(err);
  if (!toolkit) {
    lower::Report(err, reporter, 1, "%s", kToolkitNotInitialized);
    return;
  }
  lower::CalleeReport inner;
  const Eant_FillStyle *style = Family<FillFamily>::Lookup("eant_FillStyleLookup", library, number, &inner);
  if (!style) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_FillStyleLookup");
    return;
  }
  Eant_FillStyle *evaluated = Family<FillFamily>::Evaluate("eant_FillStyleEvaluate", toolkit, library, style, 1,
                                                           nullptr, conversion, &inner);
  if (!evaluated) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_FillStyleEvaluate");
    return;
  }
  const bool traced = evaluated->trace == 1;
  const int32_t traceStyle = evaluated->traceStyle;
  eant_FillStyleFree(&evaluated);
  if (!traced) return;
  eant_ModifyBboxByLineStyle(toolkit, library, traceStyle, conversion, bbox, 0, withMitre, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 4, "eant_ModifyBboxByLineStyle");
}
TAVIRON_GUARD_VOID(err)

Eant_LineSymbol *eant_LineSymbolSetValues(Eant_LineSymbol *symbol, int32_t scaleCoordSys, const char *scaleUnits,
                                          int32_t positionCoordSys, const char *positionUnits, double scale,
                                          double spacing, double offset, int32_t effect, Eant_Style *reference,
                                          int32_t colorOverrideFlag, int32_t overrideColor,
                                          Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineSymbolSetValues";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_LineSymbol *made = nullptr;
  if (!symbol && !(symbol = made = eant_LineSymbolCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_LineSymbolCreate");
    return nullptr;
  }
  const char *failed = !SetUnits(symbol->scaleUnits, scaleCoordSys, scaleUnits, &inner) ? "scaleUnits"
                       : !SetUnits(symbol->positionUnits, positionCoordSys, positionUnits, &inner)
                           ? "positionUnits"
                           : nullptr;
  if (failed) {
    lower::ReportChained(err, inner, reporter, 2, "Error returned from eant_CoordDefinitionSetValues for %s",
                         failed);
    eant_LineSymbolFree(&made);
    return nullptr;
  }
  symbol->scale = scale;
  symbol->spacing = spacing;
  symbol->offset = offset;
  symbol->effect = effect;
  if (symbol->symbol != reference) eant_StyleFree(&symbol->symbol);
  symbol->symbol = reference; // taken over, not copied
  symbol->colorOverrideFlag = colorOverrideFlag;
  symbol->overrideColor = overrideColor;
  return symbol;
}
TAVIRON_GUARD(err, nullptr)

int32_t eant_LineSymbolCompare(const Eant_LineSymbol *a, const Eant_LineSymbol *b, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!a || !b) return a == b ? 1 : 0;
  return SameUnits(a->scaleUnits, b->scaleUnits) && SameUnits(a->positionUnits, b->positionUnits) &&
                 a->scale == b->scale && a->spacing == b->spacing && a->offset == b->offset &&
                 a->effect == b->effect && a->colorOverrideFlag == b->colorOverrideFlag &&
                 a->overrideColor == b->overrideColor && eant_StyleCompare(a->symbol, b->symbol, nullptr) == 1
             ? 1
             : 0;
}
TAVIRON_GUARD(err, 0)

void eant_LineSymbolPrint(const Eant_LineSymbol *symbol, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineSymbolPrint";
  lower::Clear(err);
  efio_Printf("LineSymbol:\n");
  if (!symbol) return;
  lower::CalleeReport inner;
  eant_CoordDefinitionPrint(symbol->scaleUnits, &inner);
  if (!inner) eant_CoordDefinitionPrint(symbol->positionUnits, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_CoordDefinitionPrint");
    return;
  }
  efio_Printf("   scale - %lg\n   spacing - %lg\n   offset - %lg\n   effect - %d\n", symbol->scale,
              symbol->spacing, symbol->offset, symbol->effect);
  eant_StylePrint(symbol->symbol, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_StylePrint");
    return;
  }
  efio_Printf("   colorOverrideFlag - %s\n   overrideColor - %ld\n", symbol->colorOverrideFlag == 1 ? "true" : "false",
              static_cast<long>(symbol->overrideColor));
}
TAVIRON_GUARD_VOID(err)

_exfr_XForm *eant_LineSymbolEffectMakeTransform(int32_t effect, double x, double y, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LineSymbolEffectMakeTransform";
  lower::Clear(err);
  // Quarter turns about (x, y); any other value draws the symbol as it is.
  if (effect < EANT_LINESYMBOL_ROTATE90 || effect > EANT_LINESYMBOL_ROTATE270) return nullptr;
  const double angle = effect * (M_PI / 2);
  lower::CalleeReport inner;
  const PolynomialPtr away(eant_TranslatePolynomialCreate(nullptr, -x, -y, &inner));
  if (!away) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_TranslatePolynomialCreate");
    return nullptr;
  }
  const PolynomialPtr turn(eant_RotatePolynomialCreate(nullptr, angle, &inner));
  if (!turn) {
    lower::ReportChained(err, inner, reporter, 2, "Error creating effect polynomial");
    return nullptr;
  }
  const PolynomialPtr back(eant_TranslatePolynomialCreate(nullptr, x, y, &inner));
  if (!back) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_TranslatePolynomialCreate");
    return nullptr;
  }
  const PolynomialPtr turned(efga_PolynomialComposition(turn.get(), away.get(), &inner));
  const PolynomialPtr whole(turned ? efga_PolynomialComposition(back.get(), turned.get(), &inner) : nullptr);
  if (!whole) {
    lower::ReportCallee(err, inner, reporter, 4, "efga_PolynomialComposition");
    return nullptr;
  }
  _exfr_XForm *transform = exfr_XFormCreateFromAffinePoly(whole.get(), &inner);
  if (!transform) lower::ReportCallee(err, inner, reporter, 5, "exfr_XFormCreateFromAffinePoly");
  return transform;
}
TAVIRON_GUARD(err, nullptr)

} // extern "C"

// ---- Text styles for drawing -------------------------------------------------------------------
// The character fill is the fill style's renderer object of the style's library made for the
// drawing (a pattern tile drawn with the symbol library).

extern "C" {

void eant_TextStyleCreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  const int32_t fill = Family<FillFamily>::AddDefault(__func__, library, "default", &inner, EANT_KEY_STYLENAME,
                                                      "Filled default color", EANT_KEY_FILL, 1, 0, EANT_KEY_TRACE, 0,
                                                      -1, EANT_KEY_END);
  if (inner) {
    lower::PassOn(err, inner);
    return;
  }
  Family<TextFamily>::AddDefault(__func__, library, "default", err, EANT_KEY_STYLENAME, "Solid default color Zorude",
                                 EANT_KEY_TEXTUNITS, EEVG_OUTPUT, "points", EANT_KEY_FONTNAME,
                                 TextFamily::kDefaultFont, EANT_KEY_TEXTFILL, fill, EANT_KEY_END);
}
TAVIRON_GUARD_VOID(err)

Eant_TextStyle *eant_TextStyleEvaluateForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                   Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                                   const Eant_TextStyle *style, int32_t followExternal,
                                                   Eevg_TextStyle *target, Eant_CoordSysConversion *conversion,
                                                   Eerr_ErrorReport **err) try {
  const Rendering rendering{drawing, symbols};
  return Family<TextFamily>::Evaluate(__func__, toolkit, library, style, followExternal, target, conversion, err,
                                      &rendering);
}
TAVIRON_GUARD(err, nullptr)

Eevg_TextStyle *eant_GetTextStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, const Eevg_Align *align,
                                  int32_t number, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  Eevg_TextStyle *style = Family<TextFamily>::Get(__func__, toolkit, library, number, conversion, err);
  if (style && align) {
    style->yalign = align->yalign;
    style->xalign = align->xalign;
  }
  return style;
}
TAVIRON_GUARD(err, nullptr)

Eevg_TextStyle *eant_GetTextStyleForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                              Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                              const Eevg_Align *align, int32_t number,
                                              Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  const Rendering rendering{drawing, symbols};
  Eevg_TextStyle *style = Family<TextFamily>::Get(__func__, toolkit, library, number, conversion, err, &rendering);
  if (style && align) {
    style->yalign = align->yalign;
    style->xalign = align->xalign;
  }
  return style;
}
TAVIRON_GUARD(err, nullptr)

Eevg_TextStyle *eant_GetTextStyleForRenderingPtr(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                 Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                                 const Eevg_Align *align, int32_t number,
                                                 Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  // The cached style keeps the lengths of its first conversion; only the alignment is the caller's.
  const Rendering rendering{drawing, symbols};
  Eevg_TextStyle *style = Family<TextFamily>::Ptr(__func__, toolkit, library, number, conversion, err, &rendering);
  if (style && align) {
    style->yalign = align->yalign;
    style->xalign = align->xalign;
  }
  return style;
}
TAVIRON_GUARD(err, nullptr)

void eant_ModifyBboxByTextStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                Eant_CoordSysConversion *conversion, Egda_BaseData *bbox,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ModifyBboxByTextStyle";
  lower::Clear(err);
  if (!IsCorners(bbox)) {
    lower::Report(err, reporter, 1, "Invalid input bounding box");
    return;
  }
  if (!toolkit) {
    lower::Report(err, reporter, 2, "%s", kToolkitNotInitialized);
    return;
  }
  lower::CalleeReport inner;
  const Eant_TextStyle *style = Family<TextFamily>::Lookup("eant_TextStyleLookupInLibrary", library, number, &inner);
  if (!style) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_TextStyleLookupInLibrary");
    return;
  }
  struct Evaluated {
    Eant_TextStyle *style;
    ~Evaluated() { eant_TextStyleFree(&style); }
  } evaluated{Family<TextFamily>::Evaluate("eant_TextStyleEvaluate", toolkit, library, style, 1, nullptr, conversion,
                                           &inner)};
  if (!evaluated.style) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_TextStyleEvaluate");
    return;
  }
  const Eant_TextStyle &text = *evaluated.style;
  // A style without a character fill has no outline to widen the box by.
  if (text.fillStyle != -1) {
    eant_ModifyBboxByFillStyle(toolkit, library, text.fillStyle, conversion, bbox, 0, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 5, "eant_ModifyBboxByFillStyle");
      return;
    }
  }
  const bool underline = text.underline == EMSC_TRUE, shadow = text.shadow == EMSC_TRUE;
  if (text.textSlant == 0.0 && !underline && !shadow) return;
  // The sides move in the text's own frame: the box turned so that corner 1 to 2 runs along +x.
  const double height = std::hypot(lower::At<double>(*bbox, 0, 1) - lower::At<double>(*bbox, 0, 0),
                                   lower::At<double>(*bbox, 1, 1) - lower::At<double>(*bbox, 1, 0));
  double angle = 0, cx = 0, cy = 0;
  const MatrixPtr ortho(eant_OrthoBboxAtOrigin(bbox, &angle, &cx, &cy, &inner));
  if (!ortho) {
    lower::ReportCallee(err, inner, reporter, 6, "eant_OrthoBboxAtOrigin");
    return;
  }
  auto x = [&](int32_t corner) -> double & { return lower::At<double>(*ortho, 0, corner); };
  auto y = [&](int32_t corner) -> double & { return lower::At<double>(*ortho, 1, corner); };
  if (text.textSlant != 0.0) {
    const double v = std::tan(text.textSlant) * height;
    const int32_t first = text.textSlant > 0 ? 2 : 0; // the side the slant leans out of
    x(first) += v;
    x(first + 1) += v;
  }
  if (underline) {
    const double d = TextLength(eant_CoordSysConversionScaleAndTransformY, conversion, text.styleUnits,
                                text.underlineDist, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 8, "eant_CoordSysConversionScaleAndTransformY");
      return;
    }
    // An underline without a line style of its own is drawn without width.
    const double m = text.underlineStyle == -1
                         ? 0.0
                         : eant_LineStyleGetWidth(toolkit, library, text.underlineStyle, conversion, &inner) / 2;
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 7, "eant_LineStyleGetWidth");
      return;
    }
    y(0) -= m + d;
    y(3) -= m + d;
    x(0) -= m;
    x(1) -= m;
    x(2) += m;
    x(3) += m;
  }
  if (shadow) {
    const double sx = TextLength(eant_CoordSysConversionScaleAndTransformX, conversion, text.styleUnits,
                                 text.textShadow.dx, &inner);
    const double sy = inner ? 0.0
                            : TextLength(eant_CoordSysConversionScaleAndTransformY, conversion, text.styleUnits,
                                         text.textShadow.dy, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 8, "eant_CoordSysConversionScaleAndTransform");
      return;
    }
    const double g = std::max(std::fabs(sx), std::fabs(sy));
    constexpr double kSide[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
    for (int32_t c = 0; c < 4; ++c) {
      x(c) += kSide[c][0] * g;
      y(c) += kSide[c][1] * g;
    }
  }
  if (!eant_RotateAndTranslateBbox(ortho.get(), angle, cx, cy, bbox, &inner))
    lower::ReportCallee(err, inner, reporter, 9, "eant_RotateAndTranslateBbox");
}
TAVIRON_GUARD_VOID(err)

} // extern "C"
