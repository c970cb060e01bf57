// The record kit: designs from item tables, version picks, and the record operations that walk
// an item table.
#include "record.h"

#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "egda.h"
#include "ehfa_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::record {
namespace {

int32_t Base(const Item &item) { return item.type & 0xff; }
int32_t Modifier(const Item &item) { return item.type & 0xf00; }

struct TableWalk {
  static std::span<const Item> Items(const Design &design) { return design.Items(); }
  static const Design *Nested(const Item &item) { return item.nested; }
  static int32_t ElementSize(const Item &item) {
    return emif::BaseLayout(Base(item), item.nested ? item.nested->Layout() : emif::Layout{}).size;
  }
};

int32_t ElementSize(const Item &item) { return TableWalk::ElementSize(item); }

template <class T> T Load(const uint8_t *p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}
template <class T> void Store(uint8_t *p, T value) { std::memcpy(p, &value, sizeof value); }

// ---- Copy ----

bool CopyRecord(const Design &design, const uint8_t *source, uint8_t *target);

// One element (a nested record, a matrix, or a scalar) into a target element that owns nothing.
bool CopyElement(const Item &item, const uint8_t *source, uint8_t *target) {
  if (item.nested) return CopyRecord(*item.nested, source, target);
  if (Base(item) == EMIF_TYPE_BASEDATA) {
    // A matrix held inline: a new copy's record is moved into place and its shell freed.
    Egda_BaseData *copy = egda_BaseDataCopy(reinterpret_cast<const Egda_BaseData *>(source), nullptr, nullptr);
    if (!copy) return false;
    std::memcpy(target, copy, sizeof *copy);
    emsc_HeapFree(copy);
    return true;
  }
  std::memcpy(target, source, static_cast<std::size_t>(ElementSize(item)));
  return true;
}

// A counted text: the text up to its first zero, counted with its terminating zero.
bool CopyText(const uint8_t *source, uint8_t *target) {
  const int32_t count = Load<int32_t>(source);
  const char *text = Load<const char *>(source + emif::kCountedPointerOffset);
  if (count <= 0 || !text) return true;
  const std::size_t length = strnlen(text, static_cast<std::size_t>(count));
  char *copy = lower::HeapCopy(text, length);
  if (!copy) return false;
  Store(target, static_cast<int32_t>(length + 1));
  Store(target + emif::kCountedPointerOffset, copy);
  return true;
}

bool CopyCounted(const Item &item, const uint8_t *source, uint8_t *target) {
  const int32_t count = Load<int32_t>(source);
  const uint8_t *elements = Load<const uint8_t *>(source + emif::kCountedPointerOffset);
  if (count <= 0 || !elements) return true;
  const int32_t size = ElementSize(item);
  const std::size_t bytes = static_cast<std::size_t>(count) * static_cast<std::size_t>(size);
  // A character array keeps a terminating zero after its count bytes, as decoded ones do.
  auto *copy = static_cast<uint8_t *>(emsc_HeapMalloc(bytes + (Base(item) == EMIF_TYPE_CHAR ? 1 : 0)));
  if (!copy) return false;
  Store(target, count);
  Store(target + emif::kCountedPointerOffset, copy);
  for (int32_t i = 0; i < count; ++i)
    if (!CopyElement(item, elements + std::ptrdiff_t{i} * size, copy + std::ptrdiff_t{i} * size)) return false;
  return true;
}

bool CopyPointed(const Item &item, const uint8_t *source, uint8_t *target) {
  const uint8_t *object = Load<const uint8_t *>(source);
  if (!object) return true;
  if (Base(item) == EMIF_TYPE_BASEDATA) {
    Egda_BaseData *copy = egda_BaseDataCopy(reinterpret_cast<const Egda_BaseData *>(object), nullptr, nullptr);
    Store(target, copy);
    return copy != nullptr;
  }
  auto *copy = static_cast<uint8_t *>(emsc_HeapMalloc(static_cast<std::size_t>(ElementSize(item))));
  if (!copy) return false;
  Store(target, copy);
  return CopyElement(item, object, copy);
}

// Copies item by item; a failure leaves what was copied for the caller to free.
bool CopyItems(const Design &design, const uint8_t *source, uint8_t *target) {
  for (const Item &item : design.Items()) {
    const uint8_t *s = source + item.offset;
    uint8_t *t = target + item.offset;
    bool ok = true;
    switch (Modifier(item)) {
    case 0: ok = CopyElement(item, s, t); break;
    case EMIF_FIXED_ARRAY:
      for (int32_t i = 0; ok && i < item.count; ++i) {
        const std::ptrdiff_t at = std::ptrdiff_t{i} * ElementSize(item);
        ok = CopyElement(item, s + at, t + at);
      }
      break;
    case EMIF_COUNTED_ARRAY: ok = item.type == EMIF_TYPE_STRING ? CopyText(s, t) : CopyCounted(item, s, t); break;
    case EMIF_POINTER: ok = CopyPointed(item, s, t); break;
    }
    if (!ok) return false;
  }
  return true;
}

bool CopyRecord(const Design &design, const uint8_t *source, uint8_t *target) {
  if (CopyItems(design, source, target)) return true;
  emif::FreeOwned<TableWalk>(design, target);
  std::memset(target, 0, static_cast<std::size_t>(design.size));
  return false;
}

// ---- Compare ----

bool EqualRecord(const Design &design, const uint8_t *a, const uint8_t *b);

bool EqualMatrices(const Egda_BaseData &a, const Egda_BaseData &b) {
  if (a.rows != b.rows || a.columns != b.columns || a.pixelType != b.pixelType || a.objectType != b.objectType)
    return false;
  if (!a.origin || !b.origin) return a.origin == b.origin || int64_t{a.rows} * a.columns == 0;
  const int32_t size = egda_PixelTypeSize(a.pixelType);
  for (int32_t r = 0; r < a.rows; ++r)
    for (int32_t c = 0; c < a.columns; ++c) {
      const uint8_t *x = lower::ElementAddress(a, r, c), *y = lower::ElementAddress(b, r, c);
      if (a.pixelType == EGDA_TYPE_STRING) {
        const char *s = Load<const char *>(x), *t = Load<const char *>(y);
        if ((s == nullptr) != (t == nullptr) || (s && std::strcmp(s, t) != 0)) return false;
      } else if (a.pixelType == EGDA_TYPE_F32 || a.pixelType == EGDA_TYPE_C64) {
        for (int32_t k = 0; k < size; k += 4)
          if (Load<float>(x + k) != Load<float>(y + k)) return false;
      } else if (a.pixelType == EGDA_TYPE_F64 || a.pixelType == EGDA_TYPE_C128) {
        for (int32_t k = 0; k < size; k += 8)
          if (Load<double>(x + k) != Load<double>(y + k)) return false;
      } else if (std::memcmp(x, y, static_cast<std::size_t>(size)) != 0) {
        return false;
      }
    }
  return true;
}

bool EqualElement(const Item &item, const uint8_t *a, const uint8_t *b) {
  if (item.nested) return EqualRecord(*item.nested, a, b);
  switch (Base(item)) {
  case EMIF_TYPE_BASEDATA:
    return EqualMatrices(*reinterpret_cast<const Egda_BaseData *>(a), *reinterpret_cast<const Egda_BaseData *>(b));
  case EMIF_TYPE_F32: return Load<float>(a) == Load<float>(b);
  case EMIF_TYPE_F64: return Load<double>(a) == Load<double>(b);
  default: return std::memcmp(a, b, static_cast<std::size_t>(ElementSize(item))) == 0;
  }
}

bool EqualItem(const Item &item, const uint8_t *a, const uint8_t *b) {
  const int32_t size = ElementSize(item);
  switch (Modifier(item)) {
  case 0: return EqualElement(item, a, b);
  case EMIF_FIXED_ARRAY:
    for (int32_t i = 0; i < item.count; ++i)
      if (!EqualElement(item, a + std::ptrdiff_t{i} * size, b + std::ptrdiff_t{i} * size)) return false;
    return true;
  case EMIF_COUNTED_ARRAY: {
    const uint8_t *x = Load<const uint8_t *>(a + emif::kCountedPointerOffset);
    const uint8_t *y = Load<const uint8_t *>(b + emif::kCountedPointerOffset);
    const int32_t n = x ? std::max(Load<int32_t>(a), 0) : 0, m = y ? std::max(Load<int32_t>(b), 0) : 0;
    if (n != m) return false;
    for (int32_t i = 0; i < n; ++i)
      if (!EqualElement(item, x + std::ptrdiff_t{i} * size, y + std::ptrdiff_t{i} * size)) return false;
    return true;
  }
  case EMIF_POINTER: {
    const uint8_t *x = Load<const uint8_t *>(a), *y = Load<const uint8_t *>(b);
    if (!x || !y) return x == y;
    return EqualElement(item, x, y);
  }
  }
  return false;
}

bool EqualRecord(const Design &design, const uint8_t *a, const uint8_t *b) {
  for (const Item &item : design.Items())
    if (!EqualItem(item, a + item.offset, b + item.offset)) return false;
  return true;
}

// ---- Print ----

void PrintRecord(std::string &out, const Design &design, const uint8_t *p, int32_t indent, const char *title);

std::string Scalar(const Item &item, const uint8_t *p) {
  switch (Base(item)) {
  case EMIF_TYPE_ENUM: {
    const int32_t value = Load<int32_t>(p);
    if (item.print == PrintAs::TrueFalse) return value == 1 ? "true" : "false";
    if (value >= 0 && value < item.enumCount) return item.enumNames[value];
    return lower::Format("%" PRId32, value);
  }
  case EMIF_TYPE_BYTE:
  case EMIF_TYPE_U8: return lower::Format("%u", unsigned{Load<uint8_t>(p)});
  case EMIF_TYPE_CHAR: return std::string(1, Load<char>(p));
  case EMIF_TYPE_U16: return lower::Format("%u", unsigned{Load<uint16_t>(p)});
  case EMIF_TYPE_S16: return lower::Format("%d", int{Load<int16_t>(p)});
  case EMIF_TYPE_U32: return lower::Format("%" PRIu32, Load<uint32_t>(p));
  case EMIF_TYPE_S32:
    if (item.print == PrintAs::TrueFalse) return Load<int32_t>(p) == 1 ? "true" : "false";
    return lower::Format("%" PRId32, Load<int32_t>(p));
  case EMIF_TYPE_F32: return lower::Format("%g", double{Load<float>(p)});
  case EMIF_TYPE_F64: return lower::Format("%g", Load<double>(p));
  case EMIF_TYPE_BASEDATA: {
    const auto &m = *reinterpret_cast<const Egda_BaseData *>(p);
    return lower::Format("%" PRId32 " x %" PRId32 " matrix of pixel type %" PRId32, m.rows, m.columns, m.pixelType);
  }
  default: return {};
  }
}

void Line(std::string &out, int32_t indent, const char *name, const std::string &value) {
  out.append(static_cast<std::size_t>(indent), ' ').append(name).append(" - ").append(value).append("\n");
}

void PrintItem(std::string &out, const Item &item, const uint8_t *p, int32_t indent) {
  const int32_t size = ElementSize(item);
  switch (Modifier(item)) {
  case 0:
    if (item.nested) PrintRecord(out, *item.nested, p, indent, item.name);
    else Line(out, indent, item.name, Scalar(item, p));
    return;
  case EMIF_FIXED_ARRAY:
  case EMIF_COUNTED_ARRAY: {
    const bool counted = Modifier(item) == EMIF_COUNTED_ARRAY;
    const uint8_t *elements = counted ? Load<const uint8_t *>(p + emif::kCountedPointerOffset) : p;
    const int32_t count = counted ? (elements ? std::max(Load<int32_t>(p), 0) : 0) : item.count;
    if (item.type == EMIF_TYPE_STRING) {
      Line(out, indent, item.name,
           elements ? std::string(reinterpret_cast<const char *>(elements), strnlen(reinterpret_cast<const char *>(elements), static_cast<std::size_t>(count))) : "NULL");
      return;
    }
    if (item.nested) {
      for (int32_t i = 0; i < count; ++i)
        PrintRecord(out, *item.nested, elements + std::ptrdiff_t{i} * size, indent,
                    lower::Format("%s[%" PRId32 "]", item.name, i).c_str());
      return;
    }
    std::string values;
    for (int32_t i = 0; i < count; ++i)
      values.append(i ? ", " : "").append(Scalar(item, elements + std::ptrdiff_t{i} * size));
    Line(out, indent, item.name, values);
    return;
  }
  case EMIF_POINTER: {
    const uint8_t *object = Load<const uint8_t *>(p);
    if (!object) Line(out, indent, item.name, "NULL");
    else if (item.nested) PrintRecord(out, *item.nested, object, indent, item.name);
    else Line(out, indent, item.name, Scalar(item, object));
    return;
  }
  }
}

void PrintRecord(std::string &out, const Design &design, const uint8_t *p, int32_t indent, const char *title) {
  out.append(static_cast<std::size_t>(indent), ' ').append(title).append(":\n");
  for (const Item &item : design.Items())
    if (item.print != PrintAs::Hidden) PrintItem(out, item, p + item.offset, indent + 3);
}

} // namespace

// ---- Designs ----

Emif_Design *Define(const Design &design, Emif_Dictionary *dictionary, Eerr_ErrorReport **err) {
  lower::Clear(err);
  std::vector<emif::ItemDefinition> items;
  items.reserve(static_cast<std::size_t>(design.count));
  for (const Item &item : design.Items()) {
    if (item.nested && dictionary && !Define(*item.nested, dictionary, err)) return nullptr;
    items.push_back({item.type, item.name, item.count, item.nested ? item.nested->name : nullptr, item.enumNames,
                     item.enumCount});
  }
  return emif::DefineDesign(dictionary, design.name, items, err);
}

const Design *Pick(std::span<const Design *const> versions, const char *storedName) {
  if (!storedName) return nullptr;
  for (const Design *version : versions)
    if (std::strcmp(version->name, storedName) == 0) return version;
  return nullptr;
}

void *ReadVersion(Ehfa_File *file, const char *path, const char *name, int32_t relation,
                  std::span<const Design *const> versions, Emif_Dictionary *dictionary, int32_t *version,
                  const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (version) *version = -1;
  lower::CalleeReport inner;
  EhfaSavedEntry saved(file);
  if (path && !ehfa_EntrySeek(file, EHFA_PATH, path, &inner)) {
    if (inner) lower::ReportCallee(err, inner, reporter, code, "ehfa_EntrySeek");
    else lower::Report(err, reporter, code, "No entry %s in %s", path, file->fileName);
    return nullptr;
  }
  const Ehfa_Entry *entry = ehfa_EntryPeek(file, relation, name, &inner);
  if (!entry) {
    if (inner) lower::ReportCallee(err, inner, reporter, code, "ehfa_EntryPeek");
    else lower::Report(err, reporter, code, "No entry %s at relation %d in %s", name ? name : "", relation, file->fileName);
    return nullptr;
  }
  const Design *design = Pick(versions, entry->type);
  if (!design) {
    lower::Report(err, reporter, code, "Entry %s of %s holds a record of design %s, which is not read here",
                  entry->name, file->fileName, entry->type);
    return nullptr;
  }
  const Emif_Design *defined = Define(*design, dictionary, &inner);
  if (!defined) {
    lower::ReportCallee(err, inner, reporter, code + 1, "emif_DefineObject");
    return nullptr;
  }
  void *record = ehfa_ObjectRead(file, nullptr, name, relation, nullptr, defined, &inner);
  if (!record) {
    lower::ReportCallee(err, inner, reporter, code + 1, "ehfa_ObjectRead");
    return nullptr;
  }
  saved.restore = false;
  if (version)
    for (std::size_t i = 0; i < versions.size(); ++i)
      if (versions[i] == design) *version = static_cast<int32_t>(i);
  return record;
}

// ---- Records ----

void FreeContents(const Design &design, void *record) {
  if (record) emif::FreeOwned<TableWalk>(design, static_cast<uint8_t *>(record));
}

bool Copy(const Design &design, const void *source, void *target) {
  return CopyRecord(design, static_cast<const uint8_t *>(source), static_cast<uint8_t *>(target));
}

bool Equal(const Design &design, const void *a, const void *b) {
  if (!a || !b) return a == b;
  return EqualRecord(design, static_cast<const uint8_t *>(a), static_cast<const uint8_t *>(b));
}

void Print(const Design &design, const void *record, int32_t indent, const char *title) {
  std::string out;
  PrintRecord(out, design, static_cast<const uint8_t *>(record), indent, title);
  lower::Write(lower::Stream::Out, out);
}

} // namespace taviron::record
