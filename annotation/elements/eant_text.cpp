// The text element: one string anchored at an origin with an orientation, or laid along a
// polyline, with a height and a text style. What it does as the vertex types do (style setters,
// map-space polyline, copy, reading and writing the element, counting) comes from
// eant_vertex_internal.h over its traits; its record, keyword list, geometry, drawing, box, hit
// test, flip and reprojection are here.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "eant_vertex_internal.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;
using namespace taviron::eant::vertex;

namespace {

struct TextTraits {
  using Record = Eant_Text;
  using Type = TextType;
  static constexpr int32_t kCode = EANT_TEXT;
  static constexpr const char *kKind = "Text";
  static constexpr const char *kLower = "text";
  static constexpr int32_t Record::*kStyle = &Record::textStyle;
  static constexpr Eant_VectorData *Record::*kCoords = &Record::coords;
  static constexpr int32_t Eant_ElementInfo::*kCounter = &Eant_ElementInfo::texts;
  static constexpr int32_t kAddXFormCode = 6;
  static constexpr int32_t kSelectKind = 8;
  static constexpr const char *kStyleReference = "Invalid input textStyle";
  static constexpr auto &IncrementUseCount = eant_TextStyleIncrementUseCount;
  static constexpr auto &AddToLocalLibrary = eant_TextStyleAddToLocalLibrary;
  static constexpr auto &CopyBetweenLibs = eant_TextStyleCopyBetweenLibs;
  static constexpr const char *kIncrementName = "eant_TextStyleIncrementUseCount";
  static constexpr const char *kAddToLocalName = "eant_TextStyleAddToLocalLibrary";
  static constexpr const char *kCopyBetweenName = "eant_TextStyleCopyBetweenLibs";
  static constexpr auto &SetStyle = eant_TextElementSetTextStyle;
  static constexpr auto &CopyRecord = eant_TextCopy;
  static constexpr auto &Write = eant_TextWrite;
  static constexpr auto &Read = eant_TextRead;
  static Efga_CoordinateBlock *MapVectorData(Eant_Element *element, _exfr_XForm *xform,
                                             Eant_CoordSysConversion *conversion, Efga_CoordinateBlock *block,
                                             Eerr_ErrorReport **err) {
    return Vertex<TextTraits>::MapVectorData("eant_TextGetMapCoords", element, xform, conversion, block, err);
  }
};
using TextV = Vertex<TextTraits>;

constexpr Eevg_Align kCentred{EEVG_YCENTER, EEVG_XCENTER};

struct CoordDeleter {
  void operator()(Eevg_Coord *coord) const noexcept { eevg_CoordFree(&coord); }
};
using CoordPtr = std::unique_ptr<Eevg_Coord, CoordDeleter>;
struct HeapDeleter {
  void operator()(void *block) const noexcept { emsc_HeapFree(block); }
};
using UnicodePtr = std::unique_ptr<char16_t, HeapDeleter>;
struct TextStyleDeleter {
  void operator()(Eevg_TextStyle *style) const noexcept { eevg_TextStyleFree(&style); }
};
using TextStylePtr = std::unique_ptr<Eevg_TextStyle, TextStyleDeleter>;

// The record of a text element after the checks of the getters (codes 1 to 3 with the messages
// given), or null after the report.
Eant_Text *Checked(const char *reporter, Eant_Element *element, const char *invalid, const char *notText,
                   const char *noInfo, Eerr_ErrorReport **err) {
  if (!element) {
    lower::Report(err, reporter, 1, "%s", invalid);
    return nullptr;
  }
  if (element->elmType != EANT_TEXT) {
    lower::Report(err, reporter, 2, "%s", notText);
    return nullptr;
  }
  if (!element->info) {
    lower::Report(err, reporter, 3, "%s", noInfo);
    return nullptr;
  }
  return TextV::RecordOf(element);
}

// The record of a text element for a setter, made when missing (codes 1 to 3).
Eant_Text *ForSetting(const char *reporter, Eant_Element *element, const char *invalid, Eerr_ErrorReport **err) {
  if (!TextV::Check(reporter, element, invalid, false, err)) return nullptr;
  lower::CalleeReport inner;
  if (!element->info && !(element->info = TextV::Create(reporter, &inner))) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_TextCreate");
    return nullptr;
  }
  return TextV::RecordOf(element);
}

// Element (row, column) of a polynomial's coefficient matrix, and its constant of a row.
double Coefficient(const Efga_Polynomial *p, int32_t row, int32_t column) { return At(p->coefficients, row, column); }
double Constant(const Efga_Polynomial *p, int32_t row) { return At(p->constants, row, 0); }

// The angle and the length of the image of the unit frame's y axis under p.
void AngleAndLength(const Efga_Polynomial *p, double &angle, double &length) {
  const double bx = Coefficient(p, 0, 1), by = Coefficient(p, 1, 1);
  angle = bx == 0.0 && by == 0.0 ? 0.0 : std::atan2(-bx, by);
  length = std::sqrt(bx * bx + by * by);
}

// The text as 8-bit text, "unicode string" when a unit is above 255.
char *Narrowed(char16_t *text, const char *reporter, Eerr_ErrorReport **err) {
  if (!text) return nullptr;
  bool wide = false;
  for (const char16_t *u = text; *u && !wide; ++u) wide = *u > 0xFF;
  char *result = nullptr;
  if (wide) {
    result = estr_Duplicate("unicode string");
  } else {
    const int32_t length = estr_UnicodeStrLen(text);
    if ((result = static_cast<char *>(emsc_HeapMalloc(static_cast<std::size_t>(length) + 1))))
      for (int32_t i = 0; i < length; ++i) result[i] = static_cast<char>(text[i]);
  }
  emsc_HeapFree(text);
  if (!result) lower::Report(err, reporter, 5, "Error allocating text string");
  return result;
}

// The string of an element, stored (evaluated false) or evaluated, under the reporter's name.
char16_t *TextString(const char *reporter, Eant_Element *element, bool evaluated, Eerr_ErrorReport **err) {
  Eant_Text *text = Checked(reporter, element, "Invalid element", "Input element is not text", "Invalid text info", err);
  if (!text) return nullptr;
  lower::CalleeReport inner;
  char16_t *string = evaluated ? eant_TextDataEvaluatedGet(text->text, &inner) : eant_TextDataGet(text->text, &inner);
  if (!string)
    lower::ReportCallee(err, inner, reporter, 4, evaluated ? "eant_TextDataEvaluatedGet" : "eant_TextDataGet");
  return string;
}

// Mirrors an alignment: 0 and 2 swap, 1 stays.
int32_t Mirrored(int32_t align) { return align == 0 ? 2 : align == 2 ? 0 : align; }

// The debug print of a drawn text: its box and the position of every character.
void PrintCoordinates(const char *reporter, Eevg_Drawing *drawing, Eevg_TextStyle *style, const Eevg_Coord *origin,
                      Efga_CoordinateBlock *polyline, const char16_t *text, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  MatrixPtr rect(egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner));
  if (rect) {
    if (polyline)
      eevg_GetTextOnPolyLineBoundRectUC(drawing, style, polyline, text, rect.get(), &inner);
    else
      eevg_GetTextBoundRectUC(drawing, style, origin, text, rect.get(), &inner);
  }
  if (inner)
    return lower::ReportChained(err, inner, reporter, 10, polyline ? "Error returned by eevg_GetUCTextOnPolyLineBoundRect"
                                                                  : "Error returned by eevg_GetUCTextBoundRect");
  efio_Printf("TextBoundRect: UL(%.0f,%.0f) UR(%.0f,%.0f) ", At(rect.get(), 0, 0), At(rect.get(), 1, 0),
              At(rect.get(), 0, 1), At(rect.get(), 1, 1));
  efio_Printf("LR(%.0f,%.0f) LL(%.0f,%.0f)\n", At(rect.get(), 0, 2), At(rect.get(), 1, 2), At(rect.get(), 0, 3),
              At(rect.get(), 1, 3));
  const int32_t length = estr_UnicodeStrLen(text);
  MatrixPtr positions(egda_BaseDataCreate(2, length > 0 ? length : 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner));
  if (positions) {
    if (polyline)
      eevg_GetTextOnPolyLinePositionsUC(drawing, style, polyline, text, positions.get(), &inner);
    else
      eevg_GetTextPositionsUC(drawing, style, origin, text, positions.get(), &inner);
  }
  if (inner)
    return lower::ReportChained(err, inner, reporter, 11, polyline ? "Error returned by eevg_GetUCTextOnPolyLinePositions"
                                                                  : "Error returned by eevg_GetTextPositionsUC");
  char *narrow = estr_Unicode2Ascii(text);
  efio_Printf("TextPositions: <%s>\n", narrow ? narrow : "");
  for (int32_t i = 0; i < length; ++i)
    efio_Printf("               %d(%c)=(%.0f,%.0f)\n", i, narrow ? narrow[i] : '?', At(positions.get(), 0, i),
                At(positions.get(), 1, i));
  efio_Printf("\n");
  emsc_HeapFree(narrow);
}

} // namespace

extern "C" {

// ---- The record ----

Eant_Text *eant_TextCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextV::Create(__func__, err);
} TAVIRON_GUARD(err, nullptr)

void eant_TextFree(Eant_Text **text) try {
  if (!text || !*text) return;
  eevg_CoordFree(&(*text)->origin);
  eant_VectorDataFree(&(*text)->coords);
  eevg_AlignFree(&(*text)->alignment);
  eant_TextDataFree(&(*text)->text);
  lower::HeapDelete(*text);
  *text = nullptr;
} TAVIRON_GUARD_QUIET_VOID

Eant_Text *eant_TextCopy(const Eant_Text *source, Eant_Text *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_Text");
    return target;
  }
  lower::CalleeReport inner;
  Eant_Text *made = nullptr;
  if (!target && !(target = made = TextV::Create(reporter, &inner))) {
    lower::PassOn(err, inner);
    return nullptr;
  }
  const auto fail = [&](int32_t code, const char *callee) -> Eant_Text * {
    lower::ReportCallee(err, inner, reporter, code, callee);
    if (!made) return target;
    eant_TextFree(&made);
    return nullptr;
  };
  target->textStyle = source->textStyle;
  target->scale = source->scale;
  target->orientation = source->orientation;
  if (source->origin) {
    Eevg_Coord *origin = eevg_CoordCopy(source->origin, target->origin, &inner);
    if (!origin) return fail(3, "eevg_CoordCopy");
    target->origin = origin;
  } else {
    eevg_CoordFree(&target->origin);
  }
  if (source->coords) {
    Eant_VectorData *coords = eant_VectorDataCopy(source->coords, target->coords, &inner);
    if (!coords || inner) return fail(4, "eant_VectorDataCopy");
    target->coords = coords;
  } else {
    eant_VectorDataFree(&target->coords);
  }
  if (source->alignment) {
    Eevg_Align *alignment = eevg_AlignCopy(source->alignment, target->alignment, &inner);
    if (!alignment) return fail(5, "eevg_AlignCopy");
    target->alignment = alignment;
  } else {
    eevg_AlignFree(&target->alignment);
  }
  if (source->text) {
    Eant_TextData *text = eant_TextDataCopy(source->text, target->text, &inner);
    if (!text || inner) return fail(6, "eant_TextDataCopy");
    target->text = text;
  } else {
    eant_TextDataFree(&target->text);
  }
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_TextPrint(const Eant_Text *text, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextPrint";
  lower::Clear(err);
  if (!text) return lower::Report(err, reporter, 1, "Invalid input Eant_Text");
  efio_Printf("textStyle - %ld\n", static_cast<long>(text->textStyle));
  if (text->origin) efio_Printf("Origin - %lg, %lg\n", text->origin->x, text->origin->y);
  efio_Printf("scale - %lg\n", text->scale);
  efio_Printf("orientation - %lg\n", text->orientation);
  lower::CalleeReport inner;
  if (text->coords) {
    eant_VectorDataPrint(text->coords, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_VectorDataPrint");
  }
  if (text->alignment) {
    static const char *const kY[] = {"top ", "center ", "bottom "};
    efio_Printf("Alignment - ");
    const int32_t y = text->alignment->yalign, x = text->alignment->xalign;
    if (y >= 0 && y <= 2) efio_Printf("%s", kY[y]);
    if (x == EEVG_LEFT) efio_Printf("left\n");
    else if (x == EEVG_XCENTER) efio_Printf("center\n");
    else if (x == EEVG_RIGHT) efio_Printf("right\n");
    else if (x == EEVG_FULL) efio_Printf("full\n");
  }
  if (text->text) {
    eant_TextDataPrint(text->text, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 3, "eant_TextDataPrint");
  }
} TAVIRON_GUARD_VOID(err)

void eant_TextWrite(Eant_FileIO *fileIO, const Eant_Text *text, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextWrite";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  if (!text) return lower::Report(err, reporter, 4, "Invalid input text");
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  const Emif_Design *design = nullptr;
  int32_t code = 5;
  for (const char *name : {kEevgCoord.name, kVectorData2Design.name, kEevgAlign.name, kTextDataDesign.name,
                           kText2Design.name}) {
    if (!(design = eant_PutDesignInDictionary(data, name, file->dictionary, &inner))) {
      const std::string callee = lower::Format("eant_PutDesignInDictionary for %s", name);
      return lower::ReportCallee(err, inner, reporter, code, callee.c_str());
    }
    ++code;
  }
  Eant_TextData *prepared = eant_TextDataPrepareOutput(text->text, &inner);
  if (!prepared) return lower::ReportCallee(err, inner, reporter, 10, "eant_TextDataPrepareOutput");
  auto *coords = static_cast<VectorData2Stored *>(eant_VectorDataCopyToPrivate(text->coords, &inner));
  if (inner) {
    eant_TextDataFree(&prepared);
    return lower::ReportCallee(err, inner, reporter, 11, "eant_VectorDataCopyToPrivate");
  }
  // The prepared record begins as the stored text data does: its string is the stored bytes.
  Text2Stored stored{text->flags,  text->textStyle, text->origin, text->orientation, coords,
                     text->scale,  text->alignment, reinterpret_cast<TextDataStored *>(prepared)};
  const Ehfa_Entry *written =
      ehfa_ObjectWrite(file, nullptr, "Text Info", kText2Design.name, EHFA_CHILD, &stored, design, &inner);
  if (coords) emsc_HeapFree(coords->coords.data);
  lower::HeapDelete(coords);
  eant_TextDataFree(&prepared);
  if (!written || inner) lower::ReportCallee(err, inner, reporter, 12, "ehfa_ObjectWrite");
} TAVIRON_GUARD_VOID(err)

Eant_Text *eant_TextRead(Eant_FileIO *fileIO, Eant_Text *text, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextRead";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return nullptr;
  const int32_t version = fileIO->annotationVersion;
  if (version < 0 || version > EANT_ANNOTATION_VERSION) {
    lower::Report(err, reporter, 4, "Invalid annotation layer version number %ld", static_cast<long>(version));
    return nullptr;
  }
  const bool older = version < 2;
  const record::Design &form = older ? kTextDesign : kText2Design;
  lower::CalleeReport inner;
  const Emif_Design *design = data->dictionary ? emif_FindDesignByName(data->dictionary, form.name, &inner) : nullptr;
  if (!design) {
    inner.Drop();
    lower::Report(err, reporter, 5, "Error returned from emif_FindDesignByName");
    return nullptr;
  }
  const int32_t position = fileIO->versionFlags == 1 ? EHFA_FOLLOWING : EHFA_CHILD_NAMED;
  // Both forms are read into the current one's members (the old form is the same without flags and
  // coordinates).
  Text2Stored stored{0, -1, nullptr, 0.0, nullptr, 0.0, nullptr, nullptr};
  TextStored old{-1, nullptr, 0.0, 0.0, nullptr, nullptr};
  bool read;
  if (older) {
    read = ehfa_ObjectRead(fileIO->file, nullptr, "Text Info", position, &old, design, &inner) && !inner;
    stored = {0, old.textStyle, old.origin, old.orientation, nullptr, old.scale, old.alignment, old.text};
  } else {
    read = ehfa_ObjectRead(fileIO->file, nullptr, "Text Info", position, &stored, design, &inner) && !inner;
  }
  const auto discard = [&] { record::FreeContents(kText2Design, &stored); };
  if (!read) {
    discard();
    lower::ReportCallee(err, inner, reporter, 6, "ehfa_ObjectRead");
    return nullptr;
  }
  Eant_VectorData *coords = nullptr;
  if (stored.coords && stored.coords->coords.count >= 1) {
    coords = eant_VectorDataCopyFromPrivate2(stored.coords, &inner);
    if (inner) {
      discard();
      lower::ReportCallee(err, inner, reporter, 7, "eant_VectorDataCopyFromPrivate2");
      return nullptr;
    }
  }
  // The stored text data becomes a record of its own; its bytes are widened back into UTF-16.
  Eant_TextData *textData = eant_TextDataCreate(&inner);
  if (!textData) {
    eant_VectorDataFree(&coords);
    discard();
    lower::ReportCallee(err, inner, reporter, 8, "eant_TextDataCreate");
    return nullptr;
  }
  if (stored.text) {
    textData->source = stored.text->source;
    textData->string.count = stored.text->string.count;
    textData->string.data = reinterpret_cast<char16_t *>(stored.text->string.data);
    stored.text->string = {0, nullptr};
  }
  bool ok = TextDataWidenOnRead(textData, reporter, 9, err);
  if (ok && (fileIO->reserved & 1) && textData->string.count > 0) {
    eant_TextDataSetupString(textData, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 10, "eant_TextDataSetupString");
      ok = false;
    }
  }
  Eant_Text *made = nullptr;
  if (ok && !text && !(text = made = TextV::Create(reporter, &inner))) {
    lower::ReportCallee(err, inner, reporter, 11, "eant_TextCreate");
    ok = false;
  }
  if (!ok) {
    eant_TextDataFree(&textData);
    eant_VectorDataFree(&coords);
    discard();
    return nullptr;
  }
  // Committed only now: a failed read leaves a given record as it was.
  eevg_CoordFree(&text->origin);
  eant_VectorDataFree(&text->coords);
  eevg_AlignFree(&text->alignment);
  eant_TextDataFree(&text->text);
  text->textStyle = stored.textStyle;
  text->origin = std::exchange(stored.origin, nullptr);
  text->orientation = stored.orientation;
  text->coords = coords;
  text->scale = stored.scale;
  text->alignment = std::exchange(stored.alignment, nullptr);
  text->text = textData;
  discard();
  return text;
} TAVIRON_GUARD(err, nullptr)

// ---- The element ----

Eant_Element *eant_TextElementCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextV::ElementCreate(__func__, info, err);
} TAVIRON_GUARD(err, nullptr)

void eant_TextElementFree(Eant_Element **element) try {
  if (!element || !*element) return;
  Eant_Text *text = TextV::RecordOf(*element);
  eant_TextFree(&text);
  (*element)->info = nullptr;
  eant_ElementFree(element);
} TAVIRON_GUARD_QUIET_VOID

Eant_Element *eant_TextElementSetValues(Eant_AnnotationInfo *info, Eant_Element *element,
                                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err, ...) try {
  static const char *reporter = "eant_TextElementSetValues";
  lower::Clear(err);
  static constexpr lower::Keyword kKeywords[] = {TAVIRON_EANT_COMMON_KEYWORDS,
                                                 {EANT_ELEMKEY_TEXTSTYLE, {V::Int}},
                                                 {EANT_ELEMKEY_TEXTSTYLEBYSTYLE, {V::Pointer}},
                                                 {EANT_ELEMKEY_TEXTORIGIN, {V::Double, V::Double}},
                                                 {EANT_ELEMKEY_TEXTORIENTATION, {V::Double}},
                                                 {EANT_ELEMKEY_TEXTSCALE, {V::Double}},
                                                 {EANT_ELEMKEY_TEXTALIGNMENT, {V::Int, V::Int}},
                                                 {EANT_ELEMKEY_TEXT, {V::Int, V::Pointer}},
                                                 {EANT_ELEMKEY_UCTEXT, {V::Int, V::Pointer}},
                                                 {EANT_ELEMKEY_TEXTCOORDS, {V::Int, V::Pointer}}};
  static constexpr lower::KeywordList kList{{kKeywords}, "Invalid keyword option for text element"};
  lower::CalleeReport inner;
  Eant_Element *made = nullptr;
  if (!element && !(element = made = eant_TextElementCreate(info, &inner))) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_TextElementCreate");
    return nullptr;
  }
  if (element->elmType != EANT_TEXT) {
    lower::Report(err, reporter, 2, "Input element is not text");
    return made ? (eant_TextElementFree(&made), nullptr) : element;
  }
  const auto fail = [&](int32_t code, const char *callee) {
    lower::ReportCallee(err, inner, reporter, code, callee);
    return false;
  };
  bool moved = false;
  va_list ap;
  va_start(ap, err);
  const bool ended = lower::ReadKeywords(kList, ap, reporter, 17, err, [&](int32_t key, const lower::KeywordValues &v) {
    bool handled = false;
    const bool applied = element::ApplyCommonKeyword(reporter, element, key, v, handled, moved, err);
    if (handled) return applied;
    moved = true;
    switch (key) {
    case EANT_ELEMKEY_TEXTSTYLE:
      eant_TextElementSetTextStyle(info, element, v.Int(0), &inner);
      return !inner || fail(9, "eant_TextElementSetTextStyle");
    case EANT_ELEMKEY_TEXTSTYLEBYSTYLE:
      eant_TextElementSetTextStyleByStyle(info, element, v.Pointer<Eant_Style>(0), &inner);
      return !inner || fail(10, "eant_TextElementSetTextStyleByStyle");
    case EANT_ELEMKEY_TEXTORIGIN:
      eant_TextElementSetOrigin(element, v.Double(0), v.Double(1), conversion, &inner);
      return !inner || fail(11, "eant_TextElementSetOrigin");
    case EANT_ELEMKEY_TEXTORIENTATION:
      eant_TextElementSetOrientation(element, v.Double(0), conversion, &inner);
      return !inner || fail(12, "eant_TextElementSetOrientation");
    case EANT_ELEMKEY_TEXTCOORDS:
      eant_TextElementSetCoords(element, v.Int(0), v.Pointer<const Efga_CoordinateBlock>(1), conversion, &inner);
      return !inner || fail(13, "eant_TextElementSetCoords");
    case EANT_ELEMKEY_TEXTSCALE:
      eant_TextElementSetScale(element, v.Double(0), conversion, &inner);
      return !inner || fail(14, "eant_TextElementSetScale");
    case EANT_ELEMKEY_TEXTALIGNMENT:
      eant_TextElementSetAlignment(element, v.Int(0), v.Int(1), &inner);
      return !inner || fail(15, "eant_TextElementSetAlignment");
    case EANT_ELEMKEY_TEXT: {
      UnicodePtr wide(estr_Ascii2Unicode(v.Pointer<const char>(1)));
      if (v.Pointer<const char>(1) && !wide) {
        lower::Report(err, reporter, 16, "Error allocating text");
        return false;
      }
      eant_TextElementSetText(element, v.Int(0), wide.get(), &inner);
      return !inner || fail(16, "eant_TextElementSetText");
    }
    default: // EANT_ELEMKEY_UCTEXT
      eant_TextElementSetText(element, v.Int(0), v.Pointer<const char16_t>(1), &inner);
      return !inner || fail(16, "eant_TextElementSetText");
    }
  });
  va_end(ap);
  if (element::FinishSetValues(reporter, info, element, conversion, ended, moved, 18, err)) return element;
  if (!made) return element;
  eant_TextElementFree(&made);
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

void eant_TextElementSetTextStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                  Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::SetStyle(__func__, info, element, number, "Invalid input text", err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetTextStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::SetStyleByStyle(__func__, info, element, style, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetAlignment(Eant_Element *element, int32_t xalign, int32_t yalign, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementSetAlignment";
  lower::Clear(err);
  Eant_Text *text = ForSetting(reporter, element, "Invalid input text", err);
  if (!text) return;
  lower::CalleeReport inner;
  if (!text->alignment && !(text->alignment = eevg_AlignCreate(&inner)))
    return lower::ReportCallee(err, inner, reporter, 4, "eevg_AlignCreate");
  text->alignment->xalign = xalign;
  text->alignment->yalign = yalign;
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetText(Eant_Element *element, int32_t source, const char16_t *string,
                             Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementSetText";
  lower::Clear(err);
  Eant_Text *text = ForSetting(reporter, element, "Invalid input text", err);
  if (!text) return;
  lower::CalleeReport inner;
  if (!text->text && !(text->text = eant_TextDataCreate(&inner)))
    return lower::ReportCallee(err, inner, reporter, 4, "eant_TextDataCreate");
  // A layer's texts are parsed by the layer's smart-data check.
  eant_TextDataSetWithParseFlag(text->text, source, string, element->antInfo ? 0 : 1, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 5, "eant_TextDataSetWithParseFlag");
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetTextStyleHeightAndScaleUnitsByStyle(Eant_AnnotationInfo *info, Eant_Element *element,
                                                            Eant_Style *style, double height,
                                                            Eant_CoordDefinition *units,
                                                            Eant_CoordSysConversion *conversion,
                                                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementSetTextStyleHeightAndScaleUnitsByStyle";
  lower::Clear(err);
  if (!units) return lower::Report(err, reporter, 1, "Invalide input textHeightScaleUnits");
  lower::CalleeReport inner;
  eant_TextElementSetValues(info, element, conversion, &inner, EANT_ELEMKEY_SCALEUNITS, units->coordSys,
                            taviron::eant::Text(units->units), EANT_ELEMKEY_TEXTSTYLEBYSTYLE, style, EANT_ELEMKEY_TEXTSCALE, height,
                            EANT_ELEMKEY_END);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_TextElementSetValues");
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetTextStyleAndHeightByStyle(Eant_AnnotationInfo *info, Eant_Element *element,
                                                  Eant_Style *style, double height, const char *units,
                                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementSetTextStyleAndHeightByStyle";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_CoordDefinition *definition = eant_CoordDefinitionSetValues(nullptr, EEVG_OUTPUT, units, &inner);
  if (!definition) return lower::ReportCallee(err, inner, reporter, 1, "eant_CoordDefinitionSetValues");
  eant_TextElementSetTextStyleHeightAndScaleUnitsByStyle(info, element, style, height, definition, conversion,
                                                         &inner);
  eant_CoordDefinitionFree(&definition);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_TextElementSetTextStyleHeightAndScaleUnitsByStyle");
} TAVIRON_GUARD_VOID(err)

int32_t eant_TextElementGetStyle(Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextV::GetStyle(__func__, element, err);
} TAVIRON_GUARD(err, -1)

Eevg_Align *eant_TextElementGetAlignment(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementGetAlignment";
  lower::Clear(err);
  Eant_Text *text = Checked(reporter, element, "Invalid input element", "Input element is not text",
                            "Input element does not contain text info", err);
  if (!text) return nullptr;
  lower::CalleeReport inner;
  Eevg_Align *copy = eevg_AlignCopy(text->alignment ? text->alignment : &kCentred, nullptr, &inner);
  if (!copy) lower::ReportCallee(err, inner, reporter, 4, "eevg_AlignCopy");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char16_t *eant_TextGetUCTextString(Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextString("eant_TextGetTextString", element, false, err);
} TAVIRON_GUARD(err, nullptr)

char16_t *eant_TextGetEvaluatedUCTextString(Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextString("eant_TextGetEvaluatedTextString", element, true, err);
} TAVIRON_GUARD(err, nullptr)

char *eant_TextGetTextString(Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return Narrowed(TextString(__func__, element, false, err), __func__, err);
} TAVIRON_GUARD(err, nullptr)

char *eant_TextGetEvaluatedTextString(Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return Narrowed(TextString(__func__, element, true, err), __func__, err);
} TAVIRON_GUARD(err, nullptr)

int32_t eant_TextElementCheckForSmartData(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementCheckForSmartData";
  lower::Clear(err);
  Eant_Text *text = Checked(reporter, element, "Invalid input Eant_Element", "Input element is not a text",
                            "Invalid text info", err);
  if (!text) return 0;
  lower::CalleeReport inner;
  const int32_t found = eant_TextDataCheckForSmartData(text->text, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 4, "eant_TextDataCheckForSmartData");
  return inner ? 0 : found;
} TAVIRON_GUARD(err, 0)

// ---- Slots shared with the vertex types ----

Eant_Element *eant_TextElementCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextV::ElementCopy(__func__, source, target, err);
} TAVIRON_GUARD(err, nullptr)

void eant_TextElementPrint(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementPrint";
  lower::Clear(err);
  if (!TextV::Check(reporter, element, "Invalid input Eant_Element", true, err)) return;
  lower::CalleeReport inner;
  eant_ElementPrint(element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_ElementPrint");
  eant_TextPrint(TextV::RecordOf(element), &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 4, "eant_TextPrint");
} TAVIRON_GUARD_VOID(err)

void eant_TextElementWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *element,
                           Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::ElementWrite(__func__, fileIO, nodePath, position, element, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementRead(Eant_AnnotationInfo *, Eant_FileIO *fileIO, Eant_Element *element,
                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::ElementRead(__func__, fileIO, element, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementCopyStyleBetweenLibs(Eant_Element *element, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::CopyStyleBetweenLibs(__func__, element, from, to, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::ReplaceValues(__func__, source, target, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementIncrementCount(Eant_Element *element, Eant_ElementInfo *counts, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::IncrementCount(__func__, element, counts, err);
} TAVIRON_GUARD_VOID(err)

const char *eant_TextElementGetTypeString(Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextV::TypeString(__func__, element, err);
} TAVIRON_GUARD(err, nullptr)

// Texts are left out of the flips of a selection (the flip slot still acts when called).
int32_t eant_TextElementCanBeFlipped(Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::Check(__func__, element, "Invalid input Eant_Element", true, err);
  return 0;
} TAVIRON_GUARD(err, 0)

void eant_TextElementSelectTextStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_CoordSysConversion *,
                                     Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  TextV::SelectStyle(__func__, info, element, false, update, updateData, err);
} TAVIRON_GUARD_VOID(err)

int32_t eant_TextElementSelectTextStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element,
                                            Eant_CoordSysConversion *, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextV::SelectStyle(__func__, info, element, true, nullptr, nullptr, err);
} TAVIRON_GUARD(err, 0)


// ---- Geometry ----

Eevg_Coord *eant_TextGetUnXFormedLocationData(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                              double *orientation, double *height, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextGetUnXFormedLocationData";
  lower::Clear(err);
  Eant_Text *text = Checked(reporter, element, "Invalid element", "Input element is not an text", "Invalid text info", err);
  if (!text) return nullptr;
  lower::CalleeReport inner;
  const double h = eant_CoordSysConversionScaleY(conversion, element->scaleUnits, text->scale, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_CoordSysConversionScaleY");
    return nullptr;
  }
  Eevg_Coord *origin = nullptr;
  if (text->origin &&
      !(origin = eant_CoordSysConversionTranslateCoord(conversion, element->positionUnits, text->origin, &inner))) {
    lower::ReportCallee(err, inner, reporter, 5, "eant_CoordSysConversionTranslateCoord");
    return nullptr;
  }
  if (orientation) *orientation = text->orientation;
  if (height) *height = h;
  return origin;
} TAVIRON_GUARD(err, nullptr)

Eevg_Coord *eant_GetTextMapLocationData(Eant_Element *element, _exfr_XForm *xform,
                                        Eant_CoordSysConversion *conversion, double *angle, double *height,
                                        Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetTextMapLocationData";
  lower::Clear(err);
  lower::CalleeReport inner;
  double a = 0, h = 0;
  CoordPtr origin(eant_TextGetUnXFormedLocationData(element, conversion, &a, &h, &inner));
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_TextGetUnXFormedLocationData");
    return nullptr;
  }
  // The frame of the text: a unit of height along the turned y axis. A text of height 0 is
  // carried with a unit frame, so that its angle survives.
  PolynomialPtr frame(eant_AffinePolynomialCreate(origin.get(), a, h != 0.0 ? h : 1.0, h != 0.0 ? h : 1.0, &inner));
  if (!frame) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_AffinePolynomialCreate");
    return nullptr;
  }
  XFormPtr transform(eant_AddXForm(element->xformMatrix, xform, &inner));
  if (!transform) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_AddXForm");
    return nullptr;
  }
  PolynomialPtr carried(exfr_TransformObjectPoly(transform.get(), frame.get(), 1, 1, &inner));
  if (!carried || !IsAffine(carried.get())) {
    lower::ReportCallee(err, inner, reporter, 4, "exfr_TransformObjectPoly");
    return nullptr;
  }
  double angleOut = 0, length = 0;
  AngleAndLength(carried.get(), angleOut, length);
  if (angle) *angle = angleOut;
  if (height) *height = h != 0.0 ? length : 0.0;
  if (origin) {
    origin->x = Constant(carried.get(), 0);
    origin->y = Constant(carried.get(), 1);
  }
  return origin.release();
} TAVIRON_GUARD(err, nullptr)

Eevg_Coord *eant_GetTextEevgLocationData(Eant_Element *element, _exfr_XForm *xform,
                                         Eant_CoordSysConversion *conversion, Eevg_TextStyle *style,
                                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetTextEevgLocationData";
  lower::Clear(err);
  if (!style) {
    lower::Report(err, reporter, 1, "Invalid input textStyle");
    return nullptr;
  }
  lower::CalleeReport inner;
  double angle = 0, height = 0;
  Eevg_Coord *origin = eant_GetTextMapLocationData(element, xform, conversion, &angle, &height, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_GetTextMapLocationData");
    return nullptr;
  }
  style->textHeight = height;
  style->textAngle = angle;
  return origin;
} TAVIRON_GUARD(err, nullptr)

Efga_CoordinateBlock *eant_TextGetMapCoords(Eant_Element *element, _exfr_XForm *xform,
                                            Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TextTraits::MapVectorData(element, xform, conversion, nullptr, err);
} TAVIRON_GUARD(err, nullptr)

Eevg_Coord *eant_GetTextLocationData(Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *conversion,
                                     double *orientation, double *height, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextInvertMap";
  lower::Clear(err);
  lower::CalleeReport inner;
  double angle = 0, h = 0;
  CoordPtr origin(eant_GetTextMapLocationData(element, xform, conversion, &angle, &h, &inner));
  if (inner) {
    lower::ReportCallee(err, inner, "eant_GetTextLocationData", 1, "eant_GetTextMapLocationData");
    return nullptr;
  }
  const double own = eant_CoordSysConversionInvScaleY(conversion, element->scaleUnits, h, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_CoordSysConversionInvScaleY");
    return nullptr;
  }
  CoordPtr back;
  if (origin &&
      !(back.reset(eant_CoordSysConversionInvTranslateCoord(conversion, element->positionUnits, origin.get(), &inner)),
        back)) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_CoordSysConversionInvTranslateCoord");
    return nullptr;
  }
  if (orientation) *orientation = angle;
  if (height) *height = own;
  return back.release();
} TAVIRON_GUARD(err, nullptr)

Efga_CoordinateBlock *eant_TextGetCoords(Eant_Element *element, _exfr_XForm *xform,
                                         Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  BlockPtr block(eant_TextGetMapCoords(element, xform, conversion, &inner));
  if (!block) {
    lower::ReportCallee(err, inner, "eant_TextGetCoords", 1, "eant_TextGetMapCoords");
    return nullptr;
  }
  if (!TextV::ToElementUnits("eant_TextInvertMapCoords", 1, element, conversion, block.get(), err)) return nullptr;
  return block.release();
} TAVIRON_GUARD(err, nullptr)

void eant_TextElementSetLocationData(Eant_Element *element, const Eevg_Coord *origin, double orientation,
                                     double scale, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementSetLocationData";
  lower::Clear(err);
  Eant_Text *text = ForSetting(reporter, element, "Invalid input element", err);
  if (!text) return;
  lower::CalleeReport inner;
  if (origin) {
    Eevg_Coord *copy = eevg_CoordCopy(origin, text->origin, &inner);
    if (!copy) return lower::ReportCallee(err, inner, reporter, 4, "eevg_CoordCopy");
    text->origin = copy;
  } else {
    eevg_CoordFree(&text->origin);
  }
  text->orientation = orientation;
  text->scale = scale;
  eant_ElementInitXformMatrix(element, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 5, "eant_ElementInitXformMatrix");
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetLocationDataBoth(Eant_Element *element, const Eevg_Coord *origin, double orientation,
                                         double scale, int32_t source, const Efga_CoordinateBlock *block,
                                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementSetLocationDataBoth";
  lower::Clear(err);
  lower::CalleeReport inner;
  eant_TextElementSetLocationData(element, origin, orientation, scale, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 1, "eant_TextElementSetLocationData");
  if (!block) return;
  Eant_Text *text = TextV::RecordOf(element);
  if (!text->coords && !(text->coords = eant_VectorDataCreate(&inner)))
    return lower::ReportCallee(err, inner, reporter, 2, "eant_VectorDataCreate");
  eant_VectorDataSet(text->coords, source, block, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 3, "eant_VectorDataSet");
} TAVIRON_GUARD_VOID(err)

} // extern "C"

namespace {

// The setters that bake the transform: the element-unit values read through the conversion, one
// of them changed, stored back with the transform reset.
enum class Change { Origin, Orientation, Scale, Coords };
void Bake(const char *reporter, Eant_Element *element, Change change, double a, double b, int32_t source,
          const Efga_CoordinateBlock *block, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
  if (!ForSetting(reporter, element, "Invalid input text", err)) return;
  lower::CalleeReport inner;
  double orientation = 0, height = 0;
  CoordPtr origin(eant_GetTextLocationData(element, nullptr, conversion, &orientation, &height, &inner));
  if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_GetTextLocationData");
  if (change == Change::Origin) {
    if (!origin && !(origin.reset(eevg_CoordCreate(&inner)), origin))
      return lower::ReportCallee(err, inner, reporter, 5, "eevg_CoordCreate");
    origin->x = a;
    origin->y = b;
    eant_TextElementSetLocationData(element, origin.get(), orientation, height, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 6, "eant_TextElementSetLocationData");
    return;
  }
  BlockPtr polyline;
  if (change == Change::Coords) {
    origin.reset();
    orientation = 0.0;
  } else {
    // A text without a polyline keeps none.
    if (TextV::RecordOf(element)->coords) polyline.reset(eant_TextGetCoords(element, nullptr, conversion, &inner));
    inner.Drop();
    block = polyline.get();
    source = EANT_LOCAL;
    (change == Change::Orientation ? orientation : height) = a;
  }
  eant_TextElementSetLocationDataBoth(element, origin.get(), orientation, height, source, block, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 6, "eant_TextElementSetLocationDataBoth");
}

// The renderer text style a text is measured with: the numbered style of the library, or without a
// library a default one (the default font, filled with the default colour).
// False after a report; a style of number -1 is null without one.
bool MeasuringStyle(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                    const Eant_Text *text, Eant_CoordSysConversion *conversion, TextStylePtr &result,
                    Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  const Eevg_Align &align = text->alignment ? *text->alignment : kCentred;
  if (library) {
    result.reset(eant_GetTextStyle(toolkit, library, &align, text->textStyle, conversion, &inner));
    if (!inner) return true;
    lower::ReportCallee(err, inner, reporter, 5, "eant_GetTextStyle");
    return false;
  }
  TextStylePtr style(eevg_TextStyleCreate(&inner));
  if (!style) {
    lower::ReportCallee(err, inner, reporter, 6, "eevg_TextStyleCreate");
    return false;
  }
  emsc_HeapFree(style->fontName);
  if (!(style->fontName = estr_Duplicate("galaxy.otl"))) {
    lower::Report(err, reporter, 6, "Error duplicating fontName");
    return false;
  }
  if (!(style->charFillStyle = eevg_FillStyleCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 7, "eevg_FillStyleCreate");
    return false;
  }
  style->charFillStyle->fill = 1;
  if (!(style->charFillStyle->pattern = eevg_FillPatternCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 8, "eevg_FillPatternCreate");
    return false;
  }
  if (!(style->charFillStyle->pattern->color = eevg_ColorCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 9, "eevg_ColorCreate");
    return false;
  }
  // The spacings of a text style's defaults: a new renderer style has none, and no text can be laid
  // out with a character extension of 0.
  style->textChSpace = 1.0;
  style->textChExt = 1.0;
  style->yalign = align.yalign;
  style->xalign = align.xalign;
  result = std::move(style);
  return true;
}

} // namespace

extern "C" {

void eant_TextElementSetOrigin(Eant_Element *element, double x, double y, Eant_CoordSysConversion *conversion,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Bake(__func__, element, Change::Origin, x, y, EANT_LOCAL, nullptr, conversion, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetOrientation(Eant_Element *element, double angle, Eant_CoordSysConversion *conversion,
                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Bake(__func__, element, Change::Orientation, angle, 0, EANT_LOCAL, nullptr, conversion, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetScale(Eant_Element *element, double height, Eant_CoordSysConversion *conversion,
                              Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Bake(__func__, element, Change::Scale, height, 0, EANT_LOCAL, nullptr, conversion, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementSetCoords(Eant_Element *element, int32_t source, const Efga_CoordinateBlock *block,
                               Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Bake(__func__, element, Change::Coords, 0, 0, source, block, conversion, err);
} TAVIRON_GUARD_VOID(err)

void eant_TextElementReplaceCoords(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                   const Egda_BaseData *points, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementReplaceCoords";
  lower::Clear(err);
  if (!element) return lower::Report(err, reporter, 1, "Invalid input element");
  if (!points || points->rows != 2 || points->pixelType != EGDA_TYPE_F64 || !points->origin)
    return lower::Report(err, reporter, 2, "Invalid input coordinates");
  lower::CalleeReport inner;
  BlockPtr block(efga_CoordBlockPtrCreate(1, &inner));
  MatrixPtr copy(block ? egda_BaseDataCreate(2, points->columns, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner) : nullptr);
  if (!copy) return lower::ReportCallee(err, inner, reporter, 3, "efga_CoordBlockPtrCreate");
  for (int32_t c = 0; c < points->columns; ++c)
    for (int32_t r = 0; r < 2; ++r) At(copy.get(), r, c) = At(points, r, c);
  block->parts[0] = copy.release();
  if (!TextV::ToElementUnits(reporter, 4, element, conversion, block.get(), err)) return;
  eant_TextElementSetValues(element->antInfo, element, conversion, &inner, EANT_ELEMKEY_TEXTORIENTATION, 0.0,
                            EANT_ELEMKEY_TEXTCOORDS, EANT_LOCAL, block.get(), EANT_ELEMKEY_END);
  if (inner) lower::ReportCallee(err, inner, reporter, 5, "eant_TextElementSetValues");
} TAVIRON_GUARD_VOID(err)

void eant_TextElementRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                            Eant_Criteria *, Eevg_Drawing *drawing, Eant_Element *element, _exfr_XForm *xform,
                            Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementRender";
  lower::Clear(err);
  Eant_Text *text = Checked(reporter, element, "Invalid element", "Input element is not text", "Invalid text info", err);
  if (!text) return;
  lower::CalleeReport inner;
  UnicodePtr string(eant_TextGetEvaluatedUCTextString(element, &inner));
  if (!string) return lower::ReportChained(err, inner, reporter, 4, "Error returned by eant_TextGetEvaluatedTextString");
  Eevg_TextStyle *style = eant_GetTextStyleForRenderingPtr(toolkit, drawing, styles, symbols,
                                                           text->alignment ? text->alignment : &kCentred,
                                                           text->textStyle, conversion, &inner);
  if (inner) return lower::ReportChained(err, inner, reporter, 5, "Error returned by eant_GetTextStyleForRenderingPtr");
  CoordPtr origin(eant_GetTextEevgLocationData(element, xform, conversion, style, &inner));
  if (inner) return lower::ReportChained(err, inner, reporter, 6, "Error returned by eant_GetTextEevgLocationData");
  BlockPtr polyline;
  if (text->coords) {
    polyline.reset(eant_TextGetMapCoords(element, xform, conversion, &inner));
    if (!polyline) return lower::ReportChained(err, inner, reporter, 7, "Error returned by eant_TextGetMapCoords");
    eevg_DrawTextOnPolyLineUC(drawing, style, polyline.get(), string.get(), &inner);
    if (inner) return lower::ReportChained(err, inner, reporter, 8, "Error returned by eevg_DrawUCTextOnPolyLine");
  } else {
    eevg_DrawTextUC(drawing, style, origin.get(), string.get(), &inner);
    if (inner) return lower::ReportChained(err, inner, reporter, 9, "Error returned by eevg_DrawUCText");
  }
  if (std::getenv("NORIX_TEXT_COORDINATE_DEBUG"))
    PrintCoordinates(reporter, drawing, style, origin.get(), polyline.get(), string.get(), err);
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *eant_TextElementBboxCalculateWithDrawingNoSave(Eant_Element *element, _exfr_XForm *xform,
                                                              Eant_CoordSysConversion *conversion,
                                                              Eevg_Drawing *drawing, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementBboxCalculateWithDrawingNoSave";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid element");
    return nullptr;
  }
  Eint_InitToolkitData *toolkit = eint_GetInit();
  Eant_StyleLibrary *library = nullptr;
  if (Eant_AnnotationInfo *info = element->antInfo) {
    if (!drawing) drawing = info->fakeDrawing;
    library = info->styleLib;
  } else {
    if (!conversion) {
      lower::Report(err, reporter, 2, "Cannot obtain fakeDrawing from element antInfo or coordConvert");
      return nullptr;
    }
    if (!drawing) drawing = conversion->fakeDrawing;
    if (element->symbolLibrary) library = element->symbolLibrary->styleLibrary;
  }
  if (!drawing) {
    lower::Report(err, reporter, 3, "Invalid fakeDrawing");
    return nullptr;
  }
  lower::CalleeReport inner;
  UnicodePtr string(eant_TextGetEvaluatedUCTextString(element, &inner));
  if (!string) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_TextGetEvaluatedUCTextString");
    return nullptr;
  }
  const Eant_Text *text = TextV::RecordOf(element);
  TextStylePtr style;
  if (!MeasuringStyle(reporter, toolkit, library, text, conversion, style, err)) return nullptr;
  CoordPtr origin(eant_GetTextEevgLocationData(element, xform, conversion, style.get(), &inner));
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 10, "eant_GetTextEevgLocationData");
    return nullptr;
  }
  MatrixPtr box(egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner));
  if (!box) {
    lower::ReportCallee(err, inner, reporter, 11, "efga_MatrixCreate");
    return nullptr;
  }
  if (text->coords) {
    BlockPtr polyline(eant_TextGetMapCoords(element, xform, conversion, &inner));
    if (!polyline) {
      lower::ReportChained(err, inner, reporter, 12, "Error returned by eant_TextGetMapCoords");
      return nullptr;
    }
    eevg_GetTextOnPolyLineBoundRectUC(drawing, style.get(), polyline.get(), string.get(), box.get(), &inner);
    if (inner) {
      lower::ReportChained(err, inner, reporter, 13, "Error returned by eevg_GetUCTextOnPolyLineBoundRect");
      return nullptr;
    }
  } else {
    eevg_GetTextBoundRectUC(drawing, style.get(), origin.get(), string.get(), box.get(), &inner);
    if (inner) {
      lower::ReportChained(err, inner, reporter, 14, "Error returned by eevg_GetUCTextBoundRect");
      return nullptr;
    }
  }
  if (element->antInfo) {
    eant_ModifyBboxByTextStyle(toolkit, library, text->textStyle, conversion, box.get(), &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 15, "eant_ModifyBboxByTextStyle");
      return nullptr;
    }
  }
  return box.release();
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *eant_TextElementBboxCalculateNoSave(Eant_Element *element, _exfr_XForm *xform,
                                                   Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  return eant_TextElementBboxCalculateWithDrawingNoSave(element, xform, conversion, nullptr, err);
} TAVIRON_GUARD(err, nullptr)

int32_t eant_CoordInTextElement(Eint_InitToolkitData *, Eant_StyleLibrary *, Eant_SymbolLibrary *, Eant_Criteria *,
                                Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *conversion,
                                Egda_BaseData *coord, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordInTextElement";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input Eant_Element");
    return 0;
  }
  if (element->elmType != EANT_TEXT) {
    lower::Report(err, reporter, 2, "Input element is not a text");
    return 0;
  }
  lower::CalleeReport inner;
  const int32_t inBox = eant_CoordInBoundingBox(element->bBox, element->xformMatrix, xform, coord, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CoordInBoundingBox");
    return 0;
  }
  const Eant_Text *text = TextV::RecordOf(element);
  if (!text || !text->coords || text->origin || inBox != 1) return inBox;
  BlockPtr polyline(eant_TextGetMapCoords(element, xform, conversion, &inner));
  if (!polyline) {
    lower::ReportChained(err, inner, reporter, 4, "Error returned by eant_TextGetMapCoords");
    return 0;
  }
  double angle = 0, height = 0;
  CoordPtr origin(eant_GetTextMapLocationData(element, xform, conversion, &angle, &height, &inner));
  if (inner) {
    lower::ReportChained(err, inner, reporter, 5, "Error returned by eant_GetTextMapLocationData");
    return 0;
  }
  const int32_t near = evec_CoordNearPolyline(coord, polyline.get(), 0, height, &inner);
  if (inner) {
    lower::ReportChained(err, inner, reporter, 6, "Error returned by evec_CoordNearPolyline");
    return 0;
  }
  return near;
} TAVIRON_GUARD(err, 0)

void eant_TextElementUpdateInfo(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementUpdateInfo";
  lower::Clear(err);
  lower::CalleeReport inner;
  double orientation = 0, height = 0;
  CoordPtr origin(eant_GetTextLocationData(element, nullptr, conversion, &orientation, &height, &inner));
  if (inner) return lower::ReportCallee(err, inner, reporter, 1, "eant_GetTextLocationData");
  BlockPtr polyline;
  if (TextV::RecordOf(element)->coords) polyline.reset(eant_TextGetCoords(element, nullptr, conversion, &inner));
  inner.Drop();
  eant_TextElementSetLocationDataBoth(element, origin.get(), orientation, height, EANT_LOCAL, polyline.get(), &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_TextElementSetLocationDataBoth");
} TAVIRON_GUARD_VOID(err)

void eant_TextElementConvertToMap(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                  Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementConvertToMap";
  lower::Clear(err);
  if (!conversion) return lower::Report(err, reporter, 1, "Invalid input coordConvert");
  lower::CalleeReport inner;
  double angle = 0, height = 0;
  CoordPtr origin(eant_GetTextMapLocationData(element, nullptr, conversion, &angle, &height, &inner));
  if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_GetTextMapLocationData");
  BlockPtr polyline;
  if (TextV::RecordOf(element)->coords) polyline.reset(eant_TextGetMapCoords(element, nullptr, conversion, &inner));
  inner.Drop();
  Eant_CoordDefinition *scale = eant_CoordDefinitionSetValues(element->scaleUnits, EEVG_MAP, conversion->mapUnits, &inner);
  if (!scale || inner)
    return lower::ReportChained(err, inner, reporter, 3, "Error returned from eant_CoordDefinitionSetValues for scaleUnits");
  element->scaleUnits = scale;
  Eant_CoordDefinition *position =
      eant_CoordDefinitionSetValues(element->positionUnits, EEVG_MAP, conversion->mapUnits, &inner);
  if (!position || inner)
    return lower::ReportChained(err, inner, reporter, 4,
                                "Error returned from eant_CoordDefinitionSetValues for positionUnits");
  element->positionUnits = position;
  eant_TextElementSetLocationDataBoth(element, origin.get(), angle, height, EANT_LOCAL, polyline.get(), &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 5, "eant_TextElementSetLocationDataBoth");
} TAVIRON_GUARD_VOID(err)

void eant_TextElementTransformMap(Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *from,
                                  Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *,
                                  Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementTransformMap";
  lower::Clear(err);
  if (!TextV::Check(reporter, element, "Invalid input Eant_Element", true, err)) return;
  lower::CalleeReport inner;
  const auto isMap = [](const Eant_CoordDefinition *d) { return d && d->coordSys == EEVG_MAP; };
  const bool mapPosition = isMap(element->positionUnits), mapScale = isMap(element->scaleUnits);
  if (mapPosition || mapScale) {
    double angle = 0, height = 0;
    CoordPtr origin(eant_GetTextMapLocationData(element, nullptr, from, &angle, &height, &inner));
    if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_GetTextMapLocationData");
    double ownHeight = eant_CoordSysConversionInvScaleY(from, element->scaleUnits, height, &inner);
    CoordPtr own;
    if (!inner && origin)
      own.reset(eant_CoordSysConversionInvTranslateCoord(from, element->positionUnits, origin.get(), &inner));
    if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_GetTextLocationData");
    BlockPtr polyline;
    Eevg_Coord centre{0, 0};
    if (!origin) {
      polyline.reset(eant_TextGetMapCoords(element, nullptr, from, &inner));
      if (!polyline) return lower::ReportCallee(err, inner, reporter, 3, "eant_TextGetMapCoords");
      BoxPtr extent(evec_GetBboxFromCoordBlock(polyline.get(), nullptr, &inner));
      if (!extent || !IsBox(extent.get())) return lower::ReportCallee(err, inner, reporter, 4, "evec_GetBboxFromCoordBlock");
      centre = {(At(extent.get(), 0, 0) + At(extent.get(), 0, 1)) / 2, (At(extent.get(), 1, 0) + At(extent.get(), 1, 1)) / 2};
      if (mapPosition) {
        if (!exfr_CoordBlockTransform(xform, polyline.get(), polyline.get(), &inner) || inner)
          return lower::ReportCallee(err, inner, reporter, 5, "exfr_CoordBlockTransform");
      } else if (!TextV::ToElementUnits(reporter, 5, element, from, polyline.get(), err)) {
        return;
      }
    }
    PolynomialPtr frame(eant_AffinePolynomialCreate(origin ? origin.get() : &centre, angle, height != 0.0 ? height : 1.0,
                                                    height != 0.0 ? height : 1.0, &inner));
    if (!frame) return lower::ReportCallee(err, inner, reporter, 8, "eant_AffinePolynomialCreate");
    PolynomialPtr carried(exfr_TransformObjectPoly(xform, frame.get(), 1, 1, &inner));
    if (!carried || !IsAffine(carried.get())) return lower::ReportCallee(err, inner, reporter, 9, "exfr_TransformObjectPoly");
    double newAngle = 0, length = 0;
    AngleAndLength(carried.get(), newAngle, length);
    if (mapPosition) {
      if (own) {
        own->x = Constant(carried.get(), 0);
        own->y = Constant(carried.get(), 1);
      }
      if (!eant_CharStrCreate(mapUnits, &element->positionUnits->units, &inner) || inner)
        return lower::ReportCallee(err, inner, reporter, 10, "eant_CharStrCreate");
    }
    if (mapScale) {
      ownHeight = height != 0.0 ? length : 0.0;
      if (!eant_CharStrCreate(mapUnits, &element->scaleUnits->units, &inner) || inner)
        return lower::ReportCallee(err, inner, reporter, 11, "eant_CharStrCreate");
    }
    eant_TextElementSetLocationDataBoth(element, own.get(), newAngle, ownHeight, EANT_LOCAL, polyline.get(), &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 12, "eant_TextElementSetLocationDataBoth");
  }
  eant_ElementBboxComputeAndReset(element, to, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 13, "eant_ElementBboxComputeAndReset");
} TAVIRON_GUARD_VOID(err)

void eant_TextElementFlip(Eant_AnnotationInfo *info, Eant_Element *element, Eant_CoordSysConversion *conversion,
                          void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_TextElementFlip";
  lower::Clear(err);
  if (!flipData) return lower::Report(err, reporter, 1, "Invalid input flipData");
  int32_t words[3];
  std::memcpy(words, flipData, sizeof words);
  const int32_t first = words[0], second = words[1], mode = words[2];
  if (mode == 0) return;
  lower::CalleeReport inner;
  if (info && info->undoFlag == 1) {
    Eant_Element *backup = eant_ElementBackup(element, &inner);
    if (!backup) return lower::ReportCallee(err, inner, reporter, 2, "eant_ElementBackup");
    eant_UndoSetupUndoModification(info, element, backup, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_UndoSetupUndoModification");
  }
  double angle = 0, height = 0;
  CoordPtr origin(eant_GetTextLocationData(element, nullptr, conversion, &angle, &height, &inner));
  if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_GetTextLocationData");
  Eant_Text *text = TextV::RecordOf(element);
  Eevg_Align align = text->alignment ? *text->alignment : kCentred;
  BlockPtr polyline;
  if (origin) {
    CoordPtr map(eant_CoordSysConversionTranslateCoord(conversion, element->positionUnits, origin.get(), &inner));
    if (!map) return lower::ReportCallee(err, inner, reporter, 9, "eant_CoordSysConversionTranslateCoord");
    MatrixPtr point(egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner));
    if (!point) return lower::ReportCallee(err, inner, reporter, 10, "egda_BaseDataCreate");
    At(point.get(), 0, 0) = map->x;
    At(point.get(), 1, 0) = map->y;
    if (!efga_PolyTransCoords(point.get(), point.get(), polynomial, 0, &inner) || inner)
      return lower::ReportCallee(err, inner, reporter, 11, "efga_PolyTransCoords");
    map->x = At(point.get(), 0, 0);
    map->y = At(point.get(), 1, 0);
    origin.reset(eant_CoordSysConversionInvTranslateCoord(conversion, element->positionUnits, map.get(), &inner));
    if (!origin) return lower::ReportCallee(err, inner, reporter, 13, "eant_CoordSysConversionInvTranslateCoord");
    if (mode == 2) {
      if (second == 1) angle = M_PI - angle;
      if (first == 1) angle = 2 * M_PI - angle;
      align.xalign = Mirrored(align.xalign);
    } else if (mode == 1) {
      if (first == 1) align.xalign = Mirrored(align.xalign);
      if (second == 1) align.yalign = Mirrored(align.yalign);
    }
  } else if (text->coords) {
    polyline.reset(eant_TextGetMapCoords(element, nullptr, conversion, &inner));
    if (!polyline) return lower::ReportCallee(err, inner, reporter, 5, "eant_TextGetMapCoords");
    if (!efga_PolyTransCoordinateBlock(polyline.get(), polynomial, &inner) || inner)
      return lower::ReportCallee(err, inner, reporter, 6, "efga_PolyTransCoordinateBlock");
    if (!TextV::ToElementUnits(reporter, 7, element, conversion, polyline.get(), err)) return;
    if ((mode == 1 && first == 1) || (mode == 2 && second == 1)) {
      for (int32_t p = 0; p < polyline->count; ++p) {
        Egda_BaseData *part = polyline->parts[p];
        for (int32_t i = 0, j = part->columns - 1; i < j; ++i, --j)
          for (int32_t r = 0; r < 2; ++r) std::swap(At(part, r, i), At(part, r, j));
      }
      align.xalign = Mirrored(align.xalign);
    }
  }
  eant_TextElementSetLocationDataBoth(element, origin.get(), angle, height, EANT_LOCAL, polyline.get(), &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 14, "eant_TextElementSetLocationDataBoth");
  if (text->alignment || align.xalign != kCentred.xalign || align.yalign != kCentred.yalign) {
    eant_TextElementSetAlignment(element, align.xalign, align.yalign, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 14, "eant_TextElementSetAlignment");
  }
  eant_ElementBboxComputeAndReset(element, conversion, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 15, "eant_ElementBboxComputeAndReset");
  if (!info) return;
  eant_AntBoundingBoxUpdateByElement(info, element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 16, "eant_AntBoundingBoxUpdateByElement");
  eant_DoElementMovedCallbacks(info, element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 17, "eant_DoElementMovedCallbacks");
  eant_DoElementModifiedCallbacks(info, element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 18, "eant_DoElementModifiedCallbacks");
  info->modified = 1;
} TAVIRON_GUARD_VOID(err)

} // extern "C"
