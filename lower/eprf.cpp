// The default preference database: one database per class, its levels read from the files
// "<class>.prf" in the directories of NORIX_PREFERENCES_PATH.
#include "eprf.h"

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "emsc.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

struct ClassDatabase {
  std::string name;
  Epmg_Database *database;
  std::string globalFile; // file of the first level, empty when the path names no directory
};

// The databases are freed with the process's static objects.
struct Registry : std::vector<ClassDatabase> {
  ~Registry() {
    for (ClassDatabase &entry : *this) epmg_DatabaseDelete(&entry.database);
  }
};

std::mutex registryMutex;
Registry classes;


// Reads the levels of a class from the directories the path names now.
bool Load(ClassDatabase &entry, Eerr_ErrorReport **err, const char *reporter) {
  lower::CalleeReport inner;
  std::vector<std::string> directories;
  if (!lower::ExpandList(std::getenv("NORIX_PREFERENCES_PATH"), true, directories, &inner,
                         reporter)) {
    lower::ReportCallee(err, inner, reporter, 90, "the expansion of NORIX_PREFERENCES_PATH");
    return false;
  }
  Estr_StringList *files = nullptr;
  for (std::size_t i = 0; i < directories.size() && !inner; ++i) {
    const std::string file = directories[i] + "/" + entry.name + ".prf";
    files = estr_StringListAppend(files, file.c_str(), &inner);
  }
  if (inner) {
    estr_StringListDelete(files, nullptr);
    lower::ReportCallee(err, inner, reporter, 91, "estr_StringListAppend");
    return false;
  }
  const int32_t count = estr_StringListCount(files);
  entry.globalFile = count > 0 ? files->strings[0] : "";
  epmg_DatabaseSetLevels(entry.database, files, count > 0 ? count - 1 : 0, &inner);
  estr_StringListDelete(files, nullptr);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 92, "epmg_DatabaseSetLevels");
    return false;
  }
  return true;
}

// The entry of a class, created and read on first use (with the registry locked). A class whose
// files could not all be read is still returned, with the report.
ClassDatabase *Get(const char *className, Eerr_ErrorReport **err, const char *reporter) {
  if (!className) className = EPMG_DEFAULT_CLASS;
  for (ClassDatabase &entry : classes)
    if (estr_Eqic(entry.name.c_str(), className)) return &entry;
  lower::CalleeReport inner;
  Epmg_Database *database = epmg_DatabaseCreate(className, EPMG_FORMAT_PREFERENCES, &inner);
  if (!database) {
    lower::ReportCallee(err, inner, reporter, 93, "epmg_DatabaseCreate");
    return nullptr;
  }
  classes.push_back({className, database, {}});
  Load(classes.back(), err, reporter);
  return &classes.back();
}

} // namespace

extern "C" {

void eprf_DefaultDatabaseInitialize(Eerr_ErrorReport **err) try {
  static const char *reporter = "eprf_DefaultDatabaseInitialize";
  lower::Clear(err);
  std::lock_guard<std::mutex> lock(registryMutex);
  const std::size_t before = classes.size();
  if (!Get(EPMG_DEFAULT_CLASS, err, reporter)) return;
  // A class read just now by Get is not read twice.
  for (std::size_t i = 0; i < before; ++i) Load(classes[i], err, reporter);
} TAVIRON_GUARD_VOID(err)

void eprf_DefaultDatabaseTerminate(void) try {
  std::lock_guard<std::mutex> lock(registryMutex);
  for (ClassDatabase &entry : classes) epmg_DatabaseDelete(&entry.database);
  classes.clear();
} TAVIRON_GUARD_QUIET_VOID

void eprf_DefaultDatabaseFlush(int32_t level, Eerr_ErrorReport **err) try {
  static const char *reporter = "eprf_DefaultDatabaseFlush";
  lower::Clear(err);
  if (level < EPRF_LEVEL_USER || level > (EPRF_LEVEL_USER | EPRF_LEVEL_GLOBAL)) {
    lower::Report(err, reporter, 1, "Invalid preference level %d", level);
    return;
  }
  std::lock_guard<std::mutex> lock(registryMutex);
  for (ClassDatabase &entry : classes) {
    lower::CalleeReport inner;
    if (level & EPRF_LEVEL_USER) {
      epmg_DatabaseSave(entry.database, &inner);
      if (inner) lower::ReportCallee(err, inner, reporter, 2, "epmg_DatabaseSave");
    }
    if (!(level & EPRF_LEVEL_GLOBAL)) continue;
    Estr_StringList *categories = epmg_DatabaseCategories(entry.database, nullptr);
    const bool empty = estr_StringListCount(categories) == 0;
    estr_StringListDelete(categories, nullptr);
    if (empty) continue; // a class only looked up leaves no empty file behind
    if (entry.globalFile.empty()) {
      lower::Report(err, reporter, 3, "NORIX_PREFERENCES_PATH names no directory for class %s",
                    entry.name.c_str());
      continue;
    }
    epmg_DatabaseWrite(entry.database, -1, nullptr, entry.globalFile.c_str(), &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 4, "epmg_DatabaseWrite");
  }
} TAVIRON_GUARD_VOID(err)

void eprf_DefaultPreferenceAddCB(Epmg_Preference *key, Epmg_CallbackInfo *callback,
                                 Eerr_ErrorReport **err) try {
  static const char *reporter = "eprf_DefaultPreferenceAddCB";
  lower::Clear(err);
  if (!key || !key->category || !key->name || !callback || !callback->callback) {
    lower::Report(err, reporter, 1, "Missing key record or callback");
    return;
  }
  lower::CalleeReport inner;
  Epmg_Database *database = eprf_DefaultDatabaseGet(key->className, &inner);
  inner.Drop(); // a file that cannot be read does not stop a registration
  if (!database) {
    lower::Report(err, reporter, 2, "No preference database for class %s",
                  key->className ? key->className : EPMG_DEFAULT_CLASS);
    return;
  }
  const Epmg_PreferenceCallbackRecord record{key->className, key->category, key->name,
                                             callback->callback, callback->userData,
                                             callback->processId};
  epmg_AddCallback(database, &record, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 3, "epmg_AddCallback");
} TAVIRON_GUARD_VOID(err)

void eprf_DefaultPreferenceRemCB(Epmg_Preference *key, int32_t processId, Eerr_ErrorReport **err) try {
  static const char *reporter = "eprf_DefaultPreferenceRemCB";
  lower::Clear(err);
  if (!key || !key->category || !key->name) {
    lower::Report(err, reporter, 1, "Missing key record");
    return;
  }
  lower::CalleeReport inner;
  Epmg_Database *database = eprf_DefaultDatabaseGet(key->className, &inner);
  inner.Drop();
  if (!database) return; // nothing registered
  const Epmg_PreferenceCallbackRecord record{key->className, key->category, key->name, nullptr,
                                             nullptr, processId};
  epmg_RemoveCallback(database, &record, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "epmg_RemoveCallback");
} TAVIRON_GUARD_VOID(err)

Epmg_Database *eprf_DefaultDatabaseGet(const char *className, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  std::lock_guard<std::mutex> lock(registryMutex);
  ClassDatabase *entry = Get(className, err, "eprf_DefaultDatabaseGet");
  return entry ? entry->database : nullptr;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
