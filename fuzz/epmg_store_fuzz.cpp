// Reads arbitrary bytes as a preferences file (first byte even) or a configuration file (odd);
// whatever reads without a report must write back and read again to the same text.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "eerr.h"
#include "epmg.h"
#include "estr.h"
#include "fuzz_support.h"

namespace {

std::string ReadBack(const std::string &file) {
  std::string text;
  if (FILE *stream = fopen(file.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
    fclose(stream);
  }
  return text;
}

// Reads the file into a new database; null when the reader reported.
Epmg_Database *Read(const std::string &file, bool configuration) {
  Eerr_ErrorReport *err = nullptr;
  Epmg_Database *database =
      configuration ? epmg_DatabaseCreate("printers", EPMG_FORMAT_CONFIGURATION, &err)
                    : epmg_DatabaseCreate("preferences", EPMG_FORMAT_PREFERENCES, &err);
  const char *files[] = {file.c_str()};
  Estr_StringList *list = estr_StringToStringList(1, files, &err);
  epmg_DatabaseSetLevels(database, list, 0, &err);
  estr_StringListDelete(list, nullptr);
  if (err) {
    eerr_DeleteErrorReportEx(&err);
    epmg_DatabaseDelete(&database);
  }
  return database;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string input = taviron::fuzz::ScratchFile("input"),
                           first = taviron::fuzz::ScratchFile("first"),
                           second = taviron::fuzz::ScratchFile("second");
  if (size == 0) return 0;
  const bool configuration = data[0] & 1;
  FILE *stream = fopen(input.c_str(), "wb");
  if (!stream) return 0;
  fwrite(data + 1, 1, size - 1, stream);
  fclose(stream);

  Epmg_Database *database = Read(input, configuration);
  if (!database) return 0;
  Eerr_ErrorReport *err = nullptr;
  epmg_DatabaseWrite(database, 0, nullptr, first.c_str(), &err);
  epmg_DatabaseDelete(&database);
  if (err) abort(); // a database that was read must be writable
  Epmg_Database *again = Read(first, configuration);
  if (!again) abort(); // what the writer wrote must read back
  epmg_DatabaseWrite(again, 0, nullptr, second.c_str(), &err);
  epmg_DatabaseDelete(&again);
  if (err || ReadBack(first) != ReadBack(second)) abort();
  return 0;
}
