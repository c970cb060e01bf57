// What the vertex element types (polyline, polygon, point) do alike, written once over a traits
// type: the record {flags, style number, vector data} with its create, free, copy, print, write
// and read; the element's creation, keyword list, style and coordinate setters, map-space
// coordinates, box, copy, replacement of values or of one line, the transform baked into the
// coordinates, conversion to map units, reprojection, counting and naming. A type's own file
// gives its traits, its render and hit test, and its exported faces, which pass their own names
// as reporters. Only the element files include it.
#ifndef TAVIRON_ANNOTATION_ELEMENTS_EANT_VERTEX_INTERNAL_H
#define TAVIRON_ANNOTATION_ELEMENTS_EANT_VERTEX_INTERNAL_H

#include <cstdarg>
#include <string>

#include "eant_element_internal.h"
#include "efio.h"
#include "emsc.h"
#include "estr.h"
#include "exfr.h"
#include "keywords.h"

namespace taviron::eant::vertex {

namespace lower = taviron::lower;
using V = lower::Value;

using element::BlockPtr;
using element::XFormPtr;

struct LineStyleDeleter {
  void operator()(Eevg_LineStyle *style) const noexcept { eevg_LineStyleFree(&style); }
};
using LineStylePtr = std::unique_ptr<Eevg_LineStyle, LineStyleDeleter>;

// Making the element's style the current one belongs to the current styles of a layer, which are
// not built yet: until they are, selecting does nothing and succeeds.
inline bool SelectCurrentStyle(Eant_AnnotationInfo *, int32_t /*kind*/, int32_t /*number*/, bool /*only*/,
                               Eerr_ErrorReport **) {
  return true;
}

// The style families of the vertex types: the line styles (polyline, point) and the fill styles
// (polygon).
struct LineStyles {
  static constexpr const char *kStyleWord = "lineStyle";
  static constexpr const char *kStyleReference = "Invalid input lineStyle";
  static constexpr int32_t kStyleKeyword = EANT_ELEMKEY_LINESTYLE;
  static constexpr int32_t kStyleByStyleKeyword = EANT_ELEMKEY_LINESTYLEBYSTYLE;
  static constexpr int32_t kSelectKind = 2;
  static constexpr auto &IncrementUseCount = eant_LineStyleIncrementUseCount;
  static constexpr auto &AddToLocalLibrary = eant_LineStyleAddToLocalLibrary;
  static constexpr auto &CopyBetweenLibs = eant_LineStyleCopyBetweenLibs;
  static constexpr const char *kIncrementName = "eant_LineStyleIncrementUseCount";
  static constexpr const char *kAddToLocalName = "eant_LineStyleAddToLocalLibrary";
  static constexpr const char *kCopyBetweenName = "eant_LineStyleCopyBetweenLibs";
  static constexpr const char *kGrowBoxName = "eant_ModifyBboxByLineStyle";
};
struct FillStyles {
  static constexpr const char *kStyleWord = "fillStyle";
  static constexpr const char *kStyleReference = "Invalid input fillStyle";
  static constexpr int32_t kStyleKeyword = EANT_ELEMKEY_FILLSTYLE;
  static constexpr int32_t kStyleByStyleKeyword = EANT_ELEMKEY_FILLSTYLEBYSTYLE;
  static constexpr int32_t kSelectKind = 4;
  static constexpr auto &IncrementUseCount = eant_FillStyleIncrementUseCount;
  static constexpr auto &AddToLocalLibrary = eant_FillStyleAddToLocalLibrary;
  static constexpr auto &CopyBetweenLibs = eant_FillStyleCopyBetweenLibs;
  static constexpr const char *kIncrementName = "eant_FillStyleIncrementUseCount";
  static constexpr const char *kAddToLocalName = "eant_FillStyleAddToLocalLibrary";
  static constexpr const char *kCopyBetweenName = "eant_FillStyleCopyBetweenLibs";
  static constexpr const char *kGrowBoxName = "eant_ModifyBboxByFillStyle";
};

// A traits type T names:
//   Record, Type (the registered element type), kCode, kKind ("Polyline"), kLower ("polyline"),
//   kStyleWord ("lineStyle"), kStyle and kCoords (members of Record), kStyleKeyword,
//   kStyleByStyleKeyword, kCoordsKeyword, kCounter (member of Eant_ElementInfo), kSelectKind,
//   kNodeName, kOldDesign, kDesign, kKeywordMessage, kSetCoordsName, kSetCoordsInvalid,
//   kAddXFormCode (code of a failed eant_AddXForm in the map coordinates), kStyleReference
//   ("Invalid input lineStyle"), and the faces ElementCreate, SetValues, SetStyle,
//   SetStyleByStyle, SetCoords, MapVectorData, GetVectorData and CopyRecord, and the style
//   family's IncrementUseCount, AddToLocalLibrary, CopyBetweenLibs, and GrowBox (info, corners,
//   conversion, err).
template <class T> struct Vertex {
  using Record = typename T::Record;

  static Record *RecordOf(const Eant_Element *element) { return static_cast<Record *>(element->info); }
  static Eant_VectorData *&Coords(Record *record) { return record->*T::kCoords; }
  static Eant_VectorData *Coords(const Record *record) { return record->*T::kCoords; }
  static int32_t &Style(Record *record) { return record->*T::kStyle; }
  static std::string Name(const char *pattern) { return lower::Format(pattern, T::kKind); }

  // ---- The record ----

  static Record *Create(const char *reporter, Eerr_ErrorReport **err) {
    auto *record = lower::HeapNew<Record>();
    if (!record) {
      lower::Report(err, reporter, 1, "Error allocating %s", T::kKind);
      return nullptr;
    }
    Style(record) = -1;
    return record;
  }

  static void Free(Record **record) {
    if (!record || !*record) return;
    eant_VectorDataFree(&Coords(*record));
    lower::HeapDelete(*record);
    *record = nullptr;
  }

  // The style and the coordinates (not the flags) into target or a new record.
  static Record *Copy(const char *reporter, const Record *source, Record *target, Eerr_ErrorReport **err) {
    if (!source) {
      lower::Report(err, reporter, 1, "Invalid input Eant_%s", T::kKind);
      return target;
    }
    lower::CalleeReport inner;
    Record *made = nullptr;
    if (!target && !(target = made = Create(reporter, &inner))) {
      lower::PassOn(err, inner);
      return nullptr;
    }
    if (Coords(source)) {
      Eant_VectorData *copy = eant_VectorDataCopy(Coords(source), Coords(target), &inner);
      if (!copy || inner) {
        const bool madeHere = made != nullptr;
        Free(&made);
        lower::ReportCallee(err, inner, reporter, 3, "eant_VectorDataCopy");
        return madeHere ? nullptr : target;
      }
      Coords(target) = copy;
    } else {
      eant_VectorDataFree(&Coords(target));
    }
    Style(target) = source->*T::kStyle;
    return target;
  }

  static void Print(const char *reporter, const Record *record, Eerr_ErrorReport **err) {
    if (!record) return lower::Report(err, reporter, 1, "Invalid input Eant_%s", T::kKind);
    efio_Printf("%s - %ld\n", T::kStyleWord, static_cast<long>(record->*T::kStyle));
    lower::CalleeReport inner;
    eant_VectorDataPrint(Coords(record), &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_VectorDataPrint");
  }

  // Writes the record as the child T::kNodeName of the current entry (which it leaves current).
  static void Write(const char *reporter, Eant_FileIO *fileIO, const Record *record, Eerr_ErrorReport **err) {
    Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
    if (!data) return;
    if (!record) return lower::Report(err, reporter, 4, "Invalid input %s", T::kLower);
    Ehfa_File *file = fileIO->file;
    lower::CalleeReport inner;
    if (!eant_PutDesignInDictionary(data, kVectorData2Design.name, file->dictionary, &inner))
      return lower::ReportCallee(err, inner, reporter, 5, "eant_PutDesignInDictionary for VectorData_2_Eant");
    const Emif_Design *design = eant_PutDesignInDictionary(data, T::kDesign, file->dictionary, &inner);
    if (!design) {
      const std::string callee = lower::Format("eant_PutDesignInDictionary for %s", T::kDesign);
      return lower::ReportCallee(err, inner, reporter, 6, callee.c_str());
    }
    auto *coords = static_cast<VectorData2Stored *>(eant_VectorDataCopyToPrivate(Coords(record), &inner));
    if (inner) return lower::ReportCallee(err, inner, reporter, 7, "eant_VectorDataCopyToPrivate");
    Vertices2Stored stored{record->flags, record->*T::kStyle, coords};
    const Ehfa_Entry *written =
        ehfa_ObjectWrite(file, nullptr, T::kNodeName, T::kDesign, EHFA_CHILD, &stored, design, &inner);
    if (coords) emsc_HeapFree(coords->coords.data);
    lower::HeapDelete(coords);
    if (!written || inner) lower::ReportCallee(err, inner, reporter, 8, "ehfa_ObjectWrite");
  }

  // Frees what a read left in a stored form.
  template <class Stored> static void Discard(const record::Design &design, Stored &stored) {
    if (!stored.coords) return;
    record::FreeContents(design, stored.coords);
    emsc_HeapFree(stored.coords);
    stored.coords = nullptr;
  }

  // Reads the child T::kNodeName of the current entry into record (its coordinates replaced) or a
  // new record; the design follows the layer's version.
  static Record *Read(const char *reporter, Eant_FileIO *fileIO, Record *record, Eerr_ErrorReport **err) {
    Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
    if (!data) return nullptr;
    const int32_t version = fileIO->annotationVersion;
    if (version < 0 || version > EANT_ANNOTATION_VERSION) {
      lower::Report(err, reporter, 11, "Invalid annotation layer version number %ld", static_cast<long>(version));
      return nullptr;
    }
    const bool older = version < 2;
    lower::CalleeReport inner;
    const char *designName = older ? T::kOldDesign : T::kDesign;
    const Emif_Design *design = data->dictionary ? emif_FindDesignByName(data->dictionary, designName, &inner) : nullptr;
    if (!design) {
      inner.Drop();
      lower::Report(err, reporter, older ? 5 : 8, "Error returned from emif_FindDesignByName");
      return nullptr;
    }
    const int32_t position = fileIO->versionFlags == 1 ? EHFA_FOLLOWING : EHFA_CHILD_NAMED;
    int32_t style = -1;
    uint32_t flags = 0;
    Eant_VectorData *coords = nullptr;
    if (older) {
      VerticesStored stored{-1, nullptr};
      if (!ehfa_ObjectRead(fileIO->file, nullptr, T::kNodeName, position, &stored, design, &inner) || inner) {
        Discard(kVectorDataDesign, stored);
        lower::ReportCallee(err, inner, reporter, 6, "ehfa_ObjectRead");
        return nullptr;
      }
      coords = eant_VectorDataCopyFromPrivate(stored.coords, &inner);
      Discard(kVectorDataDesign, stored);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 7, "eant_VectorDataCopyFromPrivate");
        return nullptr;
      }
      style = stored.style;
    } else {
      Vertices2Stored stored{0, -1, nullptr};
      if (!ehfa_ObjectRead(fileIO->file, nullptr, T::kNodeName, position, &stored, design, &inner) || inner) {
        Discard(kVectorData2Design, stored);
        lower::ReportCallee(err, inner, reporter, 9, "ehfa_ObjectRead");
        return nullptr;
      }
      coords = eant_VectorDataCopyFromPrivate2(stored.coords, &inner);
      Discard(kVectorData2Design, stored);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 10, "eant_VectorDataCopyFromPrivate2");
        return nullptr;
      }
      style = stored.style;
      flags = stored.flags;
    }
    // Committed only now: a failed read leaves a given record as it was.
    if (!record && !(record = Create(reporter, &inner))) {
      eant_VectorDataFree(&coords);
      lower::ReportCallee(err, inner, reporter, 4, Name("eant_%sCreate").c_str());
      return nullptr;
    }
    eant_VectorDataFree(&Coords(record));
    Coords(record) = coords;
    Style(record) = style;
    if (!older) record->flags = flags;
    return record;
  }

  // ---- Checks ----

  // The element of this type (codes 1 and 2 with the given texts), or null after the report.
  static bool Check(const char *reporter, const Eant_Element *element, const char *invalid, bool article,
                    Eerr_ErrorReport **err) {
    if (!element) {
      lower::Report(err, reporter, 1, "%s", invalid);
      return false;
    }
    if (element->elmType != T::kCode) {
      lower::Report(err, reporter, 2, article ? "Input element is not a %s" : "Input element is not %s", T::kLower);
      return false;
    }
    return true;
  }

  // ---- The element ----

  static Eant_Element *ElementCreate(const char *reporter, Eant_AnnotationInfo *info, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    Eant_Element *element = eant_ElementCreate(info, &inner);
    if (!element) {
      lower::ReportCallee(err, inner, reporter, 1, "eant_ElementCreate");
      return nullptr;
    }
    Record *record = Create(reporter, &inner);
    if (!record) {
      eant_ElementFree(&element);
      lower::ReportCallee(err, inner, reporter, 2, Name("eant_%sCreate").c_str());
      return nullptr;
    }
    element->elmType = T::kCode;
    element->info = record;
    element->functions = &ElementTypes::Of<typename T::Type>();
    return element;
  }

  static void ElementFree(Eant_Element **element) {
    if (!element || !*element) return;
    Record *record = RecordOf(*element);
    Free(&record);
    (*element)->info = nullptr;
    eant_ElementFree(element);
  }

  static constexpr lower::Keyword kKeywords[] = {
      TAVIRON_EANT_COMMON_KEYWORDS,
      {T::kStyleKeyword, {V::Int}},
      {T::kStyleByStyleKeyword, {V::Pointer}},
      {T::kCoordsKeyword, {V::Int, V::Pointer}}};
  static constexpr lower::KeywordList kKeywordList{{kKeywords}, T::kKeywordMessage};

  // The factory: creates the element when none is given (and frees it again on a failure), applies
  // the keywords in order, recomputes the box and fires the moved callbacks when the geometry or
  // the style changed, and the modified callbacks whenever an annotation info is given.
  static Eant_Element *SetValues(const char *reporter, Eant_AnnotationInfo *info, Eant_Element *element,
                                 Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err, va_list ap) {
    lower::CalleeReport inner;
    Eant_Element *made = nullptr;
    if (!element && !(element = made = T::ElementCreate(info, &inner))) {
      lower::ReportCallee(err, inner, reporter, 1, Name("eant_%sElementCreate").c_str());
      return nullptr;
    }
    if (element->elmType != T::kCode) {
      lower::Report(err, reporter, 2, "Input element is not %s", T::kLower);
      return element;
    }
    const auto fail = [&](int32_t code, const char *callee) {
      lower::ReportCallee(err, inner, reporter, code, callee);
      return false;
    };
    bool moved = false;
    const bool ended = lower::ReadKeywords(kKeywordList, ap, reporter, 12, err, [&](int32_t key,
                                                                                   const lower::KeywordValues &v) {
      bool handled = false;
      const bool applied = element::ApplyCommonKeyword(reporter, element, key, v, handled, moved, err);
      if (handled) return applied;
      if (key == T::kStyleKeyword) {
        T::SetStyle(info, element, v.Int(0), &inner);
        if (inner) return fail(9, Name("eant_%sElementSetStyle").c_str());
      } else if (key == T::kStyleByStyleKeyword) {
        T::SetStyleByStyle(info, element, v.Pointer<Eant_Style>(0), &inner);
        if (inner) return fail(10, Name("eant_%sElementSetStyleByStyle").c_str());
      } else {
        T::SetCoords(element, v.Int(0), v.Pointer<const Efga_CoordinateBlock>(1), &inner);
        if (inner) return fail(11, T::kSetCoordsName);
      }
      moved = true;
      return true;
    });
    const bool ok = element::FinishSetValues(reporter, info, element, conversion, ended, moved, 13, err);
    if (!ok && made) {
      ElementFree(&made);
      return nullptr;
    }
    return element;
  }

  // The style number: the record is made when missing; with an annotation info the style's use
  // count rises (the replaced style's count is left as it was).
  static void SetStyle(const char *reporter, Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                       const char *invalid, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, invalid, false, err)) return;
    lower::CalleeReport inner;
    if (!element->info && !(element->info = Create(reporter, &inner)))
      return lower::ReportCallee(err, inner, reporter, 3, Name("eant_%sCreate").c_str());
    Style(RecordOf(element)) = number;
    if (!info) return;
    T::IncrementUseCount(info->styleLib, number, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 4, T::kIncrementName);
  }

  static void SetStyleByStyle(const char *reporter, Eant_AnnotationInfo *info, Eant_Element *element,
                              Eant_Style *style, Eerr_ErrorReport **err) {
    if (!style) return lower::Report(err, reporter, 1, "%s", T::kStyleReference);
    lower::CalleeReport inner;
    const int32_t number = T::AddToLocalLibrary(info, style, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, T::kAddToLocalName);
    T::SetStyle(info, element, number, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 3, Name("eant_%sElementSetStyle").c_str());
  }

  // A copy of the block becomes the coordinates; the transform is reset to identity.
  static void SetCoords(const char *reporter, Eant_Element *element, int32_t source,
                        const Efga_CoordinateBlock *block, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, T::kSetCoordsInvalid, false, err)) return;
    lower::CalleeReport inner;
    if (!element->info && !(element->info = Create(reporter, &inner)))
      return lower::ReportCallee(err, inner, reporter, 3, Name("eant_%sCreate").c_str());
    Eant_VectorData *&coords = Coords(RecordOf(element));
    if (!coords && !(coords = eant_VectorDataCreate(&inner)))
      return lower::ReportCallee(err, inner, reporter, 4, "eant_VectorDataCreate");
    eant_VectorDataSet(coords, source, block, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 5, "eant_VectorDataSet");
    eant_ElementInitXformMatrix(element, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 6, "eant_ElementInitXformMatrix");
  }

  static int32_t GetStyle(const char *reporter, Eant_Element *element, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input element", false, err)) return -1;
    if (!element->info) {
      lower::Report(err, reporter, 3, "Input element does not contain %s info", T::kLower);
      return -1;
    }
    return Style(RecordOf(element));
  }

  // The coordinates in map space (the element's transform, its units carried to map units, then
  // the extra transform) into block or a new block; the caller owns the result.
  static Efga_CoordinateBlock *MapVectorData(const char *reporter, Eant_Element *element, _exfr_XForm *xform,
                                             Eant_CoordSysConversion *conversion, Efga_CoordinateBlock *block,
                                             Eerr_ErrorReport **err) {
    if (!element) {
      lower::Report(err, reporter, 1, "Invalid element");
      return block;
    }
    if (element->elmType != T::kCode) {
      lower::Report(err, reporter, 2, "Input element is not a %s", T::kLower);
      return block;
    }
    if (!element->info) {
      lower::Report(err, reporter, 3, "Invalid %s info", T::kLower);
      return block;
    }
    lower::CalleeReport inner;
    // An element without position units is placed in the layer's map units.
    PolynomialPtr translation;
    if (element->positionUnits) {
      translation.reset(eant_CoordSysConversionGetTranslationPolyAllowNULL(conversion, element->positionUnits, &inner));
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 4, "eant_CoordSysConversionGetTranslationPolyAllowNULL");
        return block;
      }
    }
    PolynomialPtr composed;
    const Efga_Polynomial *poly = element->xformMatrix;
    if (translation) {
      if (!(composed.reset(efga_PolynomialComposition(element->xformMatrix, translation.get(), &inner)), composed)) {
        lower::ReportCallee(err, inner, reporter, 5, "efga_PolynomialComposition");
        return block;
      }
      poly = composed.get();
    }
    XFormPtr transform(eant_AddXForm(poly, xform, &inner));
    if (!transform) {
      lower::ReportCallee(err, inner, reporter, T::kAddXFormCode, "eant_AddXForm");
      return block;
    }
    Efga_CoordinateBlock *result = eant_VectorDataGet(Coords(RecordOf(element)), transform.get(), block, &inner);
    if (inner || !result) {
      lower::ReportCallee(err, inner, reporter, 7, "eant_VectorDataGet");
      if (result != block) efga_CoordBlockDelete(result, nullptr);
      return block;
    }
    return result;
  }

  // A new map-space block, or null after the report (under `code` of the reporter).
  static BlockPtr MapBlock(const char *reporter, int32_t code, Eant_Element *element, _exfr_XForm *xform,
                           Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    BlockPtr block(T::MapVectorData(element, xform, conversion, nullptr, &inner));
    if (inner || !block) {
      lower::ReportCallee(err, inner, reporter, code, Name("eant_Get%sMapVectorData").c_str());
      return nullptr;
    }
    return block;
  }

  // Carries a map-space block back into the element's units, in place.
  static bool ToElementUnits(const char *reporter, int32_t code, Eant_Element *element,
                             Eant_CoordSysConversion *conversion, Efga_CoordinateBlock *block, Eerr_ErrorReport **err) {
    if (!element->positionUnits) return true;
    lower::CalleeReport inner;
    PolynomialPtr inverse(eant_CoordSysConversionGetInvTranslationPoly(conversion, element->positionUnits, &inner));
    if (!inverse) {
      lower::ReportCallee(err, inner, reporter, code, "eant_CoordSysConversionGetInvTranslationPoly");
      return false;
    }
    XFormPtr transform(exfr_XFormCreate(inverse.get(), 0, &inner));
    if (!transform) {
      lower::ReportCallee(err, inner, reporter, code, "exfr_XFormCreate");
      return false;
    }
    if (!exfr_CoordBlockTransform(transform.get(), block, block, &inner) || inner) {
      lower::ReportCallee(err, inner, reporter, code, "exfr_CoordBlockTransform");
      return false;
    }
    return true;
  }

  // The coordinates in the element's own units with its transform applied.
  static Efga_CoordinateBlock *GetVectorData(const char *reporter, Eant_Element *element, _exfr_XForm *xform,
                                             Eant_CoordSysConversion *conversion, Efga_CoordinateBlock *block,
                                             Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    Efga_CoordinateBlock *result = T::MapVectorData(element, xform, conversion, block, &inner);
    if (inner || !result) {
      lower::ReportCallee(err, inner, reporter, 1, Name("eant_Get%sMapVectorData").c_str());
      return block;
    }
    if (!ToElementUnits(reporter, 2, element, conversion, result, err)) {
      if (result != block) efga_CoordBlockDelete(result, nullptr);
      return block;
    }
    return result;
  }

  // Replaces line `index` by part (in map units; the block then owns it); another index changes
  // nothing. The element takes the coordinates back through its keyword list.
  static void ReplaceVectorDataElement(const char *reporter, Eant_Element *element, Eant_CoordSysConversion *conversion,
                                       Egda_BaseData *part, int32_t index, Eerr_ErrorReport **err) {
    BlockPtr block = MapBlock(reporter, 1, element, nullptr, conversion, err);
    if (!block) return;
    if (index < 0 || index >= block->count) return;
    if (!part || part->rows != 2 || part->pixelType != EGDA_TYPE_F64)
      return lower::Report(err, reporter, 2, "Invalid input vector data element");
    egda_BaseDataDelete(block->parts[index], nullptr);
    block->parts[index] = part;
    if (!ToElementUnits(reporter, 3, element, conversion, block.get(), err)) {
      block->parts[index] = nullptr; // the caller keeps its part
      return;
    }
    lower::CalleeReport inner;
    T::SetValues(element->antInfo, element, conversion, &inner, T::kCoordsKeyword, EANT_LOCAL, block.get(),
                 EANT_ELEMKEY_END);
    if (inner) {
      block->parts[index] = nullptr;
      lower::ReportCallee(err, inner, reporter, 4, Name("eant_%sElementSetValues").c_str());
    }
  }

  // ---- Slots ----

  // The copy of an element. A destination that is linked into a list (or holds children) is
  // refused: freeing it as a list would free its siblings and leave its neighbours dangling.
  static Eant_Element *ElementCopy(const char *reporter, Eant_Element *source, Eant_Element *target,
                                   Eerr_ErrorReport **err) {
    if (!Check(reporter, source, "Invalid input Eant_Element", true, err)) return nullptr;
    if (target && (target->next || target->previous || target->parent || target->child)) {
      lower::Report(err, reporter, 4, "Output element is linked into an element list");
      return nullptr;
    }
    eant_ElementListFree(&target);
    lower::CalleeReport inner;
    Eant_Element *copy = eant_ElementCopy(source, nullptr, &inner);
    if (!copy) {
      lower::ReportCallee(err, inner, reporter, 3, "eant_ElementCopy");
      return nullptr;
    }
    copy->info = nullptr;
    if (source->info) {
      Record *record = T::CopyRecord(RecordOf(source), nullptr, &inner);
      if (!record) {
        eant_ElementFree(&copy);
        lower::ReportCallee(err, inner, reporter, 3, Name("eant_%sCopy").c_str());
        return nullptr;
      }
      copy->info = record;
    }
    copy->functions = &ElementTypes::Of<typename T::Type>();
    return copy;
  }

  static void ElementPrint(const char *reporter, Eant_Element *element, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input Eant_Element", true, err)) return;
    lower::CalleeReport inner;
    eant_ElementPrint(element, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_ElementPrint");
    Print(reporter, RecordOf(element), err);
  }

  static void ElementWrite(const char *reporter, Eant_FileIO *fileIO, const char *nodePath, int32_t position,
                           Eant_Element *element, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input element", false, err)) return;
    lower::CalleeReport inner;
    eant_ElementWrite(fileIO, nodePath, position, element, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_ElementWrite");
    T::Write(fileIO, RecordOf(element), &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 4, Name("eant_%sWrite").c_str());
    if (!ehfa_EntrySeek(fileIO->file, EHFA_PARENT, nullptr, &inner) || inner)
      lower::ReportCallee(err, inner, reporter, 5, "ehfa_EntrySeek for parent");
  }

  static void ElementRead(const char *reporter, Eant_FileIO *fileIO, Eant_Element *element, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input element", false, err)) return;
    lower::CalleeReport inner;
    Record *record = T::Read(fileIO, RecordOf(element), &inner);
    if (!record || inner) return lower::ReportCallee(err, inner, reporter, 3, Name("eant_%sRead").c_str());
    element->info = record;
    element->functions = &ElementTypes::Of<typename T::Type>();
    if (fileIO->versionFlags != 1 && (!ehfa_EntrySeek(fileIO->file, EHFA_PARENT, nullptr, &inner) || inner))
      lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntrySeek for parent");
  }

  // The corners of the coordinates' extent grown by the style.
  static Egda_BaseData *Bbox(const char *reporter, Eant_Element *element, _exfr_XForm *xform,
                             Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    BlockPtr block = MapBlock(reporter, 1, element, xform, conversion, err);
    if (!block) return nullptr;
    lower::CalleeReport inner;
    MatrixPtr corners(eant_GetBboxFromCoordBlock(block.get(), nullptr, &inner));
    if (!corners) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_GetBboxFromCoordBlock");
      return nullptr;
    }
    if (element->antInfo) {
      T::GrowBox(element->antInfo, RecordOf(element), corners.get(), conversion, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 3, T::kGrowBoxName);
        return nullptr;
      }
    }
    return corners.release();
  }

  static void CopyStyleBetweenLibs(const char *reporter, Eant_Element *element, Eant_StyleLibrary *from,
                                   Eant_StyleLibrary *to, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input Eant_Element", true, err)) return;
    if (!element->info) return lower::Report(err, reporter, 3, "Invalid %s info", T::kLower);
    lower::CalleeReport inner;
    const int32_t number = T::CopyBetweenLibs(Style(RecordOf(element)), from, to, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 4, T::kCopyBetweenName);
    Style(RecordOf(element)) = number;
  }

  // The coordinates in the element's units with the transform folded in; the transform becomes
  // identity.
  static void UpdateInfo(const char *reporter, Eant_Element *element, Eant_CoordSysConversion *conversion,
                         Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    BlockPtr block(T::GetVectorData(element, nullptr, conversion, nullptr, &inner));
    if (inner || !block) return lower::ReportCallee(err, inner, reporter, 1, Name("eant_%sGetVectorData").c_str());
    T::SetCoords(element, EANT_LOCAL, block.get(), &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, T::kSetCoordsName);
  }

  static void ReplaceValues(const char *reporter, Eant_Element *source, Eant_Element *target,
                            Eerr_ErrorReport **err) {
    if (!Check(reporter, source, "Invalid input Eant_Element", true, err)) return;
    if (!target) return lower::Report(err, reporter, 3, "Invalid output Eant_Element");
    lower::CalleeReport inner;
    eant_ElementReplaceValues(source, target, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_ElementReplaceValues");
    if (!source->info) return;
    Record *record = T::CopyRecord(RecordOf(source), RecordOf(target), &inner);
    if (!record || inner) return lower::ReportCallee(err, inner, reporter, 5, Name("eant_%sCopy").c_str());
    target->info = record;
  }

  // The map-space coordinates become the coordinates, in map units of the conversion.
  static void ConvertToMap(const char *reporter, Eant_Element *element, Eant_CoordSysConversion *conversion,
                           Eerr_ErrorReport **err) {
    if (!conversion) return lower::Report(err, reporter, 4, "Invalid input coordConvert");
    BlockPtr block = MapBlock(reporter, 1, element, nullptr, conversion, err);
    if (!block) return;
    lower::CalleeReport inner;
    Eant_CoordDefinition *units =
        eant_CoordDefinitionSetValues(element->positionUnits, EEVG_MAP, conversion->mapUnits, &inner);
    if (!units || inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_CoordDefinitionSetValues");
    element->positionUnits = units;
    T::SetCoords(element, EANT_LOCAL, block.get(), &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 3, T::kSetCoordsName);
  }

  // An element placed in map coordinates is carried through the transform into the new map; every
  // element's box is recomputed with the new conversion.
  static void TransformMap(const char *reporter, Eant_Element *element, _exfr_XForm *xform,
                           Eant_CoordSysConversion *from, Eant_CoordSysConversion *to, const char *mapUnits,
                           Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input Eant_Element", true, err)) return;
    lower::CalleeReport inner;
    if (element->positionUnits && element->positionUnits->coordSys == EEVG_MAP) {
      BlockPtr block = MapBlock(reporter, 3, element, xform, from, err);
      if (!block) return;
      T::SetCoords(element, EANT_LOCAL, block.get(), &inner);
      if (inner) return lower::ReportCallee(err, inner, reporter, 4, T::kSetCoordsName);
      if (!eant_CharStrCreate(mapUnits, &element->positionUnits->units, &inner) || inner)
        return lower::ReportCallee(err, inner, reporter, 5, "eant_CharStrCreate");
    }
    eant_ElementBboxComputeAndReset(element, to, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 6, "eant_ElementBboxComputeAndReset");
  }

  static void IncrementCount(const char *reporter, Eant_Element *element, Eant_ElementInfo *counts,
                             Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input Eant_Element", true, err)) return;
    if (!counts) return lower::Report(err, reporter, 3, "Invalid input Eant_ElementInfo");
    ++counts->total;
    ++(counts->*T::kCounter);
  }

  static const char *TypeString(const char *reporter, Eant_Element *element, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input Eant_Element", true, err)) return nullptr;
    char *copy = estr_Duplicate(T::kKind);
    if (!copy) lower::Report(err, reporter, 3, "Error allocating type string");
    return copy;
  }

  static int32_t CanBeFlipped(const char *reporter, Eant_Element *element, Eerr_ErrorReport **err) {
    return Check(reporter, element, "Invalid input Eant_Element", true, err) ? 1 : 0;
  }

  // The hit test of the line-style types: near(coordinate, map-space block, drawing line style)
  // after the checks (codes 1, 2), the coordinates (3) and a drawing style made for the test (4).
  template <class Near>
  static int32_t HitByLineStyle(const char *reporter, Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                                Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *conversion,
                                Near &&near, const char *nearName, Eerr_ErrorReport **err) {
    if (!Check(reporter, element, "Invalid input Eant_Element", true, err)) return 0;
    BlockPtr block = MapBlock(reporter, 3, element, xform, conversion, err);
    if (!block) return 0;
    lower::CalleeReport inner;
    LineStylePtr style(eant_GetLineStyle(toolkit, styles, Style(RecordOf(element)), conversion, &inner));
    if (!style || inner) {
      lower::ReportChained(err, inner, reporter, 4, "Error returned by eant_GetLineStyle");
      return 0;
    }
    const int32_t hit = near(block.get(), style.get(), &inner);
    if (!inner) return hit;
    lower::ReportChained(err, inner, reporter, 5, "Error returned by %s", nearName);
    return 0;
  }

  // Makes the element's style current (the Only form returns the kind of style made current).
  static int32_t SelectStyle(const char *reporter, Eant_AnnotationInfo *info, Eant_Element *element, bool only,
                             Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err) {
    if (!info) {
      lower::Report(err, reporter, 1, "Invalid input annotation info");
      return 0;
    }
    if (!element) {
      lower::Report(err, reporter, 2, "Invalid input element");
      return 0;
    }
    if (element->elmType != T::kCode) {
      lower::Report(err, reporter, 3, "Input element is not %s", T::kLower);
      return 0;
    }
    if (!element->info) {
      lower::Report(err, reporter, 4, "Input element %s info is not valid", T::kLower);
      return 0;
    }
    lower::CalleeReport inner;
    if (!SelectCurrentStyle(info, T::kSelectKind, Style(RecordOf(element)), only, &inner)) {
      lower::ReportCallee(err, inner, reporter, 5, "the current styles");
      return 0;
    }
    if (update) {
      update(updateData, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 6, "dialogUpdate");
        return 0;
      }
    }
    return T::kSelectKind;
  }
};

// The exported faces of a vertex type's record and element operations that are the same for
// every type, each passing its own name as the reporter.
#define TAVIRON_EANT_VERTEX_FACES(Kind, Traits)                                                                \
  Eant_##Kind *eant_##Kind##Create(Eerr_ErrorReport **err) try {                                             \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::Create(__func__, err);                                                            \
  } TAVIRON_GUARD(err, nullptr)                                                                              \
  void eant_##Kind##Free(Eant_##Kind **record) try { Vertex<Traits>::Free(record); }                        \
  TAVIRON_GUARD_QUIET_VOID                                                                                   \
  Eant_##Kind *eant_##Kind##Copy(const Eant_##Kind *source, Eant_##Kind *target, Eerr_ErrorReport **err) try { \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::Copy(__func__, source, target, err);                                              \
  } TAVIRON_GUARD(err, nullptr)                                                                              \
  void eant_##Kind##Print(const Eant_##Kind *record, Eerr_ErrorReport **err) try {                           \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::Print(__func__, record, err);                                                            \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  void eant_##Kind##Write(Eant_FileIO *fileIO, const Eant_##Kind *record, Eerr_ErrorReport **err) try {      \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::Write(__func__, fileIO, record, err);                                                    \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  Eant_##Kind *eant_##Kind##Read(Eant_FileIO *fileIO, Eant_##Kind *record, Eerr_ErrorReport **err) try {     \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::Read(__func__, fileIO, record, err);                                              \
  } TAVIRON_GUARD(err, nullptr)                                                                              \
  Eant_Element *eant_##Kind##ElementCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {          \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::ElementCreate(__func__, info, err);                                               \
  } TAVIRON_GUARD(err, nullptr)                                                                              \
  Eant_Element *eant_##Kind##ElementSetValues(Eant_AnnotationInfo *info, Eant_Element *element,              \
                                              Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err, ...) try { \
    lower::Clear(err);                                                                                       \
    va_list ap;                                                                                              \
    va_start(ap, err);                                                                                       \
    Eant_Element *result = Vertex<Traits>::SetValues(__func__, info, element, conversion, err, ap);           \
    va_end(ap);                                                                                              \
    return result;                                                                                           \
  } TAVIRON_GUARD(err, nullptr)                                                                              \
  void eant_##Kind##ElementFree(Eant_Element **element) try { Vertex<Traits>::ElementFree(element); }        \
  TAVIRON_GUARD_QUIET_VOID                                                                                   \
  int32_t eant_##Kind##ElementGetStyle(Eant_Element *element, Eerr_ErrorReport **err) try {                  \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::GetStyle(__func__, element, err);                                                 \
  } TAVIRON_GUARD(err, -1)                                                                                   \
  Efga_CoordinateBlock *eant_Get##Kind##MapVectorData(Eant_Element *element, _exfr_XForm *xform,             \
                                                      Eant_CoordSysConversion *conversion,                   \
                                                      Efga_CoordinateBlock *block, Eerr_ErrorReport **err) try { \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::MapVectorData(__func__, element, xform, conversion, block, err);                  \
  } TAVIRON_GUARD(err, block)                                                                                \
  Efga_CoordinateBlock *eant_##Kind##GetVectorData(Eant_Element *element, _exfr_XForm *xform,                \
                                                   Eant_CoordSysConversion *conversion,                      \
                                                   Efga_CoordinateBlock *block, Eerr_ErrorReport **err) try {  \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::GetVectorData(__func__, element, xform, conversion, block, err);                  \
  } TAVIRON_GUARD(err, block)                                                                                \
  void eant_##Kind##ElementReplaceVectorDataElement(Eant_Element *element, Eant_CoordSysConversion *conversion, \
                                                    Egda_BaseData *part, int32_t index, Eerr_ErrorReport **err) try { \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::ReplaceVectorDataElement(__func__, element, conversion, part, index, err);               \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  void eant_##Kind##ElementRead(Eant_AnnotationInfo *, Eant_FileIO *fileIO, Eant_Element *element,           \
                                Eerr_ErrorReport **err) try {                                                \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::ElementRead(__func__, fileIO, element, err);                                             \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  Eant_Element *eant_##Kind##ElementCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try { \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::ElementCopy(__func__, source, target, err);                                       \
  } TAVIRON_GUARD(err, nullptr)                                                                              \
  void eant_##Kind##ElementPrint(Eant_Element *element, Eerr_ErrorReport **err) try {                        \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::ElementPrint(__func__, element, err);                                                    \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  void eant_##Kind##ElementWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position,                \
                                 Eant_Element *element, Eerr_ErrorReport **err) try {                        \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::ElementWrite(__func__, fileIO, nodePath, position, element, err);                        \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  Egda_BaseData *eant_##Kind##ElementBboxCalculateNoSave(Eant_Element *element, _exfr_XForm *xform,         \
                                                         Eant_CoordSysConversion *conversion,                \
                                                         Eerr_ErrorReport **err) try {                       \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::Bbox(__func__, element, xform, conversion, err);                                  \
  } TAVIRON_GUARD(err, nullptr)                                                                              \
  void eant_##Kind##ElementCopyStyleBetweenLibs(Eant_Element *element, Eant_StyleLibrary *from,              \
                                                Eant_StyleLibrary *to, Eerr_ErrorReport **err) try {         \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::CopyStyleBetweenLibs(__func__, element, from, to, err);                                  \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  void eant_##Kind##ElementUpdateInfo(Eant_Element *element, Eant_CoordSysConversion *conversion,            \
                                      Eerr_ErrorReport **err) try {                                          \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::UpdateInfo(__func__, element, conversion, err);                                          \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  void eant_##Kind##ElementReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try { \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::ReplaceValues(__func__, source, target, err);                                            \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  void eant_##Kind##ElementConvertToMap(Eant_Element *element, Eant_CoordSysConversion *conversion,          \
                                        Eerr_ErrorReport **err) try {                                        \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::ConvertToMap(__func__, element, conversion, err);                                        \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  void eant_##Kind##ElementTransformMap(Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *from, \
                                        Eant_CoordSysConversion *to, const char *mapUnits,                   \
                                        Eant_ProgressInfo *, Eerr_ErrorReport **err) try {                   \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::TransformMap(__func__, element, xform, from, to, mapUnits, err);                         \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  void eant_##Kind##ElementIncrementCount(Eant_Element *element, Eant_ElementInfo *counts,                   \
                                          Eerr_ErrorReport **err) try {                                      \
    lower::Clear(err);                                                                                       \
    Vertex<Traits>::IncrementCount(__func__, element, counts, err);                                          \
  } TAVIRON_GUARD_VOID(err)                                                                                  \
  const char *eant_##Kind##ElementGetTypeString(Eant_Element *element, Eerr_ErrorReport **err) try {         \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::TypeString(__func__, element, err);                                               \
  } TAVIRON_GUARD(err, nullptr)                                                                              \
  int32_t eant_##Kind##ElementCanBeFlipped(Eant_Element *element, Eerr_ErrorReport **err) try {              \
    lower::Clear(err);                                                                                       \
    return Vertex<Traits>::CanBeFlipped(__func__, element, err);                                             \
  } TAVIRON_GUARD(err, 0)

} // namespace taviron::eant::vertex

#endif
