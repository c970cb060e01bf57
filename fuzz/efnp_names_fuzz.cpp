// Layer names and node paths: every parser and composer must answer or report, never crash.
#include <cstdint>
#include <string>

#include "eerr.h"
#include "efio.h"
#include "efnp.h"
#include "emsc.h"

namespace {
void Drop(char *text, Eerr_ErrorReport *&err) {
  emsc_HeapFree(text);
  eerr_DeleteErrorReportEx(&err);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const char *name = text.c_str(); // up to the first NUL byte
  Eerr_ErrorReport *err = nullptr;

  if (Efnp_NodeList *list = efnp_FileNodeListParse(name, &err)) {
    if (list->fileCount != 1 || !list->files[0][0]) __builtin_trap();
    for (int32_t i = 0; i < list->nodeCount; ++i) {
      if (list->nodes[i][0] != ':' || efnp_NodePathLength(list->nodes[i]) < 0) __builtin_trap();
      Drop(efnp_NodePathGet(list->nodes[i], EFNP_PARENT_PATH, 0, &err), err);
      Drop(efnp_NodePathSet(list->nodes[i], "x", EFNP_NODE_NAME, -1, &err), err);
    }
    efnp_FreeNodeList(list, &err);
  }
  eerr_DeleteErrorReportEx(&err);
  for (int32_t mask : {EFNP_FILE_PART, EFNP_NODE_PART, EFNP_PARENT_PATH, EFNP_NODE_NAME,
                       EFNP_FILE_PART | EFNP_NODE_PART})
    Drop(efnp_FileNodeListGet(name, mask, 0, 0, &err), err);
  if (Efnp_NodeName *parsed = efnp_NodeNameParse(name, &err)) {
    Drop(efnp_PathJoin(parsed->parentPath, parsed->nodeName, &err), err);
    efnp_FreeNodeName(parsed, &err);
  }
  eerr_DeleteErrorReportEx(&err);
  for (int32_t position : {-2, -1, 0, 1, 2})
    Drop(efnp_NodePathGet(name, EFNP_NODE_NAME, position, &err), err);
  Drop(efnp_NodePathSet(name, "n", EFNP_NODE_NAME, efnp_NodePathLength(name), &err), err);
  Drop(efnp_FileNodeListSet(name, name, EFNP_NODE_PART, 0, &err), err);
  Drop(efnp_FileNameGet(name, &err), err);
  Drop(efnp_FileNameExternalToInternal(name, &err), err);
  char out[EFIO_PATH_BUFFER_SIZE];
  efio_FileNameParse(name, &err, EFIO_PART_DIRECTORY | EFIO_PART_STEM, out, 0);
  eerr_DeleteErrorReportEx(&err);
  return 0;
}
