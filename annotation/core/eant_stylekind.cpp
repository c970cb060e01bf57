// The four kinds of style a style library holds (line styles, fill styles, text styles,
// colours): their records' create, copy and free, and what a library does with one of its lists
// (free, copy, and the stored arrays of each library version). Each kind is one C++ type below,
// registered in StyleKinds; what every kind shares is written once as templates over the kind.
//
// A list holds style pointers; a null entry is an empty slot, and a style's number is its index.
// The current stored forms of colours, line and text styles are the leading members of the
// records in memory (the kit's leading designs); the fill style's parts and every older form are
// structs of their own (eant_internal.h), converted field by field.
#include <cstring>
#include <utility>

#include "eant_internal.h"
#include "emsc.h"

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
};

// ---- Line styles -----------------------------------------------------------------------------

void DropLineCache(Eant_LineStyle &style) { eevg_LineStyleFree(&style.evaluatedStyle); }

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

Eant_LineStyle *eant_LineStyleCopy(const Eant_LineStyle *source, Eant_LineStyle *target, Eerr_ErrorReport **err) try {
  return CopyByDesign(kLineStyle4Memory, source, target, "eant_LineStyleCopy", "Eant_LineStyle", eant_LineStyleCreate,
                      "eant_LineStyleCreate", DropLineCache, err);
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
