// Hierarchical files and the record codec on random bytes. The first byte chooses: even, the
// rest is written out as a file that is then opened and walked, every record read by its design;
// odd, the rest is decoded as a record of one of a few designs (from memory and from a stream).
#include <cstdint>
#include <cstdio>
#include <string>

#include "ehfa.h"
#include "emif.h"
#include "emsc.h"
#include "fuzz_support.h"

namespace {

struct Designs {
  Emif_Dictionary *dictionary = nullptr;
  const Emif_Design *list[4] = {};
  Designs() {
    dictionary = emif_DictionaryCreate(nullptr);
    emif_DesignCreate(dictionary, "Inner", nullptr, 12, "id", 520, "label", 0);
    list[0] = emif_DesignCreate(dictionary, "AllTypes", nullptr, 1, "object", "Inner", 2, "record", "Inner", 3,
                                "kind", "A", "B", "C", nullptr, 7, "u8", 8, "ch", 9, "u16", 10, "s16", 11,
                                "u32", 12, "s32", 13, "f32", 14, "f64", 17, "histogram", 264, "chars", 8,
                                269, "floats", 3, 258, "inners", "Inner", 2, 514, "list", "Inner", 516,
                                "bytes", 520, "text", 526, "doubles", 529, "matrices", 1026, "pointer",
                                "Inner", 1041, "matrix", 0);
    list[1] = emif_DesignCreate(dictionary, "Legacy", nullptr, 264, "magic", 6, 9, "pack", 10, "value", 269,
                                "cells", 4, 0);
    list[2] = emif_DesignCreate(dictionary, "Lists", nullptr, 514, "outer", "AllTypes", 1026, "again",
                                "AllTypes", 0);
    list[3] = emif_FindDesignByName(dictionary, "Inner", nullptr);
  }
};

void WalkFile(const std::string &path) {
  Eerr_ErrorReport *err = nullptr;
  ehfa_IsHFAFile(path.c_str(), &err);
  eerr_DeleteErrorReportEx(&err);
  Ehfa_File *file = ehfa_FileOpen(path.c_str(), "r", nullptr, &err);
  eerr_DeleteErrorReportEx(&err);
  if (!file) return;
  for (int steps = 0; steps < 2000; ++steps) {
    Ehfa_Entry *entry = ehfa_EntrySeek(file, 18, nullptr, &err);
    eerr_DeleteErrorReportEx(&err);
    if (!entry) break;
    char *path = ehfa_CurrentEntryPath(file, &err);
    eerr_DeleteErrorReportEx(&err);
    emsc_HeapFree(path);
    if (const Emif_Design *design = emif_FindDesignByName(file->dictionary, entry->type, nullptr)) {
      void *record = ehfa_ObjectRead(file, nullptr, nullptr, 16, nullptr, design, &err);
      eerr_DeleteErrorReportEx(&err);
      emif_ObjectFree(design, record);
      ehfa_EntryPeek(file, 14, entry->type, &err);
      eerr_DeleteErrorReportEx(&err);
    }
  }
  ehfa_EntrySeek(file, 15, "AllTypes", &err);
  eerr_DeleteErrorReportEx(&err);
  ehfa_FileClose(file, &err);
  eerr_DeleteErrorReportEx(&err);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Designs designs;
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  ++data;
  --size;
  if (choice % 2 == 0) {
    static const std::string path = taviron::fuzz::ScratchFile("walk.img");
    FILE *out = std::fopen(path.c_str(), "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    WalkFile(path);
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());
    return 0;
  }
  const Emif_Design *design = designs.list[(choice / 2) % 4];
  Eerr_ErrorReport *err = nullptr;
  void *record = emif_ObjectDecode(nullptr, design, data, static_cast<int32_t>(size), nullptr, &err);
  eerr_DeleteErrorReportEx(&err);
  if (record) {
    uint8_t *bytes = nullptr;
    int32_t length = 0;
    if (emif_ObjectEncode(design, record, &bytes, &length, &err) == 0) emsc_HeapFree(bytes);
    eerr_DeleteErrorReportEx(&err);
  }
  emif_ObjectFree(design, record);
  if (size == 0) return 0;
  if (FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "rb")) {
    record = emif_ConvertToHost(stream, 0, design, nullptr, &err);
    eerr_DeleteErrorReportEx(&err);
    emif_ObjectFree(design, record);
    std::fclose(stream);
  }
  return 0;
}
