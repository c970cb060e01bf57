// Configuration databases: each class is a database of instances (sections) whose levels are the
// ".cfg" files of the directories of NORIX_CFG_PATH and the databases of NORIX_CFG_DATABASES.
#include "ecfg.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "emsc.h"
#include "eprf.h"
#include "internal.h"
#include "keywords.h"

namespace lower = taviron::lower;

namespace {

struct ConfigurationMethods {
  Ecfg_InitHook init = nullptr;
  Ecfg_QueryHook query = nullptr;
  Ecfg_GetClassHook getClass = nullptr;
  Ecfg_LevelListHook directories = nullptr;
  Ecfg_LevelListHook databases = nullptr;
  Ecfg_SetDatabaseLevelHook setLevel = nullptr;
  Ecfg_InstallChangeHook installChange = nullptr;
  Ecfg_PreferenceGetHook preferenceGet = nullptr;
  Ecfg_PutPreferenceHook putPreference = nullptr;
  Ecfg_WriteCategoryHook writeCategory = nullptr;
};

std::mutex methodsMutex;
ConfigurationMethods methods;

ConfigurationMethods CurrentMethods() {
  std::lock_guard<std::mutex> lock(methodsMutex);
  return methods;
}

struct ConfigurationClass {
  std::string name;
  Epmg_Database *database;
  int32_t directory; // current level: index into the directories (-1 when there are none)
  int32_t base;      // and into the databases
};

// The levels of every class: for each directory, most general first, its databases from the last
// listed to the first (so the first listed database is the most specific of its directory).
struct State {
  bool read = false;
  std::vector<std::string> directories;
  std::vector<std::string> databases; // "" is the plain "<class>.cfg"
  std::vector<ConfigurationClass> classes;
  ~State() {
    for (ConfigurationClass &entry : classes) epmg_DatabaseDelete(&entry.database);
  }
};

std::mutex stateMutex;
State state;


bool ValidClassName(const char *name) {
  if (!name || !*name) return false;
  for (const char *p = name; *p; ++p)
    if (*p == '/' || *p == '\\' || *p == '\n' || *p == '\r') return false;
  return true;
}

std::vector<std::string> SplitVariable(const char *variable, int32_t paths, Eerr_ErrorReport **err,
                                       const char *reporter) {
  std::vector<std::string> items;
  lower::CalleeReport inner;
  if (!lower::ExpandList(std::getenv(variable), paths != 0, items, &inner, reporter))
    lower::ReportCallee(err, inner, reporter, 90, "the expansion of a list");
  return items;
}

void ReadEnvironment(Eerr_ErrorReport **err, const char *reporter) {
  state.directories = SplitVariable("NORIX_CFG_PATH", 1, err, reporter);
  state.databases = SplitVariable("NORIX_CFG_DATABASES", 0, err, reporter);
  if (state.databases.empty()) state.databases.emplace_back();
  state.read = true;
}

int32_t LevelIndex(const ConfigurationClass &entry) {
  if (entry.directory < 0) return 0;
  const auto bases = static_cast<int32_t>(state.databases.size());
  return entry.directory * bases + (bases - 1 - entry.base);
}

void Load(ConfigurationClass &entry, Eerr_ErrorReport **err, const char *reporter) {
  entry.directory = static_cast<int32_t>(state.directories.size()) - 1; // the most specific
  entry.base = 0;
  std::vector<std::string> files;
  for (const std::string &directory : state.directories)
    for (auto base = state.databases.rbegin(); base != state.databases.rend(); ++base)
      files.push_back(directory + "/" + entry.name + (base->empty() ? "" : "." + *base) + ".cfg");
  std::vector<const char *> pointers;
  for (const std::string &file : files) pointers.push_back(file.c_str());
  lower::CalleeReport inner;
  Estr_StringList *list = estr_StringToStringList(static_cast<int32_t>(pointers.size()), pointers.data(), &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 91, "estr_StringToStringList");
    return;
  }
  epmg_DatabaseSetLevels(entry.database, list, LevelIndex(entry), &inner);
  estr_StringListDelete(list, nullptr);
  if (inner) lower::ReportCallee(err, inner, reporter, 92, "epmg_DatabaseSetLevels");
}

// The class, created and read on first use; call with the state locked. A class whose files
// could not all be read is still returned, with the report.
ConfigurationClass *GetClass(const char *className, Eerr_ErrorReport **err, const char *reporter) {
  if (!ValidClassName(className)) {
    lower::Report(err, reporter, 93, "Invalid configuration class name \"%.200s\"",
                  className ? className : "NULL");
    return nullptr;
  }
  if (!state.read) ReadEnvironment(err, reporter);
  for (ConfigurationClass &entry : state.classes)
    if (estr_Eqic(entry.name.c_str(), className)) return &entry;
  lower::CalleeReport inner;
  Epmg_Database *database = epmg_DatabaseCreate(className, EPMG_FORMAT_CONFIGURATION, &inner);
  if (!database) {
    lower::ReportCallee(err, inner, reporter, 94, "epmg_DatabaseCreate");
    return nullptr;
  }
  state.classes.push_back({className, database, -1, 0});
  Load(state.classes.back(), err, reporter);
  return &state.classes.back();
}

Estr_StringList *Copy(const std::vector<std::string> &items, Eerr_ErrorReport **err,
                      const char *reporter) {
  std::vector<const char *> pointers;
  for (const std::string &item : items) pointers.push_back(item.c_str());
  lower::CalleeReport inner;
  Estr_StringList *list = estr_StringToStringList(static_cast<int32_t>(pointers.size()), pointers.data(), &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 95, "estr_StringToStringList");
  return list;
}

Estr_StringList *LevelList(const char *className, int32_t *current, bool directories,
                           Eerr_ErrorReport **err, const char *reporter) {
  lower::Clear(err);
  const ConfigurationMethods m = CurrentMethods();
  Ecfg_LevelListHook hook = directories ? m.directories : m.databases;
  if (hook) return hook(className, current, err);
  std::lock_guard<std::mutex> lock(stateMutex);
  lower::CalleeReport inner;
  ConfigurationClass *entry = GetClass(className, &inner, reporter);
  if (inner) { // an invalid name, or the class's files could not be read
    lower::PassOn(err, inner);
    return nullptr;
  }
  const std::vector<std::string> &items = directories ? state.directories : state.databases;
  if (current) *current = directories ? entry->directory : (items.empty() ? -1 : entry->base);
  return Copy(items, err, reporter);
}

bool FetchTyped(const char *className, const char *instance, const char *key, int32_t type,
                Epmg_Preference &record, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!className || !instance || !key) {
    lower::Report(err, reporter, 1, "Missing class, instance or key");
    return false;
  }
  record = {};
  record.className = const_cast<char *>(className);
  record.category = const_cast<char *>(instance);
  record.name = const_cast<char *>(key);
  Epmg_Preference *pointer = &record;
  lower::CalleeReport inner;
  ecfg_PreferenceGet(&pointer, &inner);
  if (inner || pointer != &record) {
    if (pointer == &record) epmg_PreferenceValueClear(&record);
    record = {};
    lower::ReportCallee(err, inner, reporter, 2, "ecfg_PreferenceGet");
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

char *FetchText(const char *className, const char *instance, const char *key, int32_t type,
                const char *defaultValue, const char *reporter, Eerr_ErrorReport **err) {
  Epmg_Preference record;
  if (FetchTyped(className, instance, key, type, record, reporter, err))
    return record.value.string ? record.value.string : estr_Duplicate("");
  return estr_Duplicate(defaultValue);
}

// The class database for a change or a query; null with a report when the class could not be
// read (a corrupt file is reported by the call that reads it).
Epmg_Database *ClassDatabase(const char *className, Eerr_ErrorReport **err, const char *reporter,
                             int32_t code) {
  lower::CalleeReport inner;
  Epmg_Database *database = ecfg_GetClassDB(className, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, code, "ecfg_GetClassDB");
    return nullptr;
  }
  return database;
}

using V = lower::Value;
// Every implementation method is one function; the error slot follows the list, so a code
// this table lacks is taken as one function too, to find the slot.
constexpr lower::Keyword kMethodKeywords[] = {
    {ECFG_METHOD_QUERY, {V::Function}},          {ECFG_METHOD_GET_CLASS, {V::Function}},
    {ECFG_METHOD_DATABASE_DIRECTORIES, {V::Function}}, {ECFG_METHOD_DATABASES, {V::Function}},
    {ECFG_METHOD_SET_DATABASE_LEVEL, {V::Function}}, {ECFG_METHOD_INSTALL_CHANGE, {V::Function}},
    {ECFG_METHOD_INIT, {V::Function}},           {ECFG_METHOD_PREFERENCE_GET, {V::Function}},
    {ECFG_METHOD_PUT_PREFERENCE, {V::Function}}, {ECFG_METHOD_WRITE_CATEGORY, {V::Function}}};
constexpr lower::Shape kOtherMethod{V::Function};
constexpr lower::KeywordList kMethodList{{kMethodKeywords}, "Unknown implementation method keyword %d", 0,
                                         &kOtherMethod};

} // namespace

extern "C" {

void ecfg_ImplementationMethodsSetV(const char *reporter, int32_t keyword, va_list ap) try {
  ConfigurationMethods next = CurrentMethods();
  bool ok = false;
  lower::ReadKeywordsThenSlot(kMethodList, keyword, ap, reporter, 1, ok, [&](int32_t code, const lower::KeywordValues &v) {
    switch (code) {
    case ECFG_METHOD_QUERY: next.query = v.Function<Ecfg_QueryHook>(0); break;
    case ECFG_METHOD_GET_CLASS: next.getClass = v.Function<Ecfg_GetClassHook>(0); break;
    case ECFG_METHOD_DATABASE_DIRECTORIES: next.directories = v.Function<Ecfg_LevelListHook>(0); break;
    case ECFG_METHOD_DATABASES: next.databases = v.Function<Ecfg_LevelListHook>(0); break;
    case ECFG_METHOD_SET_DATABASE_LEVEL: next.setLevel = v.Function<Ecfg_SetDatabaseLevelHook>(0); break;
    case ECFG_METHOD_INSTALL_CHANGE: next.installChange = v.Function<Ecfg_InstallChangeHook>(0); break;
    case ECFG_METHOD_INIT: next.init = v.Function<Ecfg_InitHook>(0); break;
    case ECFG_METHOD_PREFERENCE_GET: next.preferenceGet = v.Function<Ecfg_PreferenceGetHook>(0); break;
    case ECFG_METHOD_PUT_PREFERENCE: next.putPreference = v.Function<Ecfg_PutPreferenceHook>(0); break;
    case ECFG_METHOD_WRITE_CATEGORY: next.writeCategory = v.Function<Ecfg_WriteCategoryHook>(0); break;
    }
    return true;
  });
  if (!ok) return;
  std::lock_guard<std::mutex> lock(methodsMutex);
  methods = next;
} TAVIRON_GUARD_QUIET_VOID

void ecfg_ImplementationMethodsSet(int32_t keyword, ...) try {
  va_list ap;
  va_start(ap, keyword);
  ecfg_ImplementationMethodsSetV("ecfg_ImplementationMethodsSet", keyword, ap);
  va_end(ap);
} TAVIRON_GUARD_QUIET_VOID

void ecfg_Init(Eerr_ErrorReport **err) try {
  static const char *reporter = "ecfg_Init";
  lower::Clear(err);
  if (Ecfg_InitHook hook = CurrentMethods().init) {
    hook(err);
    return;
  }
  std::lock_guard<std::mutex> lock(stateMutex);
  ReadEnvironment(err, reporter);
  for (ConfigurationClass &entry : state.classes) Load(entry, err, reporter);
} TAVIRON_GUARD_VOID(err)

Epmg_Database *ecfg_GetTemplateDB(const char *className, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  Epmg_Database *database = eprf_DefaultDatabaseGet(className, &inner);
  if (inner) lower::ReportCallee(err, inner, "ecfg_GetTemplateDB", 1, "eprf_DefaultDatabaseGet");
  return database;
} TAVIRON_GUARD(err, nullptr)

Epmg_Database *ecfg_GetClassDB(const char *className, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  std::lock_guard<std::mutex> lock(stateMutex);
  ConfigurationClass *entry = GetClass(className, err, "ecfg_GetClassDB");
  return entry ? entry->database : nullptr;
} TAVIRON_GUARD(err, nullptr)

Estr_StringList *ecfg_QueryCreateAndExecute(const char *className, const char *category,
                                            const char *instance, const char *key, int32_t flags,
                                            Eerr_ErrorReport **err) try {
  static const char *reporter = "ecfg_QueryCreateAndExecute";
  lower::Clear(err);
  if (Ecfg_QueryHook hook = CurrentMethods().query)
    return hook(className, category, instance, key, flags, err);
  Epmg_Database *database = ClassDatabase(className, err, reporter, 1);
  if (!database) return nullptr;
  lower::CalleeReport inner;
  switch (flags) {
  case ECFG_QUERY_INSTANCES: {
    Estr_StringList *list = epmg_DatabaseCategories(database, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, "epmg_DatabaseCategories");
    return list;
  }
  case ECFG_QUERY_KEY_VALUES: {
    if (!key) {
      lower::Report(err, reporter, 3, "The query of a key's values needs a key");
      return nullptr;
    }
    Estr_StringList *instances = epmg_DatabaseCategories(database, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 4, "epmg_DatabaseCategories");
      return nullptr;
    }
    Estr_StringList *values = estr_StringListCreate(0, &inner);
    for (int32_t i = 0; i < instances->count && !inner; ++i) {
      Epmg_Preference record{};
      record.category = instances->strings[i];
      record.name = const_cast<char *>(key);
      record.valueType = EPMG_TYPE_STRING;
      lower::CalleeReport missing;
      epmg_GetPreference(database, &record, &missing);
      if (missing) {
        missing.Drop(); // an instance without the key
        continue;
      }
      values = estr_StringListAppend(values, record.value.string, &inner);
      epmg_PreferenceValueClear(&record);
    }
    estr_StringListDelete(instances, nullptr);
    if (inner) {
      estr_StringListDelete(values, nullptr);
      lower::ReportCallee(err, inner, reporter, 5, "estr_StringListAppend");
      return nullptr;
    }
    return values;
  }
  case ECFG_QUERY_INSTANCE_PAIRS: {
    if (!instance) {
      lower::Report(err, reporter, 6, "The query of an instance's keys needs an instance");
      return nullptr;
    }
    Estr_StringList *list = epmg_DatabaseKeys(database, instance, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 7, "epmg_DatabaseKeys");
    return list;
  }
  default:
    lower::Report(err, reporter, 8, "Unsupported query flags %d", flags);
    return nullptr;
  }
} TAVIRON_GUARD(err, nullptr)

char *ecfg_GetClass(const char *className) try {
  if (Ecfg_GetClassHook hook = CurrentMethods().getClass) return hook(className);
  return ValidClassName(className) ? estr_Duplicate(className) : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

Estr_StringList *ecfg_GetDatabaseDirectories(const char *className, int32_t *current,
                                             Eerr_ErrorReport **err) try {
  return LevelList(className, current, true, err, "ecfg_GetDatabaseDirectories");
} TAVIRON_GUARD(err, nullptr)

Estr_StringList *ecfg_GetDatabases(const char *className, int32_t *current, Eerr_ErrorReport **err) try {
  return LevelList(className, current, false, err, "ecfg_GetDatabases");
} TAVIRON_GUARD(err, nullptr)

void ecfg_SetDatabaseLevel(const char *className, const char *directory, const char *database,
                           Eerr_ErrorReport **err) try {
  static const char *reporter = "ecfg_SetDatabaseLevel";
  lower::Clear(err);
  if (Ecfg_SetDatabaseLevelHook hook = CurrentMethods().setLevel) {
    hook(className, directory, database, err);
    return;
  }
  std::lock_guard<std::mutex> lock(stateMutex);
  lower::CalleeReport inner;
  ConfigurationClass *entry = GetClass(className, &inner, reporter);
  if (inner) { // an invalid name, or the class's files could not be read
    lower::PassOn(err, inner);
    return;
  }
  int32_t d = entry->directory, b = entry->base;
  if (directory) {
    d = -1;
    for (std::size_t i = 0; i < state.directories.size(); ++i)
      if (state.directories[i] == directory) d = static_cast<int32_t>(i);
  }
  if (database) {
    b = -1;
    for (std::size_t i = 0; i < state.databases.size(); ++i)
      if (state.databases[i] == database) b = static_cast<int32_t>(i);
  }
  if (d < 0 || b < 0) {
    lower::Report(err, reporter, 2, "No configuration level \"%.200s\", \"%.200s\" for class %s",
                  directory ? directory : "", database ? database : "", entry->name.c_str());
    return;
  }
  ConfigurationClass chosen = *entry;
  chosen.directory = d;
  chosen.base = b;
  epmg_DatabaseSetCurrentLevel(entry->database, LevelIndex(chosen), &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "epmg_DatabaseSetCurrentLevel");
    return;
  }
  entry->directory = d;
  entry->base = b;
} TAVIRON_GUARD_VOID(err)

void ecfg_InstallChangeImmediate(const char *className, int32_t operation, int32_t immediate,
                                 const char *name, const char *key, int32_t valueKind, void *value,
                                 Eerr_ErrorReport **err) try {
  static const char *reporter = "ecfg_InstallChangeImmediate";
  lower::Clear(err);
  if (Ecfg_InstallChangeHook hook = CurrentMethods().installChange) {
    hook(className, operation, immediate, name, key, valueKind, value, err);
    return;
  }
  Epmg_Database *database = ClassDatabase(className, err, reporter, 1);
  if (!database) return;
  lower::CalleeReport inner;
  if (operation == ECFG_CHANGE_CREATE_INSTANCE) {
    epmg_DatabaseAddCategory(database, key, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, "epmg_DatabaseAddCategory");
    return;
  }
  if (operation != ECFG_CHANGE_SET_KEY) {
    lower::Report(err, reporter, 3, "Unsupported change operation %d", operation);
    return;
  }
  const auto *list = static_cast<const Estr_StringList *>(value);
  if (valueKind != ECFG_VALUE_STRING_LIST || !list || list->count != 1 || !list->strings[0]) {
    lower::Report(err, reporter, 4, "A key is set from a list of one string (value kind %d)", valueKind);
    return;
  }
  Estr_StringList *existing = name ? epmg_DatabaseKeys(database, name, &inner) : nullptr;
  estr_StringListDelete(existing, nullptr);
  if (!existing) {
    inner.Drop();
    lower::Report(err, reporter, 5, "No instance %s in class %s", name ? name : "NULL", className);
    return;
  }
  Epmg_Preference record{};
  record.className = const_cast<char *>(className);
  record.category = const_cast<char *>(name);
  record.name = const_cast<char *>(key);
  record.value.string = list->strings[0];
  record.valueType = EPMG_TYPE_STRING;
  epmg_PutPreference(database, &record, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 6, "epmg_PutPreference");
} TAVIRON_GUARD_VOID(err)

void ecfg_SaveChangeList(const char *className, int32_t flags, Eerr_ErrorReport **err) try {
  (void)flags;
  lower::Clear(err);
  Epmg_Database *database = ClassDatabase(className, err, "ecfg_SaveChangeList", 1);
  if (!database) return;
  lower::CalleeReport inner;
  epmg_DatabaseSave(database, &inner);
  if (inner) lower::ReportCallee(err, inner, "ecfg_SaveChangeList", 2, "epmg_DatabaseSave");
} TAVIRON_GUARD_VOID(err)

void ecfg_WriteCategory(const char *className, const char *category, const char *directory,
                        const char *suffix, Eerr_ErrorReport **err) try {
  static const char *reporter = "ecfg_WriteCategory";
  lower::Clear(err);
  if (estr_Eqic(className, "printers")) return;
  if (Ecfg_WriteCategoryHook hook = CurrentMethods().writeCategory) {
    hook(className, category, directory, suffix, err);
    return;
  }
  if (!directory || !*directory) {
    lower::Report(err, reporter, 1, "No directory to write class %s to", className ? className : "NULL");
    return;
  }
  Epmg_Database *database = ClassDatabase(className, err, reporter, 2);
  if (!database) return;
  const bool withSuffix = suffix && *suffix;
  const std::string file = lower::Format("%s/%s%s%s.cfg", directory, className, withSuffix ? "." : "",
                                         withSuffix ? suffix : "");
  lower::CalleeReport inner;
  epmg_DatabaseWrite(database, -1, category, file.c_str(), &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 3, "epmg_DatabaseWrite");
} TAVIRON_GUARD_VOID(err)

void ecfg_PreferenceGet(Epmg_Preference **record, Eerr_ErrorReport **err) try {
  static const char *reporter = "ecfg_PreferenceGet";
  lower::Clear(err);
  if (!record || !*record) {
    lower::Report(err, reporter, 1, "No preference record");
    if (record) *record = nullptr;
    return;
  }
  if (Ecfg_PreferenceGetHook hook = CurrentMethods().preferenceGet) {
    lower::CalleeReport inner;
    hook(record, &inner);
    if (inner) {
      *record = nullptr;
      lower::ReportCallee(err, inner, reporter, 2, "the preference get hook");
    }
    return;
  }
  const char *className = (*record)->className ? (*record)->className : EPMG_DEFAULT_CLASS;
  lower::CalleeReport inner;
  if (Epmg_Database *templates = eprf_DefaultDatabaseGet(className, &inner)) {
    inner.Drop();
    epmg_GetPreference(templates, *record, &inner);
    if (!inner) return;
  }
  inner.Drop();
  Epmg_Database *database = ecfg_GetClassDB(className, &inner);
  if (database) {
    inner.Drop();
    epmg_GetPreference(database, *record, &inner);
  }
  if (inner) {
    *record = nullptr;
    lower::ReportCallee(err, inner, reporter, 3, database ? "epmg_GetPreference" : "ecfg_GetClassDB");
  }
} TAVIRON_GUARD_VOID(err)

void ecfg_PutPreference(Epmg_Preference *record, Eerr_ErrorReport **err) try {
  static const char *reporter = "ecfg_PutPreference";
  lower::Clear(err);
  if (Ecfg_PutPreferenceHook hook = CurrentMethods().putPreference) {
    hook(record, err);
    return;
  }
  if (!record) {
    lower::Report(err, reporter, 1, "No preference record");
    return;
  }
  lower::CalleeReport inner;
  Epmg_Database *database = eprf_DefaultDatabaseGet(record->className, &inner);
  if (!database) {
    lower::ReportCallee(err, inner, reporter, 2, "eprf_DefaultDatabaseGet");
    return;
  }
  inner.Drop();
  if (!epmg_PutPreference(database, record, &inner)) {
    if (inner) lower::ReportCallee(err, inner, reporter, 3, "epmg_PutPreference");
    return;
  }
  Epmg_CallbackNode *list = epmg_GetCallbackList(database, record);
  const auto self = static_cast<int32_t>(getpid());
  for (Epmg_CallbackNode *node = list; node; node = node->next)
    if (node->processId == self) node->callback(node->userData, record);
  epmg_FreeCallbackList(list);
} TAVIRON_GUARD_VOID(err)

double ecfg_GetNumberPreference(const char *className, const char *instance, const char *key,
                                double defaultValue, Eerr_ErrorReport **err) try {
  Epmg_Preference record;
  if (!FetchTyped(className, instance, key, EPMG_TYPE_NUMBER, record, "ecfg_GetNumberPreference", err))
    return defaultValue;
  return record.value.number;
} TAVIRON_GUARD(err, defaultValue)

int32_t ecfg_GetBooleanPreference(const char *className, const char *instance, const char *key,
                                  int32_t defaultValue, Eerr_ErrorReport **err) try {
  Epmg_Preference record;
  if (!FetchTyped(className, instance, key, EPMG_TYPE_BOOLEAN, record, "ecfg_GetBooleanPreference", err))
    return defaultValue;
  return record.value.boolean;
} TAVIRON_GUARD(err, defaultValue)

char *ecfg_GetEnumPreference(const char *className, const char *instance, const char *key,
                             const char *defaultValue, Eerr_ErrorReport **err) try {
  return FetchText(className, instance, key, EPMG_TYPE_ENUM, defaultValue, "ecfg_GetEnumPreference", err);
} TAVIRON_GUARD(err, nullptr)

char *ecfg_GetStringPreference(const char *className, const char *instance, const char *key,
                               const char *defaultValue, Eerr_ErrorReport **err) try {
  return FetchText(className, instance, key, EPMG_TYPE_STRING, defaultValue, "ecfg_GetStringPreference",
                   err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
