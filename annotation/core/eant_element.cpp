// The common part of elements: creation with identifiers from the layer header, copy, replace,
// backup and restore, free, print, the setters, moving an element within lists, the smart-data
// test and the search by identifier.
#include <cinttypes>

#include "eant_internal.h"
#include "efio.h"
#include "egda_pixel.h"
#include "ellm.h"
#include "emsc.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

constexpr const char *kInvalidElement = "Invalid input Eant_Element";

// The filler puts a type's functions into the slots of their names, and leaves the others null.
struct FillerCheck {
  static constexpr int32_t kCode = EANT_UNDEFINEDELEMENTTYPE;
  static void Free(Eant_Element **) {}
  static const char *TypeString(Eant_Element *, Eerr_ErrorReport **) { return "Check"; }
};
constexpr const Eant_ElementFunctions &kChecked = lower::KindTables<Eant_ElementFunctions, FillerCheck>::Of<FillerCheck>();
static_assert(kChecked.free == &FillerCheck::Free && kChecked.getTypeString == &FillerCheck::TypeString &&
              kChecked.copyElement == nullptr && kChecked.calculateBboxWithDrawing == nullptr);

// Copies what copy and replace share (name, description, type code, units, transforms and box) from
// source into target, reporting under `reporter` with codes 3 to 10. False on a failure; the
// members copied before it stay.
bool CopyValues(const Eant_Element &source, Eant_Element &target, const char *reporter, Eerr_ErrorReport **err) {
  if (&source == &target) return true;
  lower::CalleeReport inner;
  if (!eant_CharStrCopy(&source.name, &target.name, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CharStrCopy for name");
    return false;
  }
  if (!eant_CharStrCopy(&source.description, &target.description, &inner)) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_CharStrCopy for description");
    return false;
  }
  target.elmType = source.elmType;
  const struct {
    Eant_CoordDefinition *Eant_Element::*member;
    const char *callee;
  } units[] = {{&Eant_Element::scaleUnits, "eant_CoordDefinitionCopy for scaleUnits"},
               {&Eant_Element::positionUnits, "eant_CoordDefinitionCopy for positionUnits"}};
  int32_t code = 5;
  for (const auto &unit : units) {
    if (!(source.*unit.member)) {
      eant_CoordDefinitionFree(&(target.*unit.member));
    } else {
      Eant_CoordDefinition *copied = eant_CoordDefinitionCopy(source.*unit.member, target.*unit.member, &inner);
      if (copied) target.*unit.member = copied;
      if (inner || !copied) {
        lower::ReportCallee(err, inner, reporter, code, unit.callee);
        return false;
      }
    }
    ++code;
  }
  const struct {
    Efga_Polynomial *Eant_Element::*member;
    const char *callee;
  } transforms[] = {{&Eant_Element::xformMatrix, "efga_PolynomialCopy for xformMatrix"},
                    {&Eant_Element::ixformMatrix, "efga_PolynomialCopy for ixformMatrix"}};
  for (const auto &transform : transforms) {
    if (!(source.*transform.member)) {
      efga_PolynomialDelete(target.*transform.member, nullptr);
      target.*transform.member = nullptr;
    } else {
      Efga_Polynomial *copied = efga_PolynomialCopy(source.*transform.member, target.*transform.member, &inner);
      if (copied) target.*transform.member = copied;
      if (inner || !copied) {
        lower::ReportCallee(err, inner, reporter, code, transform.callee);
        return false;
      }
    }
    ++code;
  }
  if (!source.bBox) {
    egda_BaseDataDelete(target.bBox, nullptr);
    target.bBox = nullptr;
    return true;
  }
  if (!target.bBox) {
    target.bBox = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
    if (!target.bBox) {
      lower::ReportCallee(err, inner, reporter, 9, "efga_MatrixCreate");
      return false;
    }
  }
  if (!egda_BaseDataCopy(source.bBox, target.bBox, &inner) || inner) {
    lower::ReportCallee(err, inner, reporter, 10, "efga_MatrixCopy");
    return false;
  }
  return true;
}


void PrintTransform(const char *name, const Efga_Polynomial *polynomial) {
  if (!IsAffine(polynomial)) {
    efio_Printf("%s - NULL\n", name);
    return;
  }
  const Egda_BaseData &linear = *polynomial->coefficients, &constants = *polynomial->constants;
  efio_Printf("%s - %lg, %lg\n", name, lower::At<double>(linear, 0, 0), lower::At<double>(linear, 1, 0));
  efio_Printf("              %lg, %lg\n", lower::At<double>(linear, 0, 1), lower::At<double>(linear, 1, 1));
  efio_Printf("             %lg, %lg\n", lower::At<double>(constants, 0, 0), lower::At<double>(constants, 1, 0));
}

} // namespace

extern "C" {

Eant_Element *eant_ElementStructureCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *element = static_cast<Eant_Element *>(emsc_HeapMalloc(sizeof(Eant_Element)));
  if (!element) {
    lower::Report(err, "eant_ElementStructureCreate", 1, "Error allocating Element");
    return nullptr;
  }
  element->antInfo = info;
  element->rowNumber = -1;
  return element;
} TAVIRON_GUARD(err, nullptr)

Eant_Element *eant_ElementCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementCreate";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_Element *element = eant_ElementStructureCreate(info, &inner);
  if (!element) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_ElementStructureCreate");
    return nullptr;
  }
  if (info && info->antHead) {
    // The identifier is taken first and the counter moves on only then.
    element->id = static_cast<int32_t>(info->antHead->nextElement);
    const std::string name = lower::Format("Element_%ld", static_cast<long>(element->id));
    if (!eant_CharStrCreate(name.c_str(), &element->name, &inner)) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_CharStrCreate");
      eant_ElementFree(&element);
      return nullptr;
    }
    ++info->antHead->nextElement;
  }
  eant_ElementInitXformMatrix(element, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_ElementInitXformMatrix");
    eant_ElementFree(&element);
    return nullptr;
  }
  return element;
} TAVIRON_GUARD(err, nullptr)

Eant_Element *eant_ElementCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return target;
  }
  lower::CalleeReport inner;
  Eant_Element *made = nullptr;
  if (!target) {
    target = made = eant_ElementCreate(source->antInfo, &inner);
    if (!target) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_ElementCreate");
      return nullptr;
    }
  }
  target->next = target->previous = target->parent = target->child = nullptr;
  if (source->id >= 0) target->id = source->id;
  if (!CopyValues(*source, *target, reporter, err)) {
    if (!made) return target;
    eant_ElementFree(&made);
    return nullptr;
  }
  target->antInfo = source->antInfo;
  target->symbolLibrary = source->symbolLibrary;
  target->selected = source->selected;
  target->functions = source->functions;
  target->formerNext = nullptr;
  target->rowNumber = -1;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_ElementReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementReplaceValues";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return;
  }
  if (!target) {
    lower::Report(err, reporter, 1, "Invalid output Eant_Element");
    return;
  }
  target->id = source->id;
  if (!CopyValues(*source, *target, reporter, err)) return;
  target->antInfo = source->antInfo;
  target->symbolLibrary = source->symbolLibrary;
  target->selected = source->selected;
  target->functions = source->functions;
  target->formerNext = source->formerNext;
  target->rowNumber = source->rowNumber;
} TAVIRON_GUARD_VOID(err)

Eant_Element *eant_ElementBackup(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementBackup";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return nullptr;
  }
  lower::CalleeReport inner;
  Eant_Element *backup = eant_ElementCreate(element->antInfo, &inner);
  if (!backup) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_ElementCreate");
    return nullptr;
  }
  eant_ElementReplaceElementValues(element, backup, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_ElementReplaceElementValues");
    DiscardElement(backup);
    return nullptr;
  }
  return backup;
} TAVIRON_GUARD(err, nullptr)

void eant_ElementRestore(Eant_Element *backup, Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementRestore";
  lower::Clear(err);
  if (!backup || !element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return;
  }
  lower::CalleeReport inner;
  eant_ElementReplaceElementValues(backup, element, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_ElementReplaceElementValues");
} TAVIRON_GUARD_VOID(err)

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

void eant_ElementPrint(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementPrint";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return;
  }
  const auto address = [](const void *pointer) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pointer)); };
  efio_Printf("\nthis - 0x%lx\n", address(element));
  efio_Printf("next - 0x%lx\n", address(element->next));
  efio_Printf("previous - 0x%lx\n", address(element->previous));
  efio_Printf("parent - 0x%lx\n", address(element->parent));
  efio_Printf("child - 0x%lx\n", address(element->child));
  efio_Printf("id - %ld\n", static_cast<long>(element->id));
  if (const char *name = Text(element->name)) efio_Printf("name - %s\n", name);
  else efio_Printf("name - NULL\n");
  if (const char *description = Text(element->description)) efio_Printf("description - %s\n", description);
  else efio_Printf("description - NULL\n");
  efio_Printf("elmType - %d\n", element->elmType);
  lower::CalleeReport inner;
  eant_CoordDefinitionPrint(element->scaleUnits, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_CoordDefinitionPrint for scaleUnits");
    return;
  }
  eant_CoordDefinitionPrint(element->positionUnits, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_CoordDefinitionPrint for positionUnits");
    return;
  }
  PrintTransform("xformMatrix", element->xformMatrix);
  PrintTransform("ixformMatrix", element->ixformMatrix);
  if (IsCorners(element->bBox)) {
    const Egda_BaseData &box = *element->bBox;
    const auto at = [&box](int32_t row, int32_t column) { return lower::At<double>(box, row, column); };
    efio_Printf("bBox - %lg, %lg     %lg, %lg\n", at(0, 0), at(1, 0), at(0, 1), at(1, 1));
    efio_Printf("       %lg, %lg     %lg, %lg\n", at(0, 2), at(1, 2), at(0, 3), at(1, 3));
  } else {
    efio_Printf("bBox - NULL\n");
  }
  efio_Printf("selected - %s\n", element->selected ? "true" : "false");
  efio_Printf("attributeRecordNumber - %ld\n", static_cast<long>(element->attributeRecordNumber));
  efio_Printf("rowNumber - %ld\n", static_cast<long>(element->rowNumber));
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetName(Eant_Element *element, const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!element) {
    lower::Report(err, "eant_ElementSetName", 1, "Invalid input element");
    return;
  }
  lower::CalleeReport inner;
  if (!eant_CharStrCreate(name, &element->name, &inner))
    lower::ReportCallee(err, inner, "eant_ElementSetName", 2, "eant_CharStrCreate");
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetDescription(Eant_Element *element, const char *description, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!element) {
    lower::Report(err, "eant_ElementSetDescription", 1, "Invalid input element");
    return;
  }
  lower::CalleeReport inner;
  if (!eant_CharStrCreate(description, &element->description, &inner))
    lower::ReportCallee(err, inner, "eant_ElementSetDescription", 2, "eant_CharStrCreate");
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetID(Eant_Element *element, int32_t id, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!element) {
    lower::Report(err, "eant_ElementSetID", 1, "%s", kInvalidElement);
    return;
  }
  element->id = id;
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetUnits(Eant_Element *element, int32_t coordSys, const char *units, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementSetUnits";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return;
  }
  lower::CalleeReport inner;
  Eant_CoordDefinition *position = eant_CoordDefinitionSetValues(element->positionUnits, coordSys, units, &inner);
  if (!position) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_CoordDefinitionSetValues for position units");
    return;
  }
  element->positionUnits = position;
  Eant_CoordDefinition *scale = eant_CoordDefinitionSetValues(element->scaleUnits, coordSys, units, &inner);
  if (!scale) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CoordDefinitionSetValues for scale units");
    return;
  }
  element->scaleUnits = scale;
} TAVIRON_GUARD_VOID(err)

void eant_ElementInitXformMatrix(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementInitXformMatrix";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return;
  }
  lower::CalleeReport inner;
  Efga_Polynomial *forward = eant_IdentityPolynomialCreate(element->xformMatrix, &inner);
  if (!forward) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_IdentityPolynomialCreate for xformMatrix");
    return;
  }
  element->xformMatrix = forward;
  Efga_Polynomial *inverse = eant_IdentityPolynomialCreate(element->ixformMatrix, &inner);
  if (!inverse) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_IdentityPolynomialCreate for ixformMatrix");
    return;
  }
  element->ixformMatrix = inverse;
} TAVIRON_GUARD_VOID(err)

Efga_Polynomial *eant_ElementSetXformMatrix(Eant_Element *element, const Efga_Polynomial *polynomial,
                                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementSetXformMatrix";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return nullptr;
  }
  lower::CalleeReport inner;
  Efga_Polynomial *forward = efga_PolynomialCopy(polynomial, element->xformMatrix, &inner);
  if (!forward || inner) {
    lower::ReportCallee(err, inner, reporter, 2, "efga_PolynomialCopy");
    return nullptr;
  }
  element->xformMatrix = forward;
  Efga_Polynomial *inverse = efga_PolynomialInvert(forward, element->ixformMatrix, &inner);
  if (!inverse || inner) {
    lower::ReportCallee(err, inner, reporter, 3, "efga_PolynomialInvert");
    return nullptr;
  }
  element->ixformMatrix = inverse;
  return inverse;
} TAVIRON_GUARD(err, nullptr)

void eant_ElementSetBBox(Eant_Element *element, double x0, double y0, double x1, double y1, double x2, double y2,
                         double x3, double y3, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementSetBBox";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return;
  }
  if (!IsCorners(element->bBox)) {
    lower::CalleeReport inner;
    Egda_BaseData *box = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
    if (!box) {
      lower::ReportCallee(err, inner, reporter, 2, "efga_MatrixCreate");
      return;
    }
    egda_BaseDataDelete(element->bBox, nullptr);
    element->bBox = box;
  }
  const double corners[4][2] = {{x0, y0}, {x1, y1}, {x2, y2}, {x3, y3}};
  for (int32_t c = 0; c < 4; ++c) {
    lower::At<double>(*element->bBox, 0, c) = corners[c][0];
    lower::At<double>(*element->bBox, 1, c) = corners[c][1];
  }
} TAVIRON_GUARD_VOID(err)

void eant_ElementPosition(Eant_Element *element, Eant_Element *reference, int32_t position,
                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!element) return;
  ellm_Delete(element);
  element->next = element->previous = nullptr;
  ellm_Add(reference, position, element);
} TAVIRON_GUARD_VOID(err)

int32_t eant_ElementCheckForSmartData(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementCheckForSmartData";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return 0;
  }
  lower::CalleeReport inner;
  ElementTypeEntry type;
  if (FindElementType(element->elmType, type) && type.checkForSmartData) {
    const int32_t found = type.checkForSmartData(element, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_TextElementCheckForSmartData");
      return 0;
    }
    return found;
  }
  // A group answers for its children.
  if (!element->child) return 0;
  const int32_t found = eant_ElementListCheckForSmartData(element->child, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_ElementListCheckForSmartData");
    return 0;
  }
  return found;
} TAVIRON_GUARD(err, 0)

Eant_Element *eant_ElementFindTopLevelByID(Eant_AnnotationInfo *info, int32_t id, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementFindTopLevelByID";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input Eant_AnnotationInfo");
    return nullptr;
  }
  for (Eant_Element *element = info->elements; element; element = element->next)
    if (element->id == id) return element;
  lower::Report(err, reporter, 3, "Requested element (id = %ld) not found", static_cast<long>(id));
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

Eant_Element *eant_GetNextElement(Eant_Element *element, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!element) {
    lower::Report(err, "eant_GetNextElement", 1, "Invalid input element");
    return nullptr;
  }
  return element->next;
} TAVIRON_GUARD(err, nullptr)

Eant_ElementFunctions *eant_ElementFunctionsCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *functions = static_cast<Eant_ElementFunctions *>(emsc_HeapMalloc(sizeof(Eant_ElementFunctions)));
  if (!functions) lower::Report(err, "eant_ElementFunctionsCreate", 1, "Error allocating Coord Definition");
  return functions;
} TAVIRON_GUARD(err, nullptr)

Eant_ElementInfo *eant_ElementInfoCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *counts = static_cast<Eant_ElementInfo *>(emsc_HeapMalloc(sizeof(Eant_ElementInfo)));
  if (!counts) lower::Report(err, "eant_ElementInfoCreate", 1, "Error allocating Coord Definition");
  return counts;
} TAVIRON_GUARD(err, nullptr)

void eant_ElementInfoFree(Eant_ElementInfo **counts) try {
  if (counts) emsc_HeapFreeEx(counts);
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
