// Several levels of one preference or configuration database, read from files and merged. The
// input gives the texts of two to four levels; every value a merged listing shows must be the one
// a read finds, the merged write must read back to the same listing, and a change put into the
// current level must be read, saved and read again.
//
// Input: [options] [level 1 text] 0x01 [level 2 text] 0x01 ...
//   options bit 0: configuration format (else preferences); bits 1-2: levels - 2; bits 3-4: the
//   current level; bits 5-7: the type asked of every read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "eerr.h"
#include "emsc.h"
#include "epmg.h"
#include "estr.h"
#include "fuzz_support.h"

namespace {

using Listing = std::vector<std::pair<std::string, std::vector<std::string>>>;

Estr_StringList *List(const std::vector<std::string> &items) {
  std::vector<const char *> pointers;
  for (const std::string &item : items) pointers.push_back(item.c_str());
  return estr_StringToStringList(static_cast<int32_t>(pointers.size()), pointers.data(), nullptr);
}

std::vector<std::string> Strings(Estr_StringList *list) {
  std::vector<std::string> items;
  for (int32_t i = 0; list && i < list->count; ++i) items.emplace_back(list->strings[i] ? list->strings[i] : "<null>");
  estr_StringListDelete(list, nullptr);
  return items;
}

// Every category with its keys and values, as the merged listing gives them.
Listing ListAll(Epmg_Database *database) {
  Listing all;
  Eerr_ErrorReport *err = nullptr;
  for (const std::string &category : Strings(epmg_DatabaseCategories(database, &err))) {
    std::vector<std::string> pairs = Strings(epmg_DatabaseKeys(database, category.c_str(), &err));
    if (err || pairs.size() % 2) __builtin_trap(); // a listed category has a listing
    all.emplace_back(category, std::move(pairs));
  }
  if (err) __builtin_trap();
  return all;
}

// Reads one value; empty optional-like pair (false) when the read reports.
std::pair<bool, std::string> Get(Epmg_Database *database, const std::string &category,
                                 const std::string &key, int32_t type) {
  Epmg_Preference record{};
  record.category = const_cast<char *>(category.c_str());
  record.name = const_cast<char *>(key.c_str());
  record.valueType = type;
  Eerr_ErrorReport *err = nullptr;
  epmg_GetPreference(database, &record, &err);
  if (err) {
    if (record.valueType != type) __builtin_trap(); // a failed read leaves the record
    eerr_DeleteErrorReportEx(&err);
    return {false, {}};
  }
  std::string text;
  if (record.valueType == EPMG_TYPE_STRING || record.valueType == EPMG_TYPE_ENUM) {
    if (!record.value.string) __builtin_trap();
    text = record.value.string;
  } else if (record.valueType < EPMG_TYPE_STRING || record.valueType > EPMG_TYPE_UNSIGNED) {
    __builtin_trap(); // a read value has a type
  }
  epmg_PreferenceValueClear(&record);
  return {true, text};
}

Epmg_Database *Open(int32_t format, const std::vector<std::string> &files, int32_t current) {
  Eerr_ErrorReport *err = nullptr;
  Epmg_Database *database = epmg_DatabaseCreate("fuzz", format, &err);
  if (!database) __builtin_trap();
  Estr_StringList *list = List(files);
  epmg_DatabaseSetLevels(database, list, current, &err);
  estr_StringListDelete(list, nullptr);
  if (err) { // some level could not be read: it stays empty
    eerr_DeleteErrorReportEx(&err);
  }
  return database;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const int32_t format = options & 1 ? EPMG_FORMAT_CONFIGURATION : EPMG_FORMAT_PREFERENCES;
  const int32_t count = 2 + (options >> 1 & 3) % 3;
  const int32_t current = (options >> 3 & 3) % count;
  const int32_t type = options >> 5 & 7; // 0 as stored, 1 to 5, and 6 and 7 refused

  std::vector<std::string> files;
  size_t at = 1;
  for (int32_t i = 0; i < count; ++i) {
    size_t end = at;
    while (end < size && data[end] != 1) ++end;
    files.push_back(taviron::fuzz::ScratchFile("level" + std::to_string(i)));
    if (FILE *f = std::fopen(files.back().c_str(), "wb")) {
      std::fwrite(data + at, 1, end - at, f);
      std::fclose(f);
    }
    at = end < size ? end + 1 : end;
  }

  Epmg_Database *database = Open(format, files, current);
  const Listing merged = ListAll(database);
  // The listing shows the most specific value of each key: the one a read finds.
  for (const auto &[category, pairs] : merged)
    for (size_t i = 0; i < pairs.size(); i += 2) {
      const auto found = Get(database, category, pairs[i], EPMG_TYPE_NONE);
      if (!found.first || found.second != pairs[i + 1]) __builtin_trap();
      Get(database, category, pairs[i], type);
    }

  // The merged levels written as one read back to the same listing.
  Eerr_ErrorReport *err = nullptr;
  const std::string whole = taviron::fuzz::ScratchFile("merged");
  epmg_DatabaseWrite(database, -1, nullptr, whole.c_str(), &err);
  if (err) __builtin_trap();
  Epmg_Database *again = Open(format, {whole}, 0);
  if (ListAll(again) != merged) __builtin_trap();
  epmg_DatabaseDelete(&again);

  // A change goes to the current level, wins over the levels below it, and survives a save.
  if (!merged.empty() && !merged.front().second.empty()) {
    const std::string category = merged.front().first, key = merged.front().second.front();
    Epmg_Preference record{};
    record.category = const_cast<char *>(category.c_str());
    record.name = const_cast<char *>(key.c_str());
    record.valueType = EPMG_TYPE_STRING;
    record.value.string = const_cast<char *>(" changed \"value\"\n");
    epmg_PutPreference(database, &record, &err);
    if (err) __builtin_trap();
    const auto found = Get(database, category, key, EPMG_TYPE_NONE);
    // A more specific level may hold the key and keep its value.
    const bool above = [&] {
      for (int32_t level = current + 1; level < count; ++level) {
        Epmg_Database *one = Open(format, {files[static_cast<size_t>(level)]}, 0);
        const bool has = Get(one, category, key, EPMG_TYPE_NONE).first;
        epmg_DatabaseDelete(&one);
        if (has) return true;
      }
      return false;
    }();
    if (!found.first || (!above && found.second != record.value.string)) __builtin_trap();
    epmg_DatabaseSave(database, &err);
    const bool saved = !err; // a level that could not be read is not overwritten
    eerr_DeleteErrorReportEx(&err);
    if (saved) {
      Epmg_Database *reread = Open(format, files, current);
      if (ListAll(reread) != ListAll(database)) __builtin_trap();
      epmg_DatabaseDelete(&reread);
    }
  }
  epmg_DatabaseDelete(&database);
  return 0;
}
