// Designs and dictionaries of designs: building and registering designs, from keyword lists
// and from item lists, and the self-contained definitions kept in files.
#include "emif.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "egda.h"
#include "egda_pixel.h"
#include "emif_internal.h"
#include "emsc.h"
#include "internal.h"
#include "keywords.h"

namespace lower = taviron::lower;
using namespace taviron::emif;
using taviron::lower::Shape;

namespace {

// True when the layout (or a layout it nests) is named `name`. Each shared layout is visited
// once, so a chain of designs nesting the one before twice costs no more than its length.
bool Nests(const DesignData &design, const std::string &name, std::set<const DesignData *> &seen) {
  for (const ItemData &item : design.items) {
    if (!item.nested || !seen.insert(item.nested.get()).second) continue;
    if (item.nested->name == name || Nests(*item.nested, name, seen)) return true;
  }
  return false;
}
bool Nests(const DesignData &design, const std::string &name) {
  std::set<const DesignData *> seen;
  return Nests(design, name, seen);
}

// Builds a layout from its items; an empty result with `problem` set on failure.
DesignPtr BuildDesign(const std::string &name, std::vector<ItemSpec> specs, std::string &problem) {
  if (specs.empty()) {
    problem = "Design " + name + " has no items";
    return nullptr;
  }
  auto design = std::make_shared<DesignData>();
  design->name = name;
  int64_t offset = 0;
  for (ItemSpec &spec : specs) {
    if (!ValidType(spec.type)) {
      problem = lower::Format("Invalid item type %d for item %s of design %s", spec.type,
                              spec.name.c_str(), name.c_str());
      return nullptr;
    }
    if (spec.name.empty()) {
      problem = "Invalid item name in design " + name;
      return nullptr;
    }
    if (design->Find(spec.name)) {
      problem = "Item " + spec.name + " appears twice in design " + name;
      return nullptr;
    }
    const int32_t base = Base(spec.type);
    if (IsNestedBase(base)) {
      if (!spec.nested) {
        problem = "Missing nested design for item " + spec.name + " of design " + name;
        return nullptr;
      }
      if (spec.nested->name == name || Nests(*spec.nested, name)) {
        problem = "Design " + name + " nests itself (item " + spec.name + ")";
        return nullptr;
      }
      design->depth = std::max(design->depth, spec.nested->depth + 1);
      if (design->depth > kMaxDepth) {
        problem = lower::Format("Design %s nests designs more than %d deep", name.c_str(), kMaxDepth);
        return nullptr;
      }
    } else {
      spec.nested.reset();
    }
    if (base != EMIF_TYPE_ENUM) spec.enumNames.clear();
    if (Modifier(spec.type) == EMIF_FIXED_ARRAY) {
      const Layout element = BaseLayout(base, spec.nested ? spec.nested->layout : Layout{});
      if (spec.count <= 0 || int64_t{spec.count} * element.size > kMaxRecordSize) {
        problem = lower::Format("Invalid array count %d for item %s of design %s", spec.count,
                                spec.name.c_str(), name.c_str());
        return nullptr;
      }
    } else {
      spec.count = 0;
    }
    ItemData item;
    item.type = spec.type;
    item.name = std::move(spec.name);
    item.count = spec.count;
    item.enumNames = std::move(spec.enumNames);
    item.nested = std::move(spec.nested);
    item.layout = ItemLayout(item.type, item.count, item.nested ? item.nested->layout : Layout{});
    offset = AlignUp(static_cast<int32_t>(offset), item.layout.alignment);
    item.offset = static_cast<int32_t>(offset);
    offset += item.layout.size;
    if (offset > kMaxRecordSize) {
      problem = "Design " + name + " is too large";
      return nullptr;
    }
    design->layout.alignment = std::max(design->layout.alignment, item.layout.alignment);
    design->minExternal = SaturatingAdd(design->minExternal, ItemMinExternal(item));
    design->items.push_back(std::move(item));
  }
  design->layout.size = AlignUp(static_cast<int32_t>(offset), design->layout.alignment);
  return design;
}

// Pairs already compared are not compared again (layouts are acyclic, so a pair under
// comparison can be taken as equal). Each item compared, and each of its enumeration names
// compared, takes one unit of the work left; none left: not equal.
bool SameLayoutSeen(const DesignData &a, const DesignData &b, bool compareNames, bool compareValueNames,
                    std::set<std::pair<const DesignData *, const DesignData *>> &seen, int64_t &work) {
  if (&a == &b) return true;
  if ((compareNames && a.name != b.name) || a.items.size() != b.items.size()) return false;
  for (std::size_t i = 0; i < a.items.size(); ++i) {
    const ItemData &x = a.items[i];
    const ItemData &y = b.items[i];
    work -= 1 + (compareValueNames ? static_cast<int64_t>(x.enumNames.size()) : 0);
    if (work < 0) return false;
    if (x.type != y.type || x.name != y.name || x.count != y.count || (compareValueNames && x.enumNames != y.enumNames))
      return false;
    if ((x.nested == nullptr) != (y.nested == nullptr)) return false;
    if (x.nested && seen.insert({x.nested.get(), y.nested.get()}).second &&
        !SameLayoutSeen(*x.nested, *y.nested, true, compareValueNames, seen, work))
      return false;
  }
  return true;
}

bool ShareItems(const DesignData &a, const DesignData &b) {
  std::unordered_set<std::string_view> names;
  for (const ItemData &item : b.items) names.insert(item.name);
  for (const ItemData &item : a.items)
    if (names.count(item.name)) return true;
  return false;
}

} // namespace

namespace taviron::emif {

bool SameLayout(const DesignData &a, const DesignData &b, bool compareNames, bool compareValueNames) {
  std::set<std::pair<const DesignData *, const DesignData *>> seen;
  int64_t work = kMaxCompareWork;
  return SameLayoutSeen(a, b, compareNames, compareValueNames, seen, work);
}

void LayoutVerdicts::Hold(const DesignPtr &design) {
  if (design && heldNames_.insert(design.get()).second) {
    try {
      held_.push_back(design);
    } catch (...) {
      heldNames_.erase(design.get());
      throw;
    }
  }
}

bool LayoutVerdicts::Same(const DesignData &a, const DesignData &b, bool compareNames) {
  if (&a == &b) return true;
  const auto key = std::make_tuple(&a, &b, compareNames ? 1 : 0);
  if (auto it = verdicts_.find(key); it != verdicts_.end()) return it->second;
  return verdicts_.emplace(key, SameLayout(a, b, compareNames)).first->second;
}

bool LayoutVerdicts::Readable(const DesignPtr &stored, const DesignPtr &given) {
  if (stored == given) return true;
  Hold(stored);
  Hold(given);
  const auto key = std::make_tuple(stored.get(), given.get(), 2);
  if (auto it = verdicts_.find(key); it != verdicts_.end()) return it->second;
  const bool readable = Same(*stored, *given, false) || ShareItems(*stored, *given);
  return verdicts_.emplace(key, readable).first->second;
}

LayoutVerdicts::Writer LayoutVerdicts::WrittenBy(const DesignPtr &stored, const DesignPtr &given) {
  if (stored == given) return Writer::Given;
  Hold(stored);
  Hold(given);
  if (Same(*stored, *given, false)) return Writer::Given;
  const auto key = std::make_tuple(stored.get(), given.get(), 3);
  auto it = verdicts_.find(key);
  if (it == verdicts_.end()) it = verdicts_.emplace(key, SameLayout(*stored, *given, false, false)).first;
  return it->second ? Writer::Stored : Writer::None;
}

const std::vector<const ItemData *> &LayoutVerdicts::Map(const DesignData &stored, const DesignData &target) {
  const auto key = std::make_pair(&stored, &target);
  if (auto it = maps_.find(key); it != maps_.end()) return it->second;
  std::unordered_map<std::string_view, const ItemData *> byName;
  for (const ItemData &item : target.items) byName.emplace(item.name, &item);
  std::vector<const ItemData *> map;
  map.reserve(stored.items.size());
  for (const ItemData &item : stored.items) {
    const auto found = byName.find(item.name);
    const ItemData *match = found == byName.end() ? nullptr : found->second;
    if (match) {
      const int32_t a = Base(item.type), b = Base(match->type);
      const bool sameBase = a == b || (IsNestedBase(a) && IsNestedBase(b)) ||
                            ((a == EMIF_TYPE_BYTE || a == EMIF_TYPE_U8) && (b == EMIF_TYPE_BYTE || b == EMIF_TYPE_U8));
      if (!sameBase || Modifier(item.type) != Modifier(match->type)) match = nullptr;
    }
    map.push_back(match);
  }
  return maps_.emplace(key, std::move(map)).first->second;
}

} // namespace taviron::emif

namespace {

// Free-standing designs (made without a dictionary), for nested lookups by name.
std::mutex freeMutex;
std::vector<Emif_Design *> &FreeDesigns() {
  static std::vector<Emif_Design *> designs;
  return designs;
}

Emif_Design *NewHandle(DesignPtr data, Emif_Dictionary *dictionary) {
  auto *design = lower::HeapNew<Emif_Design>();
  if (!design) return nullptr;
  design->data = std::move(data);
  design->dictionary = dictionary;
  return design;
}

void FreeHandle(Emif_Design *design) { lower::HeapDelete(design); }

Emif_Design *FindIn(const Emif_Dictionary *dictionary, const std::string &name) {
  if (dictionary) {
    for (Emif_Design *design : dictionary->designs)
      if (design->data->name == name) return design;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(freeMutex);
  const auto &designs = FreeDesigns();
  for (auto it = designs.rbegin(); it != designs.rend(); ++it)
    if ((*it)->data->name == name) return *it;
  return nullptr;
}

// Registers a layout under a handle: in the dictionary (reusing a design of the same layout,
// refusing one of another layout) or among the free-standing designs.
Emif_Design *Register(Emif_Dictionary *dictionary, DesignPtr data, const char *reporter,
                      Eerr_ErrorReport **err, int32_t codeTaken, int32_t codeMemory) {
  if (dictionary) {
    if (Emif_Design *existing = FindIn(dictionary, data->name)) {
      if (SameLayout(*existing->data, *data)) return existing;
      lower::Report(err, reporter, codeTaken,
                    "Design %s already exists in the dictionary with another layout",
                    data->name.c_str());
      return nullptr;
    }
  }
  // Held until a list has taken it (growing the list may throw).
  lower::HeapPtr<Emif_Design> design(NewHandle(std::move(data), dictionary));
  if (!design) {
    lower::Report(err, reporter, codeMemory, "Error allocating design");
    return nullptr;
  }
  if (dictionary) {
    dictionary->designs.push_back(design.get());
    ++dictionary->serial;
  } else {
    std::lock_guard<std::mutex> lock(freeMutex);
    FreeDesigns().push_back(design.get());
  }
  return design.release();
}

// Takes a handle out of its dictionary or of the free-standing list; false when unknown.
bool Unregister(Emif_Design *design) {
  if (design->dictionary) {
    auto &designs = design->dictionary->designs;
    auto it = std::find(designs.begin(), designs.end(), design);
    if (it == designs.end()) return false;
    designs.erase(it);
    ++design->dictionary->serial;
    return true;
  }
  std::lock_guard<std::mutex> lock(freeMutex);
  auto &designs = FreeDesigns();
  auto it = std::find(designs.begin(), designs.end(), design);
  if (it == designs.end()) return false;
  designs.erase(it);
  return true;
}

// ---- Definitions (the self-contained description kept in files) ----
// A definition lists the distinct designs of the nesting tree, nested ones first:
//   int32 design count; per design: string name, int32 item count; per item: int32 type,
//   string name, int32 count, int32 nested index (-1 for none, else an earlier design),
//   int32 enumeration name count, strings. Strings are int32 length + bytes.

void PutString(std::string &out, const std::string &text) {
  PutUnsigned(out, text.size(), 4);
  out += text;
}

void Collect(const DesignPtr &design, std::vector<DesignPtr> &order) {
  for (const DesignPtr &known : order)
    if (known == design) return;
  for (const ItemData &item : design->items)
    if (item.nested) Collect(item.nested, order);
  order.push_back(design);
}

class DefinitionReader {
public:
  DefinitionReader(const std::string &text) : in_(reinterpret_cast<const uint8_t *>(text.data()), text.size()) {}
  bool Int32(int32_t &value) {
    uint8_t b[4];
    if (!in_.Read(b, 4)) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(GetUnsigned(b, 4)));
    return true;
  }
  bool String(std::string &text) {
    int32_t n;
    if (!Int32(n) || n < 0 || static_cast<uint64_t>(n) > in_.Remaining()) return false;
    text.assign(static_cast<std::size_t>(n), '\0');
    return in_.Read(reinterpret_cast<uint8_t *>(text.data()), static_cast<uint64_t>(n));
  }
  bool AtEnd() const { return in_.Remaining() == 0; }
  uint64_t Remaining() const { return in_.Remaining(); }

private:
  MemorySource in_;
};

DesignPtr ParseDefinition(const std::string &text, std::string &problem) {
  DefinitionReader in(text);
  int32_t designCount;
  if (!in.Int32(designCount) || designCount <= 0 || static_cast<uint64_t>(designCount) > in.Remaining()) {
    problem = "bad design count";
    return nullptr;
  }
  std::vector<DesignPtr> designs;
  for (int32_t d = 0; d < designCount; ++d) {
    std::string name;
    int32_t itemCount;
    if (!in.String(name) || !in.Int32(itemCount) || itemCount <= 0 ||
        static_cast<uint64_t>(itemCount) > in.Remaining()) {
      problem = "bad design header";
      return nullptr;
    }
    std::vector<ItemSpec> specs;
    for (int32_t i = 0; i < itemCount; ++i) {
      ItemSpec spec;
      int32_t nestedIndex, enumCount;
      if (!in.Int32(spec.type) || !in.String(spec.name) || !in.Int32(spec.count) ||
          !in.Int32(nestedIndex) || !in.Int32(enumCount) || nestedIndex < -1 ||
          nestedIndex >= static_cast<int32_t>(designs.size()) || enumCount < 0 ||
          static_cast<uint64_t>(enumCount) > in.Remaining()) {
        problem = "bad item";
        return nullptr;
      }
      if (nestedIndex >= 0) spec.nested = designs[static_cast<std::size_t>(nestedIndex)];
      for (int32_t k = 0; k < enumCount; ++k) {
        std::string item;
        if (!in.String(item)) {
          problem = "bad enumeration";
          return nullptr;
        }
        spec.enumNames.push_back(std::move(item));
      }
      specs.push_back(std::move(spec));
    }
    DesignPtr design = BuildDesign(name, std::move(specs), problem);
    if (!design) return nullptr;
    designs.push_back(std::move(design));
  }
  if (!in.AtEnd()) {
    problem = "bytes after the definition";
    return nullptr;
  }
  return designs.back();
}

// The values that follow an item's type code in a design's keyword list: its name; then, by the
// base type, the enumeration's names (ended by a null) or the nested design's name; then the
// count of a fixed array. An invalid type code takes its name only (it is refused with it).
struct ItemShapes {
  const Shape *Find(int32_t type) const {
    using V = lower::Value;
    static constexpr Shape kShapes[6] = {{V::Pointer},
                                         {V::Pointer, V::PointerList},
                                         {V::Pointer, V::Pointer},
                                         {V::Pointer, V::Int},
                                         {V::Pointer, V::PointerList, V::Int},
                                         {V::Pointer, V::Pointer, V::Int}};
    if (!ValidType(type)) return &kShapes[0];
    const int32_t base = Base(type);
    const int index = base == EMIF_TYPE_ENUM ? 1 : IsNestedBase(base) ? 2 : 0;
    return &kShapes[Modifier(type) == EMIF_FIXED_ARRAY ? index + 3 : index];
  }
};
constexpr lower::BasicKeywordList<ItemShapes> kItemList{ItemShapes{}, nullptr};

// Checks one item of the design `name` (number: the items before it) and resolves its nested
// design; false with a report.
bool Resolve(Emif_Dictionary *dictionary, const char *name, int32_t number, const ItemDefinition &item,
             ItemSpec &spec, const char *reporter, Eerr_ErrorReport **err) {
  if (!item.name || !*item.name) {
    lower::Report(err, reporter, 3, "Invalid name for item %d of design %s", number + 1, name);
    return false;
  }
  if (!ValidType(item.type)) {
    lower::Report(err, reporter, 4, "Invalid item type %d for item %s of design %s", item.type, item.name, name);
    return false;
  }
  spec.type = item.type;
  spec.name = item.name;
  const int32_t base = Base(item.type);
  if (base == EMIF_TYPE_ENUM) {
    if (item.enumCount > kMaxEnumNames) {
      lower::Report(err, reporter, 4, "Enumeration %s of design %s has too many items", item.name, name);
      return false;
    }
    spec.enumNames.assign(item.enumNames, item.enumNames + item.enumCount);
  }
  if (IsNestedBase(base)) {
    if (!item.nested || !*item.nested) {
      lower::Report(err, reporter, 5, "Missing nested design name for item %s of design %s", item.name, name);
      return false;
    }
    if (std::strcmp(item.nested, name) == 0) {
      lower::Report(err, reporter, 6, "Design %s nests itself (item %s)", name, item.name);
      return false;
    }
    Emif_Design *nested = FindIn(dictionary, item.nested);
    if (!nested) {
      lower::Report(err, reporter, 5, "Nested design %s of item %s of design %s is not defined", item.nested,
                    item.name, name);
      return false;
    }
    spec.nested = nested->data;
  }
  if (Modifier(item.type) == EMIF_FIXED_ARRAY) spec.count = item.count;
  return true;
}

// Builds the design from its checked items and registers it.
Emif_Design *Finish(Emif_Dictionary *dictionary, const char *name, std::vector<ItemSpec> specs,
                    const char *reporter, Eerr_ErrorReport **err) {
  std::string problem;
  DesignPtr data = BuildDesign(name, std::move(specs), problem);
  if (!data) {
    lower::Report(err, reporter, 7, "%s", problem.c_str());
    return nullptr;
  }
  return Register(dictionary, std::move(data), reporter, err, 8, 9);
}

} // namespace

namespace taviron::emif {

uint64_t DictionarySerial(const Emif_Dictionary *dictionary) { return dictionary ? dictionary->serial : 0; }

std::vector<const Emif_Design *> DictionaryDesigns(const Emif_Dictionary *dictionary) {
  std::vector<const Emif_Design *> designs;
  if (dictionary) designs.assign(dictionary->designs.begin(), dictionary->designs.end());
  return designs;
}

std::string DesignDefinition(const Emif_Design *design) {
  std::vector<DesignPtr> order;
  Collect(design->data, order);
  std::string out;
  PutUnsigned(out, order.size(), 4);
  for (const DesignPtr &d : order) {
    PutString(out, d->name);
    PutUnsigned(out, d->items.size(), 4);
    for (const ItemData &item : d->items) {
      PutUnsigned(out, static_cast<uint32_t>(item.type), 4);
      PutString(out, item.name);
      PutUnsigned(out, static_cast<uint32_t>(item.count), 4);
      int32_t nested = -1;
      for (std::size_t k = 0; k < order.size(); ++k)
        if (order[k] == item.nested) nested = static_cast<int32_t>(k);
      PutUnsigned(out, static_cast<uint32_t>(nested), 4);
      PutUnsigned(out, item.enumNames.size(), 4);
      for (const std::string &name : item.enumNames) PutString(out, name);
    }
  }
  return out;
}

bool DictionaryAddDefinition(Emif_Dictionary *dictionary, const std::string &name,
                             const std::string &definition, Eerr_ErrorReport **err) {
  std::string problem;
  DesignPtr data;
  try {
    data = ParseDefinition(definition, problem);
  } catch (const std::bad_alloc &) {
    problem = "out of memory";
  }
  if (!data || data->name != name) {
    lower::Report(err, "emif_DictionaryAddDefinition", 1, "The definition of design %s is corrupt%s%s",
                  name.c_str(), problem.empty() ? "" : ": ", problem.c_str());
    return false;
  }
  return Register(dictionary, std::move(data), "emif_DictionaryAddDefinition", err, 2, 3) != nullptr;
}

bool DesignsEqual(const Emif_Design *a, const Emif_Design *b) {
  return a && b && SameLayout(*a->data, *b->data);
}

Emif_Design *DefineDesign(Emif_Dictionary *dictionary, const char *name, std::span<const ItemDefinition> items,
                          Eerr_ErrorReport **err) {
  static const char *const kReporter = "emif_DesignCreate";
  lower::Clear(err);
  if (!name || !*name) {
    lower::Report(err, kReporter, 1, "Invalid design name");
    return nullptr;
  }
  if (items.size() > static_cast<std::size_t>(kMaxItems)) {
    lower::Report(err, kReporter, 2, "Design %s has more than %d items", name, kMaxItems);
    return nullptr;
  }
  std::vector<ItemSpec> specs(items.size());
  for (std::size_t i = 0; i < items.size(); ++i)
    if (!Resolve(dictionary, name, static_cast<int32_t>(i), items[i], specs[i], kReporter, err)) return nullptr;
  return Finish(dictionary, name, std::move(specs), kReporter, err);
}

} // namespace taviron::emif

extern "C" {

Emif_Dictionary *emif_DictionaryCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *dictionary = lower::HeapNew<Emif_Dictionary>();
  if (!dictionary) lower::Report(err, "emif_DictionaryCreate", 1, "Error allocating dictionary");
  return dictionary;
} TAVIRON_GUARD(err, nullptr)

void emif_DictionaryDelete(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!dictionary) return;
  for (Emif_Design *design : dictionary->designs) FreeHandle(design);
  lower::HeapDelete(dictionary);
} TAVIRON_GUARD_VOID(err)

Emif_Design *emif_DesignCreate(Emif_Dictionary *dictionary, const char *name,
                               Eerr_ErrorReport **err, ...) try {
  static const char *const kReporter = "emif_DesignCreate";
  lower::Clear(err);
  if (!name || !*name) {
    lower::Report(err, kReporter, 1, "Invalid design name");
    return nullptr;
  }
  std::vector<ItemSpec> specs;
  try {
    va_list ap;
    va_start(ap, err);
    const bool read = lower::ReadKeywords(kItemList, ap, kReporter, 0, err,
                                          [&](int32_t type, const lower::KeywordValues &values) {
      if (static_cast<int32_t>(specs.size()) >= kMaxItems) {
        lower::Report(err, kReporter, 2, "Design %s has more than %d items", name, kMaxItems);
        return false;
      }
      ItemDefinition item;
      item.type = type;
      item.name = values.Pointer<const char>(0);
      const Shape &shape = *kItemList.table.Find(type);
      for (int i = 1; i < shape.count; ++i) {
        if (shape.values[i] == lower::Value::PointerList) {
          if (values.ListTooLong()) {
            lower::Report(err, kReporter, 4, "Enumeration %s of design %s has too many items", item.name, name);
            return false;
          }
          item.enumNames = reinterpret_cast<const char *const *>(values.List().data());
          item.enumCount = static_cast<int32_t>(values.List().size());
        } else if (shape.values[i] == lower::Value::Pointer) {
          item.nested = values.Pointer<const char>(i);
        } else {
          item.count = values.Int(i);
        }
      }
      ItemSpec spec;
      if (!Resolve(dictionary, name, static_cast<int32_t>(specs.size()), item, spec, kReporter, err)) return false;
      specs.push_back(std::move(spec));
      return true;
    });
    va_end(ap);
    if (!read) return nullptr;
    return Finish(dictionary, name, std::move(specs), kReporter, err);
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 9, "Error allocating design %s", name);
    return nullptr;
  }
} TAVIRON_GUARD(err, nullptr)

Emif_Design *emif_FindDesignByName(const Emif_Dictionary *dictionary, const char *name,
                                   Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!name) {
    lower::Report(err, "emif_FindDesignByName", 1, "Invalid design name");
    return nullptr;
  }
  return FindIn(dictionary, name);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *emif_AddDesignToDictionary(Emif_Dictionary *dictionary, const Emif_Design *design,
                                        Eerr_ErrorReport **err) try {
  static const char *const kReporter = "emif_AddDesignToDictionary";
  lower::Clear(err);
  if (!dictionary) {
    lower::Report(err, kReporter, 1, "Invalid dictionary");
    return nullptr;
  }
  if (!design) {
    lower::Report(err, kReporter, 2, "Invalid design");
    return nullptr;
  }
  try {
    std::vector<DesignPtr> order;
    Collect(design->data, order);
    // Check every name first, so that a conflict adds nothing.
    for (const DesignPtr &data : order)
      if (Emif_Design *existing = FindIn(dictionary, data->name); existing && !SameLayout(*existing->data, *data)) {
        lower::Report(err, kReporter, 3, "Design %s already exists in the dictionary with another layout",
                      data->name.c_str());
        return nullptr;
      }
    Emif_Design *added = nullptr;
    for (const DesignPtr &data : order) {
      added = Register(dictionary, data, kReporter, err, 3, 4);
      if (!added) return nullptr;
    }
    return added;
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 4, "Error allocating design");
    return nullptr;
  }
} TAVIRON_GUARD(err, nullptr)

void emif_DesignDelete(Emif_Dictionary *dictionary, const void *designOrName, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "emif_DesignDelete";
  lower::Clear(err);
  if (!designOrName) {
    lower::Report(err, kReporter, 1, "Invalid design");
    return;
  }
  // A handle is recognised by its address alone; anything else is read as a name.
  Emif_Design *found = nullptr;
  if (dictionary) {
    for (Emif_Design *design : dictionary->designs)
      if (design == designOrName) found = design;
  } else {
    std::lock_guard<std::mutex> lock(freeMutex);
    for (Emif_Design *design : FreeDesigns())
      if (design == designOrName) found = design;
  }
  if (!found) found = FindIn(dictionary, static_cast<const char *>(designOrName));
  if (!found) {
    lower::Report(err, kReporter, 2, "Design %s not found", static_cast<const char *>(designOrName));
    return;
  }
  Unregister(found);
  FreeHandle(found);
} TAVIRON_GUARD_VOID(err)

void emif_DesignDestroy(Emif_Design *design) try {
  if (!design) return;
  Unregister(design);
  FreeHandle(design);
} TAVIRON_GUARD_QUIET_VOID

const char *emif_DesignName(const Emif_Design *design) try { return design ? design->data->name.c_str() : nullptr; } TAVIRON_GUARD_QUIET(nullptr)

int32_t emif_DesignSize(const Emif_Design *design) try { return design ? design->data->layout.size : 0; } TAVIRON_GUARD_QUIET(0)

int32_t emif_DesignItemOffset(const Emif_Design *design, const char *itemName) try {
  if (!design || !itemName) return -1;
  const ItemData *item = design->data->Find(itemName);
  return item ? item->offset : -1;
} TAVIRON_GUARD_QUIET(-1)

int32_t emif_DesignItemCount(const Emif_Design *design) try {
  return design ? static_cast<int32_t>(design->data->items.size()) : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t emif_DesignMatchesLayout(const Emif_Design *design, int32_t size, const int32_t *offsets,
                                 int32_t count) try {
  if (!design || design->data->layout.size != size ||
      static_cast<int32_t>(design->data->items.size()) != count || (count > 0 && !offsets))
    return 0;
  for (int32_t i = 0; i < count; ++i)
    if (design->data->items[static_cast<std::size_t>(i)].offset != offsets[i]) return 0;
  return 1;
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
