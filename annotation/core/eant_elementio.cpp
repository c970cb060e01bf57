// Elements in hierarchical files: the stored common part ("Element_Eant", "Element_2_Eant"), the
// element-list node ("ElementNode_Eant"), the list writer with its interrupt check, and the list
// reader, which hands each element to the reader of its type.
#include <iterator>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>

#include "eant_internal.h"
#include "efnp.h"
#include "emsc.h"
#include "esmg.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

constexpr const char *kElementTypeNames[] = {
    "EANT_UNDEFINEDELEMENTTYPE", "EANT_FILLED_POLYGON", "EANT_VECTORS",    "EANT_GRID_CELLS",
    "EANT_UNFILLED_POLYGON",     "EANT_PATTERN_POLYGON", "EANT_FILLED_CIRCLE", "EANT_UNFILLED_CIRCLE",
    "EANT_PATTERN_CIRCLE",       "EANT_ARC",            "EANT_TEXT",       "EANT_SYMBOL",
    "EANT_LINE_GRID",            "EANT_RECTANGLE",      "EANT_ELLIPSE",    "EANT_POLYGON",
    "EANT_POLYLINE",             "EANT_GROUP",          "EANT_POINT"};
static_assert(std::size(kElementTypeNames) == EANT_POINT + 1);

// The common part as stored: the polynomials in their private form. The older design lacks the
// attribute record number.
struct ElementStored {
  int32_t id;
  Eant_CharStr name;
  Eant_CharStr description;
  int32_t elmType;
  Eant_CoordDefinition *scaleUnits;
  Eant_CoordDefinition *positionUnits;
  Efga_PolynomialPrivate *xformMatrix;
  Efga_PolynomialPrivate *ixformMatrix;
  Egda_BaseData *bBox;
};
struct Element2Stored {
  int32_t id;
  Eant_CharStr name;
  Eant_CharStr description;
  int32_t elmType;
  Eant_CoordDefinition *scaleUnits;
  Eant_CoordDefinition *positionUnits;
  Efga_PolynomialPrivate *xformMatrix;
  Efga_PolynomialPrivate *ixformMatrix;
  Egda_BaseData *bBox;
  int32_t attributeRecordNumber;
};
#define TAVIRON_EANT_ELEMENT_ITEMS(Record)                                                         \
  TAVIRON_ITEM(Record, id, EMIF_TYPE_S32), TAVIRON_ITEM(Record, name, EMIF_TYPE_STRING),            \
      TAVIRON_ITEM(Record, description, EMIF_TYPE_STRING),                                         \
      TAVIRON_ITEM(Record, elmType, EMIF_TYPE_ENUM).Enum(kElementTypeNames),                        \
      TAVIRON_ITEM(Record, scaleUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),   \
      TAVIRON_ITEM(Record, positionUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition), \
      TAVIRON_ITEM(Record, xformMatrix, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kPolynomial),       \
      TAVIRON_ITEM(Record, ixformMatrix, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kPolynomial),      \
      TAVIRON_ITEM(Record, bBox, EMIF_POINTER + EMIF_TYPE_BASEDATA)
constexpr record::Item kElementItems[] = {TAVIRON_EANT_ELEMENT_ITEMS(ElementStored)};
constexpr record::Design kElement = record::DesignOf<ElementStored>("Element_Eant", kElementItems);
constexpr record::Item kElement2Items[] = {TAVIRON_EANT_ELEMENT_ITEMS(Element2Stored),
                                           TAVIRON_ITEM(Element2Stored, attributeRecordNumber, EMIF_TYPE_S32)};
constexpr record::Design kElement2 = record::DesignOf<Element2Stored>("Element_2_Eant", kElement2Items);
#undef TAVIRON_EANT_ELEMENT_ITEMS
// The newer record begins with the older one.
static_assert(offsetof(Element2Stored, bBox) == offsetof(ElementStored, bBox));

struct ElementNode {
  int32_t nodeType;
};
constexpr const char *kNodeTypes[] = {"EANT_ELEMENTLIST", "EANT_SYMBOLELEMENTLIST"};
constexpr record::Item kElementNodeItems[] = {TAVIRON_ITEM(ElementNode, nodeType, EMIF_TYPE_ENUM).Enum(kNodeTypes)};
constexpr record::Design kElementNode = record::DesignOf<ElementNode>("ElementNode_Eant", kElementNodeItems);
static_assert(kElement.Matches() && kElement2.Matches() && kElementNode.Matches());

// The node name of a list node type, or null for an unknown type.
const char *NodeName(int32_t nodeType) {
  switch (nodeType) {
  case EANT_ELEMENTLIST: return "ElementList";
  case EANT_SYMBOLELEMENTLIST: return "SymbolElementList";
  default: return nullptr;
  }
}

// Moves a stored record into the element: the element takes the strings, units and box over and
// gets its transforms from their private forms. The record keeps what it still owns (freed by its
// design). Reports under `reporter` (eant_ElementCopyFromPrivate or ...2).
bool CopyFromPrivate(ElementStored *stored, const int32_t *attributeRecordNumber, Eant_Element &element,
                     const char *reporter, Eerr_ErrorReport **err) {
  if (!stored) {
    lower::Report(err, reporter, 1, "Invalid input privateElement");
    return false;
  }
  lower::CalleeReport inner;
  Efga_Polynomial *forward = nullptr, *inverse = nullptr;
  if (stored->xformMatrix && !(forward = efga_PolynomialCopyFromPrivate(stored->xformMatrix, &inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "efga_PolynomialCopyFromPrivate for xformMatrix");
    return false;
  }
  if (stored->ixformMatrix && !(inverse = efga_PolynomialCopyFromPrivate(stored->ixformMatrix, &inner))) {
    efga_PolynomialDelete(forward, nullptr);
    lower::ReportCallee(err, inner, reporter, 3, "efga_PolynomialCopyFromPrivate for ixformMatrix");
    return false;
  }
  element.id = stored->id;
  element.name = std::exchange(stored->name, Eant_CharStr{});
  element.description = std::exchange(stored->description, Eant_CharStr{});
  element.elmType = stored->elmType;
  eant_CoordDefinitionFree(&element.scaleUnits);
  eant_CoordDefinitionFree(&element.positionUnits);
  element.scaleUnits = std::exchange(stored->scaleUnits, nullptr);
  element.positionUnits = std::exchange(stored->positionUnits, nullptr);
  element.xformMatrix = forward;
  element.ixformMatrix = inverse;
  element.bBox = std::exchange(stored->bBox, nullptr);
  element.attributeRecordNumber = attributeRecordNumber ? *attributeRecordNumber : 0;
  return true;
}

// Reads the common part at (path, code) into element or a new bare element. `absent` tells a
// position that holds no entry (the end of a list) from a damaged record.
Eant_Element *ReadElement(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, const char *path, int32_t code,
                          Eant_Element *element, bool &absent, Eerr_ErrorReport **err) {
  static const char *reporter = "eant_ElementRead";
  absent = false;
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return nullptr;
  // Layers of version 0 and 1 hold the older record.
  const int32_t version = fileIO->annotationVersion;
  if (version < 0 || version > EANT_ANNOTATION_VERSION) {
    lower::Report(err, reporter, 11, "Invalid annotation layer version number %ld", static_cast<long>(version));
    return nullptr;
  }
  const bool older = version < 2;
  const record::Design &design = older ? kElement : kElement2;
  const int32_t base = older ? 5 : 8; // the codes of the design's lookup, read and move
  lower::CalleeReport inner;
  const Emif_Design *found = data->dictionary ? emif_FindDesignByName(data->dictionary, design.name, &inner) : nullptr;
  if (!found) {
    lower::ReportCallee(err, inner, reporter, base, "emif_FindDesignByName");
    return nullptr;
  }
  Element2Stored stored{};
  const int32_t present = ehfa_ObjectReadIfPresent(fileIO->file, path, nullptr, code, &stored, found, &inner);
  if (!present || inner) {
    absent = !present && !inner;
    record::FreeContents(design, &stored);
    lower::ReportCallee(err, inner, reporter, base + 1, "ehfa_ObjectRead for child");
    return nullptr;
  }
  Eant_Element *made = nullptr;
  if (!element) {
    element = made = eant_ElementStructureCreate(info, &inner);
    if (!element) {
      record::FreeContents(design, &stored);
      lower::ReportCallee(err, inner, reporter, 4, "eant_ElementStructureCreate");
      return nullptr;
    }
  } else {
    eant_CharStrFree(&element->name);
    eant_CharStrFree(&element->description);
    efga_PolynomialDelete(element->xformMatrix, nullptr);
    efga_PolynomialDelete(element->ixformMatrix, nullptr);
    egda_BaseDataDelete(element->bBox, nullptr);
    element->xformMatrix = element->ixformMatrix = nullptr;
    element->bBox = nullptr;
  }
  const char *mover = older ? "eant_ElementCopyFromPrivate" : "eant_ElementCopyFromPrivate2";
  const bool moved = CopyFromPrivate(reinterpret_cast<ElementStored *>(&stored),
                                     older ? nullptr : &stored.attributeRecordNumber, *element, mover, &inner);
  record::FreeContents(design, &stored);
  if (!moved) {
    ReportWarning(err, inner, reporter, base + 2, "Error returned from %s", mover);
    eant_ElementFree(&made);
    return nullptr;
  }
  return element;
}

// Reports the damaged element record at (path, code), which follows the elements read so far, by
// its place in the list and its entry's name. A caller who asked for what can be read keeps those
// elements, with a warning (true); otherwise the read fails.
bool Damaged(Eant_FileIO *fileIO, const char *path, int32_t code, const Eant_Element *read,
             lower::CalleeReport &inner, Eerr_ErrorReport **err) {
  static const char *reporter = "eant_ElementListRead";
  int32_t place = 1;
  for (const Eant_Element *e = read; e; e = e->next) ++place;
  const Ehfa_Entry *entry = fileIO && !path ? ehfa_EntryPeek(fileIO->file, code, nullptr, nullptr) : nullptr;
  const std::string name = entry && entry->name ? std::string(" (") + entry->name + ")" : std::string();
  if (fileIO && (fileIO->reserved & EANT_FILEIO_KEEP_READ_ELEMENTS)) {
    ReportWarning(err, inner, reporter, 1, "Element %ld of the list%s could not be read: the list ends before it",
                  static_cast<long>(place), name.c_str());
    return true;
  }
  lower::ReportChained(err, inner, reporter, 1, "Element %ld of the list%s could not be read",
                       static_cast<long>(place), name.c_str());
  return false;
}

} // namespace

extern "C" {

Emif_Design *eant_ElementDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_ElementDesignDefine", {{&kElement, true}, {&kElement2, true}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_ElementNodeDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_ElementNodeDesignDefine", {{&kElementNode}}, err);
} TAVIRON_GUARD(err, nullptr)

void eant_ElementWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *element,
                       Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementWrite";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  if (!element) {
    lower::Report(err, reporter, 4, "Invalid input element");
    return;
  }
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  const struct {
    const char *design, *callee;
  } designs[] = {{kPolynomial.name, "eant_PutDesignInDictionary for Efga_Polynomial"},
                 {kCoordDefinition.name, "eant_PutDesignInDictionary for Eant_CoordDefinition"},
                 {kElement2.name, "eant_PutDesignInDictionary for Element_2_Eant"}};
  const Emif_Design *design = nullptr;
  int32_t code = 5;
  for (const auto &d : designs) {
    if (!(design = eant_PutDesignInDictionary(data, d.design, file->dictionary, &inner))) {
      lower::ReportCallee(err, inner, reporter, code, d.callee);
      return;
    }
    ++code;
  }
  // The strings, units and box are the element's own (only read by the write); the transforms
  // are written in their private form.
  Element2Stored stored{element->id,           element->name,     element->description, element->elmType,
                        element->scaleUnits,   element->positionUnits, nullptr,         nullptr,
                        element->bBox,         element->attributeRecordNumber};
  struct Privates {
    Element2Stored &s;
    ~Privates() {
      emsc_HeapFree(s.xformMatrix);
      emsc_HeapFree(s.ixformMatrix);
    }
  } privates{stored};
  if (element->xformMatrix && !(stored.xformMatrix = efga_PolynomialCopyToPrivate(element->xformMatrix, &inner))) {
    lower::ReportCallee(err, inner, reporter, 8, "efga_PolynomialCopyToPrivate for xformMatrix");
    return;
  }
  if (element->ixformMatrix && !(stored.ixformMatrix = efga_PolynomialCopyToPrivate(element->ixformMatrix, &inner))) {
    lower::ReportCallee(err, inner, reporter, 9, "efga_PolynomialCopyToPrivate for ixformMatrix");
    return;
  }
  char *name = estr_Sprintf(nullptr, "AntElement_%ld", &inner, static_cast<long>(element->id));
  if (!name) {
    lower::ReportCallee(err, inner, reporter, 10, "estr_Sprintf");
    return;
  }
  const Ehfa_Entry *written = ehfa_ObjectWrite(file, nodePath, name, kElement2.name, position, &stored, design, &inner);
  emsc_HeapFree(name);
  if (!written) lower::ReportCallee(err, inner, reporter, 11, "ehfa_ObjectWrite");
} TAVIRON_GUARD_VOID(err)

Eant_Element *eant_ElementRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, const char *nodePath,
                               int32_t position, Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  bool absent = false;
  return ReadElement(info, fileIO, nodePath, position, element, absent, err);
} TAVIRON_GUARD(err, nullptr)

void eant_ElementListWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *list,
                           Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListWrite";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return;
  }
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element; element = element->next) {
    // The first element goes where the caller says, each next one after the one before.
    const bool first = element == list;
    eant_ElementWriteElement(fileIO, first ? nodePath : nullptr, first ? position : EHFA_NEXT, element, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_ElementWriteElement");
      return;
    }
    if (esmg_InterruptQuery()) {
      lower::Report(err, reporter, 3, "User interrupted annotation layer write");
      return;
    }
  }
} TAVIRON_GUARD_VOID(err)

Eant_Element *eant_ElementListRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, const char *nodePath,
                                   int32_t position, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListRead";
  lower::Clear(err);
  Eant_Element *first = nullptr, *last = nullptr;
  const auto fail = [&first](Eant_Element *&element) {
    if (element) DiscardElement(element);
    eant_ElementListFree(&first);
    return nullptr;
  };
  lower::CalleeReport inner;
  std::unordered_set<const Ehfa_Entry *> read; // the entries of the elements read (one record per entry)
  const char *path = nodePath;
  int32_t code = position;
  for (;;) {
    bool absent = false;
    Eant_Element *element = ReadElement(info, fileIO, path, code, nullptr, absent, &inner);
    if (!element) {
      // No entry there ends the list. A damaged record fails the read: what follows it would not
      // be in the list, and writing the list back would lose it for good.
      if (!absent && inner) return Damaged(fileIO, path, code, first, inner, err) ? first : fail(element);
      return first;
    }
    // Each step must reach an entry not read before (a damaged file could lead the walk back).
    bool fresh = false;
    try {
      fresh = read.insert(fileIO->file->currentEntry).second;
    } catch (const std::bad_alloc &) {
      lower::Report(err, reporter, 6, "Out of memory");
      return fail(element);
    }
    if (!fresh) {
      lower::Report(err, reporter, 5, "Entry %s of %s is reached a second time: the order of its entries is damaged",
                    fileIO->file->currentEntry->name, fileIO->file->fileName);
      return fail(element);
    }
    const bool hasNext = ehfa_EntryCurrentHasNext(fileIO->file) != 0;
    ElementTypeEntry type;
    if (!FindElementType(element->elmType, type)) {
      lower::Report(err, reporter, 2, "Invalid element type %d", element->elmType);
      return fail(element);
    }
    type.read(info, fileIO, element, &inner);
    if (inner) {
      lower::ReportChained(err, inner, reporter, 3, "Error returned from readElement for element %ld",
                           static_cast<long>(element->id));
      return fail(element);
    }
    element->previous = last;
    element->next = nullptr;
    (last ? last->next : first) = element;
    last = element;
    if (!hasNext) return first;
    path = nullptr;
    if (fileIO->versionFlags == 1) {
      code = EHFA_FOLLOWING; // read in file order: the type readers leave the entries behind them
    } else {
      if (!ehfa_EntrySeek(fileIO->file, EHFA_NEXT, nullptr, &inner) || inner) {
        lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntrySeek");
        Eant_Element *none = nullptr;
        return fail(none);
      }
      code = EHFA_CURRENT;
    }
  }
} TAVIRON_GUARD(err, nullptr)

void eant_ElementNodeWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t nodeType, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementNodeWrite";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  const char *name = NodeName(nodeType);
  if (!name) {
    lower::Report(err, reporter, 6, "Invalid input nodeType");
    return;
  }
  lower::CalleeReport inner;
  const Emif_Design *design = eant_PutDesignInDictionary(data, kElementNode.name, fileIO->file->dictionary, &inner);
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 7, "eant_PutDesignInDictionary for ElementNode_Eant");
    return;
  }
  const ElementNode node{nodeType};
  if (!ehfa_ObjectWrite(fileIO->file, nodePath, name, kElementNode.name, EHFA_CHILD, &node, design, &inner))
    lower::ReportCallee(err, inner, reporter, 8, "ehfa_ObjectWrite");
} TAVIRON_GUARD_VOID(err)

void eant_ElementNodeRead(Eant_FileIO *fileIO, const char *nodePath, int32_t nodeType, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementNodeRead";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  const char *name = NodeName(nodeType);
  if (!name) {
    lower::Report(err, reporter, 6, "Invalid input nodeType");
    return;
  }
  lower::CalleeReport inner;
  const Emif_Design *design =
      data->dictionary ? emif_FindDesignByName(data->dictionary, kElementNode.name, &inner) : nullptr;
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 7, "emif_FindDesignByName");
    return;
  }
  // The stored node type is read, not compared with the one asked for. A missing node is only a
  // warning (a layer without elements has none); a damaged one fails.
  ElementNode node{};
  const int32_t present =
      ehfa_ObjectReadIfPresent(fileIO->file, nodePath, name, EHFA_CHILD_NAMED, &node, design, &inner);
  if (!present && !inner)
    ReportWarning(err, inner, reporter, 9, "No list node %s", name);
  else if (inner)
    lower::ReportCallee(err, inner, reporter, 8, "ehfa_ObjectRead for child");
} TAVIRON_GUARD_VOID(err)

void eant_ElementNodeAndListWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t nodeType, const char *name,
                                  Eant_Element *list, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementNodeAndListWrite";
  lower::Clear(err);
  if (!fileIO) {
    lower::Report(err, reporter, 1, "Invalid input fileIO");
    return;
  }
  lower::CalleeReport inner;
  if (!list) {
    // An empty list leaves no list node in the file.
    ReportWarning(err, inner, reporter, 2, "Input elmList is NULL");
    return;
  }
  eant_ElementNodeWrite(fileIO, nodePath, nodeType, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_ElementNodeWrite");
    return;
  }
  char *joined = efnp_PathJoin(nodePath, name, &inner);
  if (!joined) {
    lower::ReportCallee(err, inner, reporter, 4, "efnp_PathJoin");
    return;
  }
  emsc_HeapFree(joined);
  // The elements are written together, as the node's children.
  if (ehfa_FileChange(fileIO->file, &inner, EHFA_CHANGE_LIST, 0, 0) != 0) {
    lower::ReportCallee(err, inner, reporter, 5, "ehfa_FileChange");
    return;
  }
  eant_ElementListWrite(fileIO, nullptr, EHFA_CHILD, list, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 6, "eant_ElementListWrite");
    ehfa_FileChange(fileIO->file, nullptr, EHFA_CHANGE_LIST, 1, 0);
    return;
  }
  if (ehfa_FileChange(fileIO->file, &inner, EHFA_CHANGE_LIST, 1, 0) != 0)
    lower::ReportCallee(err, inner, reporter, 7, "ehfa_FileChange");
} TAVIRON_GUARD_VOID(err)

Eant_Element *eant_ElementNodeAndListRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, const char *nodePath,
                                          int32_t nodeType, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementNodeAndListRead";
  lower::Clear(err);
  if (!fileIO) {
    lower::Report(err, reporter, 1, "Invalid input fileIO");
    return nullptr;
  }
  lower::CalleeReport inner;
  eant_ElementNodeRead(fileIO, nodePath, nodeType, &inner);
  if (inner && inner->severity > EERR_WARNING) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_ElementNodeRead");
    return nullptr;
  }
  if (inner) {
    // A layer without a list node reads as empty.
    ReportWarning(err, inner, reporter, 2, "Error returned from eant_ElementNodeRead");
    return nullptr;
  }
  Ehfa_EntryPosition *node = ehfa_EntryPositionGet(fileIO->file, &inner);
  if (!node) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntrySeek");
    return nullptr;
  }
  Eant_Element *list = eant_ElementListRead(info, fileIO, nullptr, EHFA_CHILD_OF, &inner);
  const bool cut = inner && inner->severity <= EERR_WARNING; // at a damaged element, as asked
  if (!cut && (!list || inner)) {
    ehfa_EntryPositionFree(node);
    eant_ElementListFree(&list);
    lower::ReportCallee(err, inner, reporter, 3, "eant_ElementListRead");
    return nullptr;
  }
  if (cut) ReportWarning(err, inner, reporter, 3, "Error returned from eant_ElementListRead");
  // Back to the node's parent, wherever the reading of the elements left the file.
  const bool back = ehfa_EntryPositionSet(fileIO->file, node, &inner) == 0 &&
                    ehfa_EntrySeek(fileIO->file, EHFA_PARENT, nullptr, &inner) != nullptr && !inner;
  ehfa_EntryPositionFree(node);
  if (!back) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntrySeek");
    eant_ElementListFree(&list);
    return nullptr;
  }
  return list;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
