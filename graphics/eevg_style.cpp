// The renderer's style objects: colours, coordinates, alignments, dashes, line descriptions and
// compositions, arrow ends, line, fill and text styles, their designs, and the opacity dither.
#include <mutex>
#include <cstring>

#include "eevg.h"
#include "efio.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

template <typename T> T *New() { return static_cast<T *>(emsc_HeapMalloc(sizeof(T))); }

template <typename T> T *NewArray(int32_t count) {
  return static_cast<T *>(emsc_HeapMalloc(static_cast<std::size_t>(count) * sizeof(T)));
}

// A new zeroed record, or a report "Error allocating <what>" (code 1).
template <typename T> T *Create(const char *reporter, const char *what, Eerr_ErrorReport **err) {
  lower::Clear(err);
  T *record = New<T>();
  if (!record) lower::Report(err, reporter, 1, "Error allocating %s", what);
  return record;
}

// The copy of the small records: every field, into a destination made when missing.
template <typename T>
T *CopyRecord(const T *source, T *destination, const char *reporter, const char *type,
              T *(*create)(Eerr_ErrorReport **), const char *createName, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input %s", type);
    return destination;
  }
  if (!destination) {
    Eerr_ErrorReport *inner = nullptr;
    destination = create(&inner);
    if (!destination) {
      lower::ReportCallee(err, inner, reporter, 2, createName);
      return nullptr;
    }
  }
  if (destination != source) std::memcpy(destination, source, sizeof(T));
  return destination;
}

Emif_Design *Defined(Emif_Design *design, Eerr_ErrorReport *inner, const char *reporter,
                     Eerr_ErrorReport **err) {
  if (!design) lower::ReportCallee(err, inner, reporter, 1, "emif_DefineObject");
  else eerr_DeleteErrorReportEx(&inner);
  return design;
}

const char *TrueFalse(int32_t flag) { return flag == 1 ? "true" : "false"; }

void FreeCompositionColours(Eevg_LineComposition *composition) {
  for (int32_t i = 0; i < composition->count && composition->data; ++i)
    eevg_ColorFree(&composition->data[i].color);
}

// Threshold of pixel (x mod 5, y mod 5) in the opacity dither: drawn at levels from it up.
constexpr uint8_t kDither[5][5] = {{1, 14, 8, 16, 3},
                                   {18, 12, 22, 10, 20},
                                   {6, 24, 5, 25, 7},
                                   {21, 11, 23, 13, 19},
                                   {4, 17, 9, 15, 2}};

int32_t DitherLevel(int32_t opacity) {
  const int32_t level = static_cast<int32_t>(opacity / 255.0 * 25.0);
  return level < 0 ? 0 : (level > 25 ? 25 : level);
}

int32_t Mod5(int32_t value) { return ((value % 5) + 5) % 5; }

Egda_BaseDataStack *tileStack = nullptr;

} // namespace

extern "C" {

// ---- Coordinates ---------------------------------------------------------------------------

Eevg_Coord *eevg_CoordCreate(Eerr_ErrorReport **err) try {
  return Create<Eevg_Coord>("eevg_CoordCreate", "Coord", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_Coord *eevg_CoordCopy(const Eevg_Coord *source, Eevg_Coord *destination,
                           Eerr_ErrorReport **err) try {
  return CopyRecord(source, destination, "eevg_CoordCopy", "Eevg_Coord", eevg_CoordCreate,
                    "eevg_CoordCreate", err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eevg_CoordDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Emif_Design *design =
      emif_DesignCreate(dictionary, "Eevg_Coord", &inner, EMIF_TYPE_F64, "x", EMIF_TYPE_F64, "y", 0);
  return Defined(design, inner, "eevg_CoordDesignDefine", err);
} TAVIRON_GUARD(err, nullptr)

void eevg_CoordFree(Eevg_Coord **coord) try {
  if (coord && *coord) emsc_HeapFreeEx(coord);
} TAVIRON_GUARD_QUIET_VOID

void free_Local_Data(void *data) try {
  if (data) emsc_HeapFree(data);
} TAVIRON_GUARD_QUIET_VOID

// ---- Alignments ----------------------------------------------------------------------------

Eevg_Align *eevg_AlignCreate(Eerr_ErrorReport **err) try {
  Eevg_Align *align = Create<Eevg_Align>("eevg_AlignCreate", "Align", err);
  if (align) {
    align->yalign = EEVG_YCENTER;
    align->xalign = EEVG_XCENTER;
  }
  return align;
} TAVIRON_GUARD(err, nullptr)

Eevg_Align *eevg_AlignCopy(const Eevg_Align *source, Eevg_Align *destination,
                           Eerr_ErrorReport **err) try {
  return CopyRecord(source, destination, "eevg_AlignCopy", "Eevg_Align", eevg_AlignCreate,
                    "eevg_AlignCreate", err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eevg_AlignDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Emif_Design *design = emif_DesignCreate(
      dictionary, "Eevg_Align", &inner, EMIF_TYPE_ENUM, "yalign", "EEVG_TOP", "EEVG_YCENTER",
      "EEVG_BOTTOM", nullptr, EMIF_TYPE_ENUM, "xalign", "EEVG_LEFT", "EEVG_XCENTER", "EEVG_RIGHT", "", "",
      "EEVG_FULL", nullptr, 0);
  return Defined(design, inner, "eevg_AlignDesignDefine", err);
} TAVIRON_GUARD(err, nullptr)

void eevg_AlignFree(Eevg_Align **align) try {
  if (align && *align) emsc_HeapFreeEx(align);
} TAVIRON_GUARD_QUIET_VOID

// ---- Colours -------------------------------------------------------------------------------

Eevg_Color *eevg_ColorCreate(Eerr_ErrorReport **err) try {
  Eevg_Color *color = Create<Eevg_Color>("eevg_ColorCreate", "Color", err);
  if (color) color->opacity = 255;
  return color;
} TAVIRON_GUARD(err, nullptr)

Eevg_Color *eevg_ColorCopy(const Eevg_Color *source, Eevg_Color *destination,
                           Eerr_ErrorReport **err) try {
  return CopyRecord(source, destination, "eevg_ColorCopy", "Eevg_Color", eevg_ColorCreate,
                    "eevg_ColorCreate", err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eevg_ColorDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Emif_Design *design =
      emif_DesignCreate(dictionary, "Eevg_Color", &inner, EMIF_TYPE_S32, "index", EMIF_TYPE_S32,
                        "red", EMIF_TYPE_S32, "green", EMIF_TYPE_S32, "blue", EMIF_TYPE_S32,
                        "opacity", 0);
  return Defined(design, inner, "eevg_ColorDesignDefine", err);
} TAVIRON_GUARD(err, nullptr)

void eevg_ColorFree(Eevg_Color **color) try {
  if (color && *color) emsc_HeapFreeEx(color);
} TAVIRON_GUARD_QUIET_VOID

// ---- Dash segments and patterns ------------------------------------------------------------

Eevg_LinePatternSegment *eevg_LinePatternSegmentCreate(Eerr_ErrorReport **err) try {
  return Create<Eevg_LinePatternSegment>("eevg_LinePatternSegmentCreate", "LinePatternSegment", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_LinePatternSegment *eevg_LinePatternSegmentCopy(const Eevg_LinePatternSegment *source,
                                                     Eevg_LinePatternSegment *destination,
                                                     Eerr_ErrorReport **err) try {
  return CopyRecord(source, destination, "eevg_LinePatternSegmentCopy", "Eevg_LinePatternSegment",
                    eevg_LinePatternSegmentCreate, "eevg_LinePatternSegmentCreate", err);
} TAVIRON_GUARD(err, nullptr)

void eevg_LinePatternSegmentPrint(const Eevg_LinePatternSegment *segment, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  efio_Printf("LinePatternSegment:\n");
  if (!segment) return;
  efio_Printf("   lineMark - %lg\n", segment->lineMark);
  efio_Printf("   lineSpace - %lg\n", segment->lineSpace);
} TAVIRON_GUARD_VOID(err)

int32_t eevg_LinePatternSegmentCompare(const Eevg_LinePatternSegment *a,
                                       const Eevg_LinePatternSegment *b, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!a || !b) return !a && !b ? 1 : 0;
  return a->lineMark == b->lineMark && a->lineSpace == b->lineSpace ? 1 : 0;
} TAVIRON_GUARD(err, 0)

Emif_Design *eevg_LinePatternSegmentDesignDefine(Emif_Dictionary *dictionary,
                                                 Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Emif_Design *design = emif_DesignCreate(dictionary, "Eevg_LinePatternSegment", &inner,
                                          EMIF_TYPE_F64, "lineMark", EMIF_TYPE_F64, "lineSpace", 0);
  return Defined(design, inner, "eevg_LinePatternSegmentDesignDefine", err);
} TAVIRON_GUARD(err, nullptr)

void eevg_LinePatternSegmentFree(Eevg_LinePatternSegment **segment) try {
  if (segment && *segment) emsc_HeapFreeEx(segment);
} TAVIRON_GUARD_QUIET_VOID

Eevg_LinePattern *eevg_LinePatternCreate(int32_t count, Eevg_LinePattern *pattern,
                                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_LinePatternCreate";
  lower::Clear(err);
  if (!pattern) {
    lower::Report(err, reporter, 3, "Invalid input Eevg_LinePattern");
    return nullptr;
  }
  if (count < 0) {
    lower::Report(err, reporter, 2, "Count is less than 0");
    return nullptr;
  }
  if (count == 0) {
    eevg_LinePatternFree(pattern);
    return pattern;
  }
  if (count != pattern->count || !pattern->data) {
    eevg_LinePatternFree(pattern);
    pattern->data = NewArray<Eevg_LinePatternSegment>(count);
    if (!pattern->data) {
      lower::Report(err, reporter, 1, "Error allocating linePattern->data");
      return nullptr;
    }
  }
  std::memset(pattern->data, 0, static_cast<std::size_t>(count) * sizeof(Eevg_LinePatternSegment));
  pattern->count = count;
  return pattern;
} TAVIRON_GUARD(err, nullptr)

Eevg_LinePattern *eevg_LinePatternCopy(const Eevg_LinePattern *source,
                                       Eevg_LinePattern *destination, int32_t shrink,
                                       Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_LinePatternCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eevg_LinePattern");
    return destination;
  }
  if (!destination) {
    lower::Report(err, reporter, 2, "Invalid output Eevg_LinePattern");
    return nullptr;
  }
  if (source == destination) return destination;
  const int32_t count = source->count > 0 && source->data ? source->count : 0;
  if (destination->count < count || (destination->count > count && shrink)) {
    Eerr_ErrorReport *inner = nullptr;
    if (!eevg_LinePatternCreate(count, destination, &inner)) {
      lower::ReportCallee(err, inner, reporter, 3, "eevg_LinePatternCreate");
      return destination;
    }
  }
  for (int32_t i = 0; i < count; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    if (!eevg_LinePatternSegmentCopy(&source->data[i], &destination->data[i], &inner)) {
      lower::ReportCallee(err, inner, reporter, 4, "eevg_LinePatternSegmentCopy");
      break;
    }
  }
  return destination;
} TAVIRON_GUARD(err, nullptr)

Eevg_LinePattern *eevg_LinePatternSetValues(Eevg_LinePattern *pattern, int32_t position,
                                            double lineMark, double lineSpace,
                                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_LinePatternSetValues";
  lower::Clear(err);
  if (!pattern) {
    lower::Report(err, reporter, 1, "Invalid input Eevg_LinePattern");
    return nullptr;
  }
  if (position < 0 || position == INT32_MAX) {
    lower::Report(err, reporter, 2, "Invalid input position");
    return pattern;
  }
  if (!pattern->data || pattern->count <= 0) {
    Eerr_ErrorReport *inner = nullptr;
    if (!eevg_LinePatternCreate(position + 1, pattern, &inner)) {
      lower::ReportCallee(err, inner, reporter, 3, "eevg_LinePatternCreate");
      return pattern;
    }
  } else if (position >= pattern->count) {
    auto *grown = static_cast<Eevg_LinePatternSegment *>(emsc_HeapRealloc(
        pattern->data, (static_cast<std::size_t>(position) + 1) * sizeof(Eevg_LinePatternSegment)));
    if (!grown) {
      lower::Report(err, reporter, 4, "Error reallocating linePattern->data");
      return pattern;
    }
    std::memset(grown + pattern->count, 0,
                static_cast<std::size_t>(position + 1 - pattern->count) * sizeof(Eevg_LinePatternSegment));
    pattern->data = grown;
    pattern->count = position + 1;
  }
  pattern->data[position].lineMark = lineMark;
  pattern->data[position].lineSpace = lineSpace;
  return pattern;
} TAVIRON_GUARD(err, nullptr)

void eevg_LinePatternPrint(const Eevg_LinePattern *pattern, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  efio_Printf("LinePattern:\n");
  if (!pattern || !pattern->data) return;
  for (int32_t i = 0; i < pattern->count; ++i) eevg_LinePatternSegmentPrint(&pattern->data[i], nullptr);
} TAVIRON_GUARD_VOID(err)

int32_t eevg_LinePatternCompare(const Eevg_LinePattern *a, const Eevg_LinePattern *b,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_LinePatternCompare";
  lower::Clear(err);
  if (!a || !b) return !a && !b ? 1 : 0;
  if (a->count < 0 || (a->count > 0 && !a->data)) {
    lower::Report(err, reporter, 1, "First input linePattern is not valid");
    return 0;
  }
  if (b->count < 0 || (b->count > 0 && !b->data)) {
    lower::Report(err, reporter, 2, "Second input linePattern is not valid");
    return 0;
  }
  if (a->count != b->count) return 0;
  for (int32_t i = 0; i < a->count; ++i)
    if (!eevg_LinePatternSegmentCompare(&a->data[i], &b->data[i], nullptr)) return 0;
  return 1;
} TAVIRON_GUARD(err, 0)

void eevg_LinePatternFree(Eevg_LinePattern *pattern) try {
  if (!pattern) return;
  emsc_HeapFreeEx(&pattern->data);
  pattern->count = 0;
} TAVIRON_GUARD_QUIET_VOID

// ---- Line descriptions and compositions ----------------------------------------------------

Eevg_LineDescription *eevg_LineDescriptionCreate(Eerr_ErrorReport **err) try {
  return Create<Eevg_LineDescription>("eevg_LineDescriptionCreate", "LineDescription", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_LineDescription *eevg_LineDescriptionCopy(const Eevg_LineDescription *source,
                                               Eevg_LineDescription *destination,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_LineDescriptionCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eevg_LineDescription");
    return destination;
  }
  if (source == destination) return destination;
  Eevg_LineDescription *made = nullptr;
  if (!destination) {
    Eerr_ErrorReport *inner = nullptr;
    destination = made = eevg_LineDescriptionCreate(&inner);
    if (!destination) {
      lower::ReportCallee(err, inner, reporter, 2, "eevg_LineDescriptionCreate");
      return nullptr;
    }
  }
  if (source->color) {
    Eerr_ErrorReport *inner = nullptr;
    Eevg_Color *color = eevg_ColorCopy(source->color, destination->color, &inner);
    if (!color) {
      lower::ReportCallee(err, inner, reporter, 3, "eevg_ColorCopy");
      if (made) {
        eevg_LineDescriptionFree(&made);
        return nullptr;
      }
      return destination;
    }
    destination->color = color;
  } else {
    eevg_ColorFree(&destination->color);
  }
  destination->width = source->width;
  return destination;
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eevg_LineDescriptionDesignDefine(Emif_Dictionary *dictionary,
                                              Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_LineDescriptionDesignDefine";
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  if (!eevg_ColorDesignDefine(dictionary, &inner)) return Defined(nullptr, inner, reporter, err);
  Emif_Design *design =
      emif_DesignCreate(dictionary, "Eevg_LineDescription", &inner, EMIF_POINTER + EMIF_TYPE_OBJECT,
                        "color", "Eevg_Color", EMIF_TYPE_F64, "width", 0);
  return Defined(design, inner, reporter, err);
} TAVIRON_GUARD(err, nullptr)

void eevg_LineDescriptionFree(Eevg_LineDescription **description) try {
  if (!description || !*description) return;
  eevg_ColorFree(&(*description)->color);
  emsc_HeapFreeEx(description);
} TAVIRON_GUARD_QUIET_VOID

Eevg_LineComposition *eevg_LineCompositionCreate(int32_t count, Eevg_LineComposition *composition,
                                                 Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_LineCompositionCreate";
  lower::Clear(err);
  if (!composition) {
    lower::Report(err, reporter, 3, "Invalid input Eevg_LineComposition");
    return nullptr;
  }
  if (count < 0) {
    lower::Report(err, reporter, 2, "Count is less than 0");
    return nullptr;
  }
  if (count == 0) {
    eevg_LineCompositionFree(composition);
    return composition;
  }
  // The colours of the entries that are dropped or zeroed belong to the composition.
  FreeCompositionColours(composition);
  if (count != composition->count || !composition->data) {
    eevg_LineCompositionFree(composition);
    composition->data = NewArray<Eevg_LineDescription>(count);
    if (!composition->data) {
      lower::Report(err, reporter, 1, "Error allocating lineComp->data");
      return nullptr;
    }
  }
  std::memset(composition->data, 0, static_cast<std::size_t>(count) * sizeof(Eevg_LineDescription));
  composition->count = count;
  return composition;
} TAVIRON_GUARD(err, nullptr)

Eevg_LineComposition *eevg_LineCompositionCopy(const Eevg_LineComposition *source,
                                               Eevg_LineComposition *destination, int32_t shrink,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_LineCompositionCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eevg_LineComposition");
    return destination;
  }
  if (!destination) {
    lower::Report(err, reporter, 2, "Invalid output Eevg_LineComposition");
    return nullptr;
  }
  if (source == destination) return destination;
  const int32_t count = source->count > 0 && source->data ? source->count : 0;
  if (destination->count < count || (destination->count > count && shrink)) {
    Eerr_ErrorReport *inner = nullptr;
    if (!eevg_LineCompositionCreate(count, destination, &inner)) {
      lower::ReportCallee(err, inner, reporter, 3, "eevg_LineCompositionCreate");
      return destination;
    }
  }
  for (int32_t i = 0; i < count; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    if (!eevg_LineDescriptionCopy(&source->data[i], &destination->data[i], &inner)) {
      lower::ReportCallee(err, inner, reporter, 4, "eevg_LineDescriptionCopy");
      break;
    }
  }
  return destination;
} TAVIRON_GUARD(err, nullptr)

void eevg_LineCompositionFree(Eevg_LineComposition *composition) try {
  if (!composition) return;
  FreeCompositionColours(composition);
  emsc_HeapFreeEx(&composition->data);
  composition->count = 0;
} TAVIRON_GUARD_QUIET_VOID

// ---- Arrow ends ----------------------------------------------------------------------------

Eevg_ArrowEnd *eevg_ArrowEndCreate(Eerr_ErrorReport **err) try {
  return Create<Eevg_ArrowEnd>("eevg_ArrowEndCreate", "ArrowEnd", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_ArrowEnd *eevg_ArrowEndCopy(const Eevg_ArrowEnd *source, Eevg_ArrowEnd *destination,
                                 Eerr_ErrorReport **err) try {
  return CopyRecord(source, destination, "eevg_ArrowEndCopy", "Eevg_ArrowEnd", eevg_ArrowEndCreate,
                    "eevg_ArrowEndCreate", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_ArrowEnd *eevg_ArrowEndSetValues(Eevg_ArrowEnd *arrowEnd, double baseAngle, double tipAngle,
                                      double length, int32_t filled, int32_t stick,
                                      Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!arrowEnd) {
    Eerr_ErrorReport *inner = nullptr;
    arrowEnd = eevg_ArrowEndCreate(&inner);
    if (!arrowEnd) {
      lower::ReportCallee(err, inner, "eevg_ArrowEndSetValues", 1, "eevg_ArrowEndCreate");
      return nullptr;
    }
  }
  arrowEnd->baseAngle = baseAngle;
  arrowEnd->tipAngle = tipAngle;
  arrowEnd->length = length;
  arrowEnd->filled = filled;
  arrowEnd->stick = stick;
  return arrowEnd;
} TAVIRON_GUARD(err, nullptr)

int32_t eevg_ArrowEndCompare(const Eevg_ArrowEnd *a, const Eevg_ArrowEnd *b,
                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!a || !b) return !a && !b ? 1 : 0;
  return a->baseAngle == b->baseAngle && a->tipAngle == b->tipAngle && a->length == b->length &&
                 a->filled == b->filled && a->stick == b->stick
             ? 1
             : 0;
} TAVIRON_GUARD(err, 0)

void eevg_ArrowEndPrint(const Eevg_ArrowEnd *arrowEnd, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  efio_Printf("ArrowEnd:\n");
  if (!arrowEnd) return;
  efio_Printf("   baseAngle - %lg\n", arrowEnd->baseAngle);
  efio_Printf("   tipAngle - %lg\n", arrowEnd->tipAngle);
  efio_Printf("   length - %lg\n", arrowEnd->length);
  efio_Printf("   filled - %s\n", TrueFalse(arrowEnd->filled));
  efio_Printf("   stick - %s\n", TrueFalse(arrowEnd->stick));
} TAVIRON_GUARD_VOID(err)

Emif_Design *eevg_ArrowEndDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Emif_Design *design = emif_DesignCreate(
      dictionary, "Eevg_ArrowEnd", &inner, EMIF_TYPE_F64, "baseAngle", EMIF_TYPE_F64, "tipAngle",
      EMIF_TYPE_F64, "length", EMIF_TYPE_ENUM, "filled", "EMSC_FALSE", "EMSC_TRUE", nullptr,
      EMIF_TYPE_ENUM, "stick", "EMSC_FALSE", "EMSC_TRUE", nullptr, 0);
  return Defined(design, inner, "eevg_ArrowEndDesignDefine", err);
} TAVIRON_GUARD(err, nullptr)

void eevg_ArrowEndFree(Eevg_ArrowEnd **arrowEnd) try {
  if (arrowEnd && *arrowEnd) emsc_HeapFreeEx(arrowEnd);
} TAVIRON_GUARD_QUIET_VOID

// ---- Line, fill and text styles ------------------------------------------------------------

Eevg_LineStyle *eevg_LineStyleCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *style = New<Eevg_LineStyle>();
  if (style) style->displayLine = 1;
  return style;
} TAVIRON_GUARD(err, nullptr)

void eevg_LineStyleFree(Eevg_LineStyle **style) try {
  if (!style || !*style) return;
  Eevg_LineStyle *s = *style;
  eevg_LineCompositionFree(&s->composition);
  eevg_LinePatternFree(&s->pattern);
  eevg_ArrowEndFree(&s->arrowEnd);
  eevg_LineSymbolFree(&s->lineSymbol);
  emsc_HeapFreeEx(style);
} TAVIRON_GUARD_QUIET_VOID

Eevg_LineSymbol *eevg_LineSymbolCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return New<Eevg_LineSymbol>();
} TAVIRON_GUARD(err, nullptr)

void eevg_LineSymbolFree(Eevg_LineSymbol **symbol) try {
  if (!symbol || !*symbol) return;
  if ((*symbol)->freeFunction) (*symbol)->freeFunction((*symbol)->userData);
  emsc_HeapFreeEx(symbol);
} TAVIRON_GUARD_QUIET_VOID

Eevg_FillPattern *eevg_FillPatternCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return New<Eevg_FillPattern>();
} TAVIRON_GUARD(err, nullptr)

void eevg_FillPatternFree(Eevg_FillPattern **pattern) try {
  if (!pattern || !*pattern) return;
  Eevg_FillPattern *p = *pattern;
  eevg_ColorFree(&p->color);
  Eerr_ErrorReport *dropped = nullptr;
  egda_BaseDataStackDelete(p->patternStack, &dropped);
  eerr_DeleteErrorReportEx(&dropped);
  p->patternStack = nullptr;
  eevg_CoordFree(&p->patternOrigin);
  if (p->freeFunction)
    p->freeFunction(p->userData);
  else
    emsc_HeapFree(p->userData);
  emsc_HeapFreeEx(pattern);
} TAVIRON_GUARD_QUIET_VOID

Eevg_FillStyle *eevg_FillStyleCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return New<Eevg_FillStyle>();
} TAVIRON_GUARD(err, nullptr)

void eevg_FillStyleFree(Eevg_FillStyle **style) try {
  if (!style || !*style) return;
  eevg_FillPatternFree(&(*style)->pattern);
  eevg_LineStyleFree(&(*style)->traceStyle);
  emsc_HeapFreeEx(style);
} TAVIRON_GUARD_QUIET_VOID

Eevg_TextStyle *eevg_TextStyleCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *style = New<Eevg_TextStyle>();
  if (style) {
    style->yalign = EEVG_YCENTER;
    style->xalign = EEVG_XCENTER;
  }
  return style;
} TAVIRON_GUARD(err, nullptr)

void eevg_TextStyleFree(Eevg_TextStyle **style) try {
  if (!style || !*style) return;
  Eevg_TextStyle *s = *style;
  emsc_HeapFreeEx(&s->fontName);
  eevg_FillStyleFree(&s->charFillStyle);
  eevg_LineStyleFree(&s->underlineStyle);
  eevg_FillPatternFree(&s->shadowPattern);
  emsc_HeapFreeEx(style);
} TAVIRON_GUARD_QUIET_VOID

// ---- Opacity dither ------------------------------------------------------------------------

int32_t eevg_OpacityCheckPixel(int32_t x, int32_t y, int32_t opacity, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return kDither[Mod5(x)][Mod5(y)] <= DitherLevel(opacity) ? 1 : 0;
} TAVIRON_GUARD(err, 0)

Egda_BaseData *eevg_OpacityTileCreate(int32_t opacity, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_OpacityTileCreate";
  lower::Clear(err);
  static std::mutex tilesMutex; // the tiles are made on first use, then only read
  std::lock_guard<std::mutex> lock(tilesMutex);
  if (!tileStack) {
    Eerr_ErrorReport *inner = nullptr;
    tileStack = egda_BaseDataStackPtrCreate(26, &inner);
    if (!tileStack) {
      lower::ReportChained(err, inner, reporter, 1, "Error creating tileStack");
      return nullptr;
    }
  }
  const int32_t level = DitherLevel(opacity);
  if (!tileStack->layers[level]) {
    Eerr_ErrorReport *inner = nullptr;
    Egda_BaseData *tile = egda_BaseDataCreate(5, 5, EGDA_TYPE_U8, EGDA_RASTER, nullptr, &inner);
    if (!tile) {
      lower::ReportChained(err, inner, reporter, 2, "Error creating tile");
      return nullptr;
    }
    for (int32_t row = 0; row < 5; ++row)
      for (int32_t column = 0; column < 5; ++column)
        tile->origin[row * tile->pitch + column] = kDither[column][row] <= level ? 1 : 0;
    tileStack->layers[level] = tile;
  }
  return tileStack->layers[level];
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
