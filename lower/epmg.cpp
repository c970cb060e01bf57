// Preferences: typed access through the implementation hooks, value conversions, and the
// in-memory databases behind the default preference database and the configuration classes.
#include "epmg.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ecfg.h"
#include "efio.h"
#include "emsc.h"
#include "eprf.h"
#include "internal.h"
#include "keywords.h"

namespace lower = taviron::lower;

// ---------------------------------------------------------------------------------------------
// The databases. A database is a stack of levels, most general first; a lookup takes the value
// of the most specific level that has it and changes go to the current level. Each level is the
// contents of one text file (or of memory only, when it has no file name).

namespace {

struct StoredValue {
  std::string text;
  int32_t type = EPMG_TYPE_NONE; // the type of the put that stored it; none for file values
};

struct Entry {
  std::string key;
  StoredValue value;
};

struct Section {
  std::string name;
  std::vector<Entry> entries;
};

struct Level {
  std::string file;
  std::vector<Section> sections;
  bool dirty = false;
  bool unreadable = false; // the file exists but could not be read: never overwritten by a save
};

struct CallbackEntry {
  std::string category;
  std::string name;
  Epmg_PreferenceCallback callback;
  void *userData;
  int32_t processId;
};

} // namespace

struct Epmg_Database {
  std::string className;
  int32_t format = EPMG_FORMAT_PREFERENCES;
  std::vector<Level> levels;
  std::size_t current = 0;
  std::vector<CallbackEntry> callbacks;
  std::mutex mutex;
};

namespace {

constexpr std::size_t kMaxFileSize = 16u << 20;

bool SameName(const std::string &a, const char *b) { return estr_Eqic(a.c_str(), b) != 0; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string &text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Names of categories, instances and keys: not empty, one line, no surrounding blanks, none of
// the characters the file formats use as delimiters, and not starting like a comment.
bool ValidName(const char *name, bool category, int32_t format) {
  if (!name || !*name) return false;
  const std::size_t n = std::strlen(name);
  if (IsBlank(name[0]) || IsBlank(name[n - 1]) || name[0] == '#' || name[0] == ';') return false;
  for (const char *p = name; *p; ++p) {
    if (*p == '\n' || *p == '\r' || *p == '=' || *p == '[' || *p == ']') return false;
    if (*p == '/' && category && format == EPMG_FORMAT_PREFERENCES) return false;
  }
  return true;
}

Section *FindSection(Level &level, const char *name) {
  for (Section &section : level.sections)
    if (SameName(section.name, name)) return &section;
  return nullptr;
}

Entry *FindEntry(Section &section, const char *key) {
  for (Entry &entry : section.entries)
    if (SameName(entry.key, key)) return &entry;
  return nullptr;
}

Section &AddSection(Level &level, const std::string &name) {
  if (Section *section = FindSection(level, name.c_str())) return *section;
  level.sections.push_back({name, {}});
  return level.sections.back();
}

void SetEntry(Section &section, const std::string &key, const StoredValue &value) {
  if (Entry *entry = FindEntry(section, key.c_str()))
    entry->value = value;
  else
    section.entries.push_back({key, value});
}

const StoredValue *Lookup(const Epmg_Database &db, const char *category, const char *key) {
  for (auto level = db.levels.rbegin(); level != db.levels.rend(); ++level)
    for (const Section &section : level->sections)
      if (SameName(section.name, category))
        for (const Entry &entry : section.entries)
          if (SameName(entry.key, key)) return &entry.value;
  return nullptr;
}

// Values are written as they stand unless they would not read back so: then they are quoted,
// with \\ \" \n \r \t escapes.
std::string EncodeValue(const std::string &text) {
  const bool quote = !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()) ||
                                       text.front() == '"' ||
                                       text.find_first_of("\n\r") != std::string::npos);
  if (!quote) return text;
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
    case '\\': out += "\\\\"; break;
    case '"': out += "\\\""; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default: out += c;
    }
  }
  return out + "\"";
}

bool DecodeValue(const std::string &raw, std::string &text) {
  if (raw.empty() || raw.front() != '"') {
    text = raw;
    return true;
  }
  text.clear();
  for (std::size_t i = 1; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '"') return i + 1 == raw.size(); // nothing may follow the closing quote
    if (c == '\\') {
      if (++i == raw.size()) return false;
      switch (raw[i]) {
      case '\\': c = '\\'; break;
      case '"': c = '"'; break;
      case 'n': c = '\n'; break;
      case 'r': c = '\r'; break;
      case 't': c = '\t'; break;
      default: return false;
      }
    }
    text += c;
  }
  return false; // no closing quote
}

// Parses the text of one level. Preference files hold lines "category/key = value"; configuration
// files hold "[instance]" lines, each followed by its "key = value" lines. Blank lines and lines
// starting with "#" (and, in configuration files, ";") are comments. The first malformed line
// rejects the whole text.
bool ParseLevel(int32_t format, const char *data, std::size_t size, const std::string &file,
                Level &level, Eerr_ErrorReport **err, const char *reporter, int32_t code) {
  if (std::memchr(data, '\0', size)) {
    lower::Report(err, reporter, code, "%s is not a text file (it contains a NUL byte)", file.c_str());
    return false;
  }
  const bool prefs = format == EPMG_FORMAT_PREFERENCES;
  Section *section = nullptr;
  std::size_t pos = 0;
  int32_t lineNumber = 0;
  while (pos < size) {
    const char *end = static_cast<const char *>(std::memchr(data + pos, '\n', size - pos));
    const std::size_t length = end ? static_cast<std::size_t>(end - (data + pos)) : size - pos;
    std::string raw(data + pos, length);
    pos += length + 1;
    ++lineNumber;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#' || (!prefs && line[0] == ';')) continue;
    const char *problem = nullptr;
    if (!prefs && line[0] == '[') {
      const std::string name = line.size() >= 2 && line.back() == ']'
                                   ? Trim(line.substr(1, line.size() - 2)) : std::string();
      if (!ValidName(name.c_str(), true, format)) {
        problem = "expected \"[instance]\"";
      } else {
        section = &AddSection(level, name);
        continue;
      }
    } else {
      const std::size_t equals = line.find('=');
      std::string category, key, value;
      if (equals == std::string::npos) {
        problem = prefs ? "expected \"category/key = value\"" : "expected \"key = value\"";
      } else if (!DecodeValue(Trim(line.substr(equals + 1)), value)) {
        problem = "bad quoted value";
      } else if (prefs) {
        const std::string left = line.substr(0, equals);
        const std::size_t slash = left.find('/');
        if (slash == std::string::npos) {
          problem = "expected \"category/key = value\"";
        } else {
          category = Trim(left.substr(0, slash));
          key = Trim(left.substr(slash + 1));
          if (!ValidName(category.c_str(), true, format) || !ValidName(key.c_str(), false, format))
            problem = "bad category or key name";
          else
            SetEntry(AddSection(level, category), key, {value, EPMG_TYPE_NONE});
        }
      } else if (!section) {
        problem = "key outside of any \"[instance]\"";
      } else {
        key = Trim(line.substr(0, equals));
        if (!ValidName(key.c_str(), false, format))
          problem = "bad key name";
        else
          SetEntry(*section, key, {value, EPMG_TYPE_NONE});
      }
    }
    if (problem) {
      lower::Report(err, reporter, code, "%s, line %d: %s", file.c_str(), lineNumber, problem);
      return false;
    }
  }
  return true;
}

std::string LevelText(int32_t format, const Level &level, const char *category) {
  std::string text;
  for (const Section &section : level.sections) {
    if (category && !SameName(section.name, category)) continue;
    if (format == EPMG_FORMAT_PREFERENCES) {
      for (const Entry &entry : section.entries)
        text += section.name + "/" + entry.key + " = " + EncodeValue(entry.value.text) + "\n";
    } else {
      text += "[" + section.name + "]\n";
      for (const Entry &entry : section.entries)
        text += entry.key + " = " + EncodeValue(entry.value.text) + "\n";
      text += "\n";
    }
  }
  return text;
}

// Reads a whole file; a missing file is empty and sets `missing`.
bool ReadFile(const std::string &file, std::string &data, bool &missing, Eerr_ErrorReport **err,
              const char *reporter, int32_t code) {
  missing = false;
  std::FILE *stream = std::fopen(file.c_str(), "rb");
  if (!stream) {
    if (errno == ENOENT) {
      missing = true;
      return true;
    }
    lower::Report(err, reporter, code, "Cannot open %s: %s", file.c_str(), std::strerror(errno));
    return false;
  }
  data.clear();
  char buffer[8192];
  std::size_t n;
  bool ok = true;
  while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
    if (data.size() + n > kMaxFileSize) {
      lower::Report(err, reporter, code, "%s is too large", file.c_str());
      ok = false;
      break;
    }
    data.append(buffer, n);
  }
  if (ok && std::ferror(stream)) {
    lower::Report(err, reporter, code, "Cannot read %s", file.c_str());
    ok = false;
  }
  std::fclose(stream);
  return ok;
}

// Replaces the file as a whole: the text goes to a temporary file beside it that is then renamed.
bool WriteFile(const std::string &file, const std::string &text, Eerr_ErrorReport **err,
               const char *reporter, int32_t code) {
  const std::size_t slash = file.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  lower::CalleeReport inner;
  lower::HeapPtr<char> made(
      efio_TempName(directory.c_str(), ("." + file.substr(slash == std::string::npos ? 0 : slash + 1)).c_str(), &inner));
  if (!made) {
    lower::ReportCallee(err, inner, reporter, code, "efio_TempName");
    return false;
  }
  const std::string temporary = made.get();
  std::FILE *stream = std::fopen(temporary.c_str(), "wb");
  if (!stream) {
    lower::Report(err, reporter, code, "Cannot create %s: %s", temporary.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  ok = std::fclose(stream) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), file.c_str()) != 0) ok = false;
  if (!ok) {
    lower::Report(err, reporter, code, "Cannot write %s: %s", file.c_str(), std::strerror(errno));
    std::remove(temporary.c_str());
    return false;
  }
  lower::RemoveStaleTemporaries(file);
  return true;
}

int32_t ThisProcess() { return static_cast<int32_t>(getpid()); }

// ---------------------------------------------------------------------------------------------
// Values

bool ParseNumber(const char *text, double &number) {
  if (!text) return false;
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  char *end = nullptr;
  errno = 0;
  number = std::strtod(trimmed.c_str(), &end);
  return *end == '\0' && std::isfinite(number);
}

// 1 for true/yes/on, 0 for false/no/off, -1 otherwise.
int WordBoolean(const char *text) {
  const std::string trimmed = Trim(text ? text : "");
  for (const char *word : {"true", "yes", "on"})
    if (estr_Eqic(trimmed.c_str(), word)) return 1;
  for (const char *word : {"false", "no", "off"})
    if (estr_Eqic(trimmed.c_str(), word)) return 0;
  return -1;
}

std::string NumberText(double number) {
  char text[64];
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, number);
    if (std::strtod(text, nullptr) == number) break;
  }
  return text;
}

bool IsText(int32_t type) { return type == EPMG_TYPE_STRING || type == EPMG_TYPE_ENUM; }

std::string ValueText(const Epmg_Preference &record) {
  switch (record.valueType) {
  case EPMG_TYPE_NUMBER: return NumberText(record.value.number);
  case EPMG_TYPE_BOOLEAN: return record.value.boolean ? "true" : "false";
  case EPMG_TYPE_UNSIGNED: return std::to_string(record.value.unsignedInteger);
  default: return record.value.string ? record.value.string : "";
  }
}

// ---------------------------------------------------------------------------------------------
// Hooks

struct PreferenceMethods {
  int32_t *kind = nullptr;
  Epmg_DatabaseInitializeHook initialize = nullptr;
  Epmg_DatabaseTerminateHook terminate = nullptr;
  Epmg_DatabaseFlushHook flush = nullptr;
  Epmg_AddCallbackHook addCallback = nullptr;
  Epmg_RemoveCallbackHook removeCallback = nullptr;
  Epmg_GetHook get = nullptr;
  Epmg_PutHook put = nullptr;
};

std::mutex methodsMutex;
PreferenceMethods methods;
int32_t localKind = 0; // handed to hooks when no connection-kind word was installed

PreferenceMethods CurrentMethods() {
  std::lock_guard<std::mutex> lock(methodsMutex);
  return methods;
}

int32_t *KindAddress(const PreferenceMethods &m) { return m.kind ? m.kind : &localKind; }


// Reads (default class, category, key) as `type`. On failure the record holds no value.
bool Fetch(const char *category, const char *key, int32_t type, Epmg_Preference &record,
           const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!category || !key) {
    lower::Report(err, reporter, 1, "Missing preference category or key");
    return false;
  }
  record = {};
  record.className = const_cast<char *>(EPMG_DEFAULT_CLASS);
  record.category = const_cast<char *>(category);
  record.name = const_cast<char *>(key);
  const PreferenceMethods m = CurrentMethods();
  lower::CalleeReport inner;
  Epmg_Preference *pointer = &record;
  if (m.get)
    m.get(KindAddress(m), &pointer, &inner);
  else
    ecfg_PreferenceGet(&pointer, &inner);
  if (inner || pointer != &record) {
    if (pointer == &record) epmg_PreferenceValueClear(&record);
    record = {};
    lower::ReportCallee(err, inner, reporter, 2, m.get ? "the preference get hook" : "ecfg_PreferenceGet");
    return false;
  }
  epmg_PreferenceConvert(&record, type, &inner);
  if (inner) {
    epmg_PreferenceValueClear(&record);
    lower::ReportCallee(err, inner, reporter, 3, "epmg_PreferenceConvert");
    return false;
  }
  return true;
}

char *FetchText(const char *category, const char *key, int32_t type, const char *defaultValue,
                const char *reporter, Eerr_ErrorReport **err) {
  Epmg_Preference record;
  if (Fetch(category, key, type, record, reporter, err)) {
    if (record.value.string) return record.value.string;
    return estr_Duplicate("");
  }
  return estr_Duplicate(defaultValue);
}

void Flush(int32_t level, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  const PreferenceMethods m = CurrentMethods();
  lower::CalleeReport inner;
  if (m.flush)
    m.flush(KindAddress(m), level, &inner);
  else
    eprf_DefaultDatabaseFlush(level, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 1, m.flush ? "the preference flush hook" : "eprf_DefaultDatabaseFlush");
}

bool CheckDatabaseRecord(Epmg_Database *database, const void *record, const char *category,
                         const char *name, const char *reporter, Eerr_ErrorReport **err) {
  if (!database) {
    lower::Report(err, reporter, 1, "No database");
    return false;
  }
  if (!record || !category || !name) {
    lower::Report(err, reporter, 2, "Missing preference record, category or name");
    return false;
  }
  return true;
}

using V = lower::Value;
// The methods: the address of the kind word, then one function each; the error slot follows the
// list, so a code this table lacks is taken as one pointer, to find the slot.
constexpr lower::Keyword kMethodKeywords[] = {
    {EPMG_METHOD_KIND_ADDRESS, {V::Pointer}},    {EPMG_METHOD_INITIALIZE, {V::Function}},
    {EPMG_METHOD_TERMINATE, {V::Function}},      {EPMG_METHOD_FLUSH, {V::Function}},
    {EPMG_METHOD_ADD_CALLBACK, {V::Function}},   {EPMG_METHOD_REMOVE_CALLBACK, {V::Function}},
    {EPMG_METHOD_GET, {V::Function}},            {EPMG_METHOD_PUT, {V::Function}}};
constexpr lower::Shape kOtherMethod{V::Pointer};
constexpr lower::KeywordList kMethodList{{kMethodKeywords}, "Unknown implementation method keyword %d", 0,
                                         &kOtherMethod};

} // namespace

extern "C" {

void epmg_PreferenceImplementationMethodsSetV(const char *reporter, int32_t keyword, va_list ap) try {
  PreferenceMethods next = CurrentMethods();
  bool ok = false;
  lower::ReadKeywordsThenSlot(kMethodList, keyword, ap, reporter, 1, ok, [&](int32_t code, const lower::KeywordValues &v) {
    switch (code) {
    case EPMG_METHOD_KIND_ADDRESS: next.kind = v.Pointer<int32_t>(0); break;
    case EPMG_METHOD_INITIALIZE: next.initialize = v.Function<Epmg_DatabaseInitializeHook>(0); break;
    case EPMG_METHOD_TERMINATE: next.terminate = v.Function<Epmg_DatabaseTerminateHook>(0); break;
    case EPMG_METHOD_FLUSH: next.flush = v.Function<Epmg_DatabaseFlushHook>(0); break;
    case EPMG_METHOD_ADD_CALLBACK: next.addCallback = v.Function<Epmg_AddCallbackHook>(0); break;
    case EPMG_METHOD_REMOVE_CALLBACK: next.removeCallback = v.Function<Epmg_RemoveCallbackHook>(0); break;
    case EPMG_METHOD_GET: next.get = v.Function<Epmg_GetHook>(0); break;
    case EPMG_METHOD_PUT: next.put = v.Function<Epmg_PutHook>(0); break;
    }
    return true;
  });
  if (!ok) return;
  std::lock_guard<std::mutex> lock(methodsMutex);
  methods = next;
} TAVIRON_GUARD_QUIET_VOID

void epmg_PreferenceImplementationMethodsSet(int32_t keyword, ...) try {
  va_list ap;
  va_start(ap, keyword);
  epmg_PreferenceImplementationMethodsSetV("epmg_PreferenceImplementationMethodsSet", keyword, ap);
  va_end(ap);
} TAVIRON_GUARD_QUIET_VOID

double epmg_GetNumberPreference(const char *category, const char *key, double defaultValue,
                                Eerr_ErrorReport **err) try {
  Epmg_Preference record;
  if (!Fetch(category, key, EPMG_TYPE_NUMBER, record, "epmg_GetNumberPreference", err))
    return defaultValue;
  return record.value.number;
} TAVIRON_GUARD(err, defaultValue)

int32_t epmg_GetBooleanPreference(const char *category, const char *key, int32_t defaultValue,
                                  Eerr_ErrorReport **err) try {
  Epmg_Preference record;
  if (!Fetch(category, key, EPMG_TYPE_BOOLEAN, record, "epmg_GetBooleanPreference", err))
    return defaultValue;
  return record.value.boolean;
} TAVIRON_GUARD(err, defaultValue)

char *epmg_GetEnumPreference(const char *category, const char *key, const char *defaultValue,
                             Eerr_ErrorReport **err) try {
  return FetchText(category, key, EPMG_TYPE_ENUM, defaultValue, "epmg_GetEnumPreference", err);
} TAVIRON_GUARD(err, nullptr)

char *epmg_GetStringPreference(const char *category, const char *key, const char *defaultValue,
                               Eerr_ErrorReport **err) try {
  return FetchText(category, key, EPMG_TYPE_STRING, defaultValue, "epmg_GetStringPreference", err);
} TAVIRON_GUARD(err, nullptr)

void epmg_AddPreferenceCallback(const char *category, const char *key,
                                Epmg_PreferenceCallback callback, void *userData,
                                Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!category || !key || !callback) {
    lower::Report(err, "epmg_AddPreferenceCallback", 1, "Missing category, key or callback");
    return;
  }
  Epmg_Preference keyRecord{};
  keyRecord.className = const_cast<char *>(EPMG_DEFAULT_CLASS);
  keyRecord.category = const_cast<char *>(category);
  keyRecord.name = const_cast<char *>(key);
  Epmg_CallbackInfo info{ThisProcess(), userData, callback};
  const PreferenceMethods m = CurrentMethods();
  lower::CalleeReport inner;
  if (m.addCallback)
    m.addCallback(KindAddress(m), &keyRecord, &info, &inner);
  else
    eprf_DefaultPreferenceAddCB(&keyRecord, &info, &inner);
  if (inner)
    lower::ReportCallee(err, inner, "epmg_AddPreferenceCallback", 2,
          m.addCallback ? "the add-callback hook" : "eprf_DefaultPreferenceAddCB");
} TAVIRON_GUARD_VOID(err)

void epmg_SaveUserPreference(Eerr_ErrorReport **err) try { Flush(1, "epmg_SaveUserPreference", err); } TAVIRON_GUARD_VOID(err)

void epmg_SaveGlobalPreference(Eerr_ErrorReport **err) try { Flush(2, "epmg_SaveGlobalPreference", err); } TAVIRON_GUARD_VOID(err)

void epmg_PreferenceConvert(Epmg_Preference *record, int32_t type, Eerr_ErrorReport **err) try {
  static const char *reporter = "epmg_PreferenceConvert";
  lower::Clear(err);
  if (!record) {
    lower::Report(err, reporter, 1, "No preference record");
    return;
  }
  if (type == EPMG_TYPE_NONE || type == record->valueType) return;
  if (type < EPMG_TYPE_STRING || type > EPMG_TYPE_UNSIGNED) {
    lower::Report(err, reporter, 2, "Invalid preference type %d", type);
    return;
  }
  const int32_t from = record->valueType;
  if (from < EPMG_TYPE_STRING || from > EPMG_TYPE_UNSIGNED) {
    lower::Report(err, reporter, 3, "Preference %s has no value", record->name ? record->name : "NULL");
    return;
  }
  if (IsText(from) && IsText(type)) {
    record->valueType = type;
    return;
  }
  Epmg_PreferenceValue value{};
  const char *text = IsText(from) ? (record->value.string ? record->value.string : "") : nullptr;
  double number = 0.0;
  const bool numeric = text ? ParseNumber(text, number) : true;
  if (!text)
    number = from == EPMG_TYPE_NUMBER    ? record->value.number
             : from == EPMG_TYPE_BOOLEAN ? (record->value.boolean ? 1.0 : 0.0)
                                         : static_cast<double>(record->value.unsignedInteger);
  switch (type) {
  case EPMG_TYPE_STRING:
  case EPMG_TYPE_ENUM: {
    const std::string formatted = ValueText(*record);
    if (!(value.string = estr_Duplicate(formatted.c_str()))) {
      lower::Report(err, reporter, 4, "Out of memory");
      return;
    }
    break;
  }
  case EPMG_TYPE_NUMBER:
    if (!numeric) {
      lower::Report(err, reporter, 5, "Preference %s: \"%.200s\" is not a number",
                    record->name ? record->name : "NULL", text);
      return;
    }
    value.number = number;
    break;
  case EPMG_TYPE_BOOLEAN: {
    const int word = text ? WordBoolean(text) : -1;
    if (word < 0 && !numeric) {
      lower::Report(err, reporter, 6, "Preference %s: \"%.200s\" is not a boolean",
                    record->name ? record->name : "NULL", text);
      return;
    }
    value.boolean = word >= 0 ? word : (std::trunc(number) > 0.0 ? 1 : 0);
    break;
  }
  default: // unsigned
    if (!numeric || !(number >= 0.0 && number < 4294967296.0)) {
      lower::Report(err, reporter, 7, "Preference %s: \"%.200s\" is not an unsigned integer",
                    record->name ? record->name : "NULL", ValueText(*record).c_str());
      return;
    }
    value.unsignedInteger = static_cast<uint32_t>(number);
  }
  if (IsText(from)) emsc_HeapFree(record->value.string);
  record->value = value;
  record->valueType = type;
} TAVIRON_GUARD_VOID(err)

void epmg_PreferenceValueClear(Epmg_Preference *record) try {
  if (!record) return;
  if (IsText(record->valueType)) emsc_HeapFree(record->value.string);
  record->value = {};
  record->valueType = EPMG_TYPE_NONE;
} TAVIRON_GUARD_QUIET_VOID

// --- Local databases ---------------------------------------------------------------------------

void epmg_GetPreference(Epmg_Database *database, Epmg_Preference *record, Eerr_ErrorReport **err) try {
  static const char *reporter = "epmg_GetPreference";
  lower::Clear(err);
  if (!CheckDatabaseRecord(database, record, record ? record->category : nullptr,
                           record ? record->name : nullptr, reporter, err))
    return;
  StoredValue found;
  {
    std::lock_guard<std::mutex> lock(database->mutex);
    const StoredValue *value = Lookup(*database, record->category, record->name);
    if (!value) {
      lower::Report(err, reporter, 3, "No value for %s/%s in class %s", record->category,
                    record->name, database->className.c_str());
      return;
    }
    found = *value;
  }
  Epmg_Preference result = *record;
  result.valueType = EPMG_TYPE_STRING;
  if (!(result.value.string = estr_Duplicate(found.text.c_str()))) {
    lower::Report(err, reporter, 4, "Out of memory");
    return;
  }
  const int32_t want = record->valueType >= EPMG_TYPE_STRING && record->valueType <= EPMG_TYPE_UNSIGNED
                           ? record->valueType
                           : (found.type != EPMG_TYPE_NONE ? found.type : EPMG_TYPE_STRING);
  lower::CalleeReport inner;
  epmg_PreferenceConvert(&result, want, &inner);
  if (inner) {
    epmg_PreferenceValueClear(&result);
    lower::ReportCallee(err, inner, reporter, 5, "epmg_PreferenceConvert");
    return;
  }
  record->value = result.value;
  record->valueType = result.valueType;
} TAVIRON_GUARD_VOID(err)

int32_t epmg_PutPreference(Epmg_Database *database, const Epmg_Preference *record,
                           Eerr_ErrorReport **err) try {
  static const char *reporter = "epmg_PutPreference";
  lower::Clear(err);
  if (!CheckDatabaseRecord(database, record, record ? record->category : nullptr,
                           record ? record->name : nullptr, reporter, err))
    return 0;
  if (record->valueType < EPMG_TYPE_STRING || record->valueType > EPMG_TYPE_UNSIGNED) {
    lower::Report(err, reporter, 3, "Invalid preference type %d", record->valueType);
    return 0;
  }
  if (!ValidName(record->category, true, database->format) ||
      !ValidName(record->name, false, database->format)) {
    lower::Report(err, reporter, 4, "Invalid preference name \"%.200s/%.200s\"", record->category,
                  record->name);
    return 0;
  }
  const StoredValue value{ValueText(*record), record->valueType};
  std::lock_guard<std::mutex> lock(database->mutex);
  const StoredValue *before = Lookup(*database, record->category, record->name);
  const bool changed = !before || before->text != value.text;
  Level &level = database->levels[database->current];
  Section &section = AddSection(level, record->category);
  Entry *entry = FindEntry(section, record->name);
  if (!entry || entry->value.text != value.text || entry->value.type != value.type) {
    SetEntry(section, record->name, value);
    level.dirty = true;
  }
  return changed ? 1 : 0;
} TAVIRON_GUARD(err, 0)

void epmg_AddCallback(Epmg_Database *database, const Epmg_PreferenceCallbackRecord *record,
                      Eerr_ErrorReport **err) try {
  static const char *reporter = "epmg_AddCallback";
  lower::Clear(err);
  if (!CheckDatabaseRecord(database, record, record ? record->category : nullptr,
                           record ? record->name : nullptr, reporter, err))
    return;
  if (!record->callback) {
    lower::Report(err, reporter, 3, "No callback");
    return;
  }
  const int32_t process = record->processId ? record->processId : ThisProcess();
  std::lock_guard<std::mutex> lock(database->mutex);
  for (const CallbackEntry &entry : database->callbacks)
    if (SameName(entry.category, record->category) && SameName(entry.name, record->name) &&
        entry.callback == record->callback && entry.userData == record->userData &&
        entry.processId == process)
      return;
  database->callbacks.push_back(
      {record->category, record->name, record->callback, record->userData, process});
} TAVIRON_GUARD_VOID(err)

void epmg_RemoveCallback(Epmg_Database *database, const Epmg_PreferenceCallbackRecord *record,
                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!CheckDatabaseRecord(database, record, record ? record->category : nullptr,
                           record ? record->name : nullptr, "epmg_RemoveCallback", err))
    return;
  const int32_t process = record->processId ? record->processId : ThisProcess();
  std::lock_guard<std::mutex> lock(database->mutex);
  std::erase_if(database->callbacks, [&](const CallbackEntry &entry) {
    return SameName(entry.category, record->category) && SameName(entry.name, record->name) &&
           entry.processId == process && (!record->callback || entry.callback == record->callback);
  });
} TAVIRON_GUARD_VOID(err)

Epmg_CallbackNode *epmg_GetCallbackList(Epmg_Database *database, const Epmg_Preference *record) try {
  if (!database || !record || !record->category || !record->name) return nullptr;
  std::lock_guard<std::mutex> lock(database->mutex);
  Epmg_CallbackNode *head = nullptr, **tail = &head;
  for (const CallbackEntry &entry : database->callbacks) {
    if (!SameName(entry.category, record->category) || !SameName(entry.name, record->name)) continue;
    auto *node = static_cast<Epmg_CallbackNode *>(emsc_HeapMalloc(sizeof(Epmg_CallbackNode)));
    if (!node) break; // out of memory: the callbacks found so far
    node->processId = entry.processId;
    node->callback = entry.callback;
    node->userData = entry.userData;
    *tail = node;
    tail = &node->next;
  }
  return head;
} TAVIRON_GUARD_QUIET(nullptr)

void epmg_FreeCallbackList(Epmg_CallbackNode *list) try {
  while (list) {
    Epmg_CallbackNode *next = list->next;
    emsc_HeapFree(list);
    list = next;
  }
} TAVIRON_GUARD_QUIET_VOID

Epmg_Database *epmg_DatabaseCreate(const char *className, int32_t format, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!className || !*className) {
    lower::Report(err, "epmg_DatabaseCreate", 1, "Missing class name");
    return nullptr;
  }
  if (format != EPMG_FORMAT_PREFERENCES && format != EPMG_FORMAT_CONFIGURATION) {
    lower::Report(err, "epmg_DatabaseCreate", 2, "Invalid database format %d", format);
    return nullptr;
  }
  auto *database = lower::HeapNew<Epmg_Database>();
  if (!database) {
    lower::Report(err, "epmg_DatabaseCreate", 3, "Out of memory");
    return nullptr;
  }
  database->className = className;
  database->format = format;
  database->levels.resize(1); // one level in memory until files are given
  return database;
} TAVIRON_GUARD(err, nullptr)

void epmg_DatabaseDelete(Epmg_Database **database) try {
  if (!database) return;
  lower::HeapDelete(*database);
  *database = nullptr;
} TAVIRON_GUARD_QUIET_VOID

void epmg_DatabaseSetLevels(Epmg_Database *database, const Estr_StringList *files, int32_t current,
                            Eerr_ErrorReport **err) try {
  static const char *reporter = "epmg_DatabaseSetLevels";
  lower::Clear(err);
  if (!database) {
    lower::Report(err, reporter, 1, "No database");
    return;
  }
  const int32_t count = estr_StringListCount(files);
  if (count > 0 ? (current < 0 || current >= count) : current != 0) {
    lower::Report(err, reporter, 2, "Invalid current level %d of %d", current, count);
    return;
  }
  std::vector<Level> levels(count > 0 ? static_cast<std::size_t>(count) : 1);
  for (int32_t i = 0; i < count; ++i) {
    Level &level = levels[static_cast<std::size_t>(i)];
    level.file = files->strings[i] ? files->strings[i] : "";
    if (level.file.empty()) continue;
    std::string data;
    bool missing = false;
    if (!ReadFile(level.file, data, missing, err, reporter, 3) ||
        !ParseLevel(database->format, data.data(), data.size(), level.file, level, err, reporter, 4)) {
      level.sections.clear();
      level.unreadable = true;
    }
  }
  std::lock_guard<std::mutex> lock(database->mutex);
  database->levels = std::move(levels);
  database->current = static_cast<std::size_t>(current);
} TAVIRON_GUARD_VOID(err)

void epmg_DatabaseSetCurrentLevel(Epmg_Database *database, int32_t current, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!database) {
    lower::Report(err, "epmg_DatabaseSetCurrentLevel", 1, "No database");
    return;
  }
  std::lock_guard<std::mutex> lock(database->mutex);
  if (current < 0 || static_cast<std::size_t>(current) >= database->levels.size()) {
    lower::Report(err, "epmg_DatabaseSetCurrentLevel", 2, "Invalid level %d", current);
    return;
  }
  database->current = static_cast<std::size_t>(current);
} TAVIRON_GUARD_VOID(err)

void epmg_DatabaseAddCategory(Epmg_Database *database, const char *category,
                              Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!database) {
    lower::Report(err, "epmg_DatabaseAddCategory", 1, "No database");
    return;
  }
  if (!ValidName(category, true, database->format)) {
    lower::Report(err, "epmg_DatabaseAddCategory", 2, "Invalid name \"%.200s\"",
                  category ? category : "NULL");
    return;
  }
  std::lock_guard<std::mutex> lock(database->mutex);
  Level &level = database->levels[database->current];
  if (FindSection(level, category)) return;
  level.sections.push_back({category, {}});
  level.dirty = true;
} TAVIRON_GUARD_VOID(err)

Estr_StringList *epmg_DatabaseCategories(Epmg_Database *database, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!database) {
    lower::Report(err, "epmg_DatabaseCategories", 1, "No database");
    return nullptr;
  }
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> lock(database->mutex);
    for (const Level &level : database->levels)
      for (const Section &section : level.sections) {
        bool seen = false;
        for (const std::string &name : names) seen = seen || SameName(name, section.name.c_str());
        if (!seen) names.push_back(section.name);
      }
  }
  std::vector<const char *> pointers;
  for (const std::string &name : names) pointers.push_back(name.c_str());
  lower::CalleeReport inner;
  Estr_StringList *list = estr_StringToStringList(static_cast<int32_t>(pointers.size()), pointers.data(), &inner);
  if (inner) lower::ReportCallee(err, inner, "epmg_DatabaseCategories", 2, "estr_StringToStringList");
  return list;
} TAVIRON_GUARD(err, nullptr)

Estr_StringList *epmg_DatabaseKeys(Epmg_Database *database, const char *category,
                                   Eerr_ErrorReport **err) try {
  static const char *reporter = "epmg_DatabaseKeys";
  lower::Clear(err);
  if (!database || !category) {
    lower::Report(err, reporter, 1, "Missing database or category");
    return nullptr;
  }
  Section merged;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(database->mutex);
    for (Level &level : database->levels)
      if (Section *section = FindSection(level, category)) {
        found = true;
        for (const Entry &entry : section->entries) SetEntry(merged, entry.key, entry.value);
      }
  }
  if (!found) {
    lower::Report(err, reporter, 2, "No %s in class %s", category, database->className.c_str());
    return nullptr;
  }
  std::vector<const char *> pointers;
  for (const Entry &entry : merged.entries) {
    pointers.push_back(entry.key.c_str());
    pointers.push_back(entry.value.text.c_str());
  }
  lower::CalleeReport inner;
  Estr_StringList *list = estr_StringToStringList(static_cast<int32_t>(pointers.size()), pointers.data(), &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 3, "estr_StringToStringList");
  return list;
} TAVIRON_GUARD(err, nullptr)

void epmg_DatabaseSave(Epmg_Database *database, Eerr_ErrorReport **err) try {
  static const char *reporter = "epmg_DatabaseSave";
  lower::Clear(err);
  if (!database) {
    lower::Report(err, reporter, 1, "No database");
    return;
  }
  std::lock_guard<std::mutex> lock(database->mutex);
  for (Level &level : database->levels) {
    if (!level.dirty) continue;
    if (level.file.empty()) {
      lower::Report(err, reporter, 2, "Changes of class %s have no file to go to",
                    database->className.c_str());
    } else if (level.unreadable) {
      lower::Report(err, reporter, 3, "%s could not be read and is not overwritten", level.file.c_str());
    } else if (WriteFile(level.file, LevelText(database->format, level, nullptr), err, reporter, 4)) {
      level.dirty = false;
    }
  }
} TAVIRON_GUARD_VOID(err)

void epmg_DatabaseWrite(Epmg_Database *database, int32_t level, const char *category,
                        const char *file, Eerr_ErrorReport **err) try {
  static const char *reporter = "epmg_DatabaseWrite";
  lower::Clear(err);
  if (!database || !file || !*file) {
    lower::Report(err, reporter, 1, "Missing database or file name");
    return;
  }
  std::lock_guard<std::mutex> lock(database->mutex);
  if (level < -1 || level >= static_cast<int32_t>(database->levels.size())) {
    lower::Report(err, reporter, 2, "Invalid level %d", level);
    return;
  }
  Level merged;
  if (level >= 0) {
    merged = database->levels[static_cast<std::size_t>(level)];
  } else {
    for (const Level &each : database->levels)
      for (const Section &section : each.sections) {
        Section &target = AddSection(merged, section.name);
        for (const Entry &entry : section.entries) SetEntry(target, entry.key, entry.value);
      }
  }
  if (category && !FindSection(merged, category)) {
    lower::Report(err, reporter, 3, "No %s in class %s", category, database->className.c_str());
    return;
  }
  WriteFile(file, LevelText(database->format, merged, category), err, reporter, 4);
} TAVIRON_GUARD_VOID(err)

} // extern "C"
