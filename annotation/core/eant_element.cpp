// The common part of elements: its stored designs, its free, and the free of an element or a
// list through the element's type.
#include "eant_internal.h"
#include "emsc.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

constexpr const char *kElementTypes[] = {
    "EANT_UNDEFINEDELEMENTTYPE", "EANT_FILLED_POLYGON", "EANT_VECTORS",    "EANT_GRID_CELLS",
    "EANT_UNFILLED_POLYGON",     "EANT_PATTERN_POLYGON", "EANT_FILLED_CIRCLE", "EANT_UNFILLED_CIRCLE",
    "EANT_PATTERN_CIRCLE",       "EANT_ARC",            "EANT_TEXT",       "EANT_SYMBOL",
    "EANT_LINE_GRID",            "EANT_RECTANGLE",      "EANT_ELLIPSE",    "EANT_POLYGON",
    "EANT_POLYLINE",             "EANT_GROUP",          "EANT_POINT"};
static_assert(std::size(kElementTypes) == EANT_POINT + 1);

// The common part as stored: the polynomials in their private form.
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
      TAVIRON_ITEM(Record, elmType, EMIF_TYPE_ENUM).Enum(kElementTypes),                            \
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

struct ElementNode {
  int32_t nodeType;
};
constexpr const char *kNodeTypes[] = {"EANT_ELEMENTLIST", "EANT_SYMBOLELEMENTLIST"};
constexpr record::Item kElementNodeItems[] = {TAVIRON_ITEM(ElementNode, nodeType, EMIF_TYPE_ENUM).Enum(kNodeTypes)};
constexpr record::Design kElementNode = record::DesignOf<ElementNode>("ElementNode_Eant", kElementNodeItems);
static_assert(kElement.Matches() && kElement2.Matches() && kElementNode.Matches());

// The filler puts a type's functions into the slots of their names, and leaves the others null.
struct FillerCheck {
  static constexpr int32_t kCode = EANT_UNDEFINEDELEMENTTYPE;
  static void Free(Eant_Element **) {}
  static const char *TypeString(Eant_Element *, Eerr_ErrorReport **) { return "Check"; }
};
constexpr const Eant_ElementFunctions &kChecked = lower::KindTables<Eant_ElementFunctions, FillerCheck>::Of<FillerCheck>();
static_assert(kChecked.free == &FillerCheck::Free && kChecked.getTypeString == &FillerCheck::TypeString &&
              kChecked.copyElement == nullptr && kChecked.calculateBboxWithDrawing == nullptr);
static_assert(ElementTypes::Find(EANT_POLYLINE) == nullptr, "no element type is registered yet");

} // namespace

extern "C" {

Emif_Design *eant_ElementDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_ElementDesignDefine", {{&kElement, true}, {&kElement2, true}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_ElementNodeDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_ElementNodeDesignDefine", {{&kElementNode}}, err);
} TAVIRON_GUARD(err, nullptr)

void eant_ElementFree(Eant_Element **element) try {
  if (!element || !*element) return;
  Eant_Element *e = *element;
  eant_CharStrFree(&e->name);
  eant_CharStrFree(&e->description);
  eant_CoordDefinitionFree(&e->scaleUnits);
  eant_CoordDefinitionFree(&e->positionUnits);
  efga_PolynomialDelete(e->xformMatrix, nullptr);
  efga_PolynomialDelete(e->ixformMatrix, nullptr);
  egda_BaseDataDelete(e->bBox, nullptr);
  emsc_HeapFreeEx(element);
} TAVIRON_GUARD_QUIET_VOID

void eant_ElementFreeElement(Eant_Element **element) try {
  if (!element || !*element) return;
  const Eant_ElementFunctions *functions = (*element)->functions;
  if (auto free = lower::SlotOf(functions, &Eant_ElementFunctions::free)) free(element);
} TAVIRON_GUARD_QUIET_VOID

void eant_ElementListFree(Eant_Element **list) try {
  if (!list) return;
  for (Eant_Element *at = *list; at;) {
    Eant_Element *next = at->next;
    eant_ElementFreeElement(&at);
    at = next;
  }
  *list = nullptr;
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
