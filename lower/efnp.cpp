// File names and node names: layer names, node paths and plain file names.
#include "efnp.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

constexpr std::size_t npos = std::string::npos;

char *HeapString(const std::string &text) { return lower::HeapCopy(text.data(), text.size()); }

// A ":" at index i of text that belongs to a drive letter ("C:/", "C:\", "C:" alone).
bool IsDriveColon(const std::string &text, std::size_t i) {
  return i == 1 && std::isalpha(static_cast<unsigned char>(text[0])) &&
         (text.size() == 2 || text[2] == '/' || text[2] == '\\');
}

// Splits a node path into its names. The leading ":" may be left out; "" and ":" are the root.
// False for an empty name or a name holding "(" or ")".
bool SplitNodePath(const std::string &path, std::vector<std::string> &names) {
  names.clear();
  const std::size_t first = !path.empty() && path[0] == ':' ? 1 : 0;
  if (first == path.size()) return true;
  for (std::size_t start = first;;) {
    const std::size_t end = path.find(':', start);
    const std::string name = path.substr(start, end == npos ? npos : end - start);
    if (name.empty() || name.find_first_of("()") != npos) return false;
    names.push_back(name);
    if (end == npos) return true;
    start = end + 1;
  }
}

// ":" followed by the first count names joined by ":".
std::string JoinNodePath(const std::vector<std::string> &names, std::size_t count) {
  std::string path = ":";
  for (std::size_t i = 0; i < count && i < names.size(); ++i) {
    if (i) path += ':';
    path += names[i];
  }
  return path;
}

struct ParsedName {
  std::string file;
  std::vector<std::string> nodes;
};

// Parses a layer name (see efnp.h); reports under reporter and returns false when it is invalid.
bool ParseLayerName(const char *name, ParsedName &parsed, Eerr_ErrorReport **err,
                    const char *reporter) {
  if (!name || !*name) {
    lower::Report(err, reporter, 1, "Invalid layer name");
    return false;
  }
  const std::string text = name;
  std::vector<std::string> names;
  const std::size_t open = text.rfind("(:");
  if (open != npos) {
    if (text.back() != ')') {
      lower::Report(err, reporter, 2, "Unterminated node part in %.200s", name);
      return false;
    }
    parsed.file = text.substr(0, open);
    const std::string inside = text.substr(open + 1, text.size() - open - 2);
    for (std::size_t start = 0;;) {
      const std::size_t comma = inside.find(',', start);
      const std::string path = inside.substr(start, comma == npos ? npos : comma - start);
      if (path.empty() || path[0] != ':' || !SplitNodePath(path, names)) {
        lower::Report(err, reporter, 3, "Invalid node path in %.200s", name);
        return false;
      }
      parsed.nodes.push_back(path);
      if (comma == npos) break;
      start = comma + 1;
    }
  } else {
    std::size_t colon = text.find(':');
    if (colon != npos && IsDriveColon(text, colon)) colon = text.find(':', colon + 1);
    parsed.file = text.substr(0, colon);
    if (colon != npos) {
      const std::string path = text.substr(colon);
      if (!SplitNodePath(path, names)) {
        lower::Report(err, reporter, 3, "Invalid node path in %.200s", name);
        return false;
      }
      parsed.nodes.push_back(path);
    }
  }
  if (parsed.file.empty()) {
    lower::Report(err, reporter, 4, "No file name in %.200s", name);
    return false;
  }
  return true;
}

// Heap array of copies of the strings; null when out of memory (nothing left allocated).
char **HeapStrings(const std::vector<std::string> &strings) {
  if (strings.empty()) return nullptr;
  auto **array = static_cast<char **>(emsc_HeapMalloc(sizeof(char *) * strings.size()));
  if (!array) return nullptr;
  for (std::size_t i = 0; i < strings.size(); ++i) {
    if (!(array[i] = HeapString(strings[i]))) {
      for (std::size_t j = 0; j < i; ++j) emsc_HeapFree(array[j]);
      emsc_HeapFree(array);
      return nullptr;
    }
  }
  return array;
}

// Resolves a position of efnp_NodePathGet to an index; false when out of range.
bool GetIndex(int32_t position, std::size_t count, std::size_t &index) {
  const int64_t n = static_cast<int64_t>(count);
  const int64_t i = position > 0 ? position - 1 : position == 0 ? n - 1 : n + position;
  if (i < 0 || i >= n) return false;
  index = static_cast<std::size_t>(i);
  return true;
}

} // namespace

extern "C" {

Efnp_NodeList *efnp_FileNodeListParse(const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  ParsedName parsed;
  if (!ParseLayerName(name, parsed, err, "efnp_FileNodeListParse")) return nullptr;
  const std::vector<std::string> files{parsed.file}; // may throw: made before the heap holds anything
  auto *list = static_cast<Efnp_NodeList *>(emsc_HeapMalloc(sizeof(Efnp_NodeList)));
  if (list) {
    list->files = HeapStrings(files);
    list->fileCount = list->files ? 1 : 0;
    list->nodes = HeapStrings(parsed.nodes);
    list->nodeCount = list->nodes ? static_cast<int32_t>(parsed.nodes.size()) : 0;
    if (!list->files || (!parsed.nodes.empty() && !list->nodes)) {
      efnp_FreeNodeList(list, nullptr);
      list = nullptr;
    }
  }
  if (!list) lower::Report(err, "efnp_FileNodeListParse", 5, "Error allocating node list");
  return list;
} TAVIRON_GUARD(err, nullptr)

void efnp_FreeNodeList(Efnp_NodeList *list, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) return;
  for (int32_t i = 0; i < list->fileCount; ++i) emsc_HeapFree(list->files[i]);
  for (int32_t i = 0; i < list->nodeCount; ++i) emsc_HeapFree(list->nodes[i]);
  emsc_HeapFree(list->files);
  emsc_HeapFree(list->nodes);
  emsc_HeapFree(list);
} TAVIRON_GUARD_VOID(err)

Efnp_NodeName *efnp_NodeNameParse(const char *nodePath, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!nodePath) {
    lower::Report(err, "efnp_NodeNameParse", 1, "Invalid node path");
    return nullptr;
  }
  const std::string text = nodePath;
  std::size_t colon = text.rfind(':');
  if (colon != npos && IsDriveColon(text, colon)) colon = npos;
  if (colon == npos || colon + 1 == text.size()) {
    lower::Report(err, "efnp_NodeNameParse", 2, "No node name in %.200s", nodePath);
    return nullptr;
  }
  // The pieces may throw: they are made before the heap holds anything.
  const std::string parent = colon == 0 ? std::string(":") : text.substr(0, colon), node = text.substr(colon + 1);
  auto *parsed = static_cast<Efnp_NodeName *>(emsc_HeapMalloc(sizeof(Efnp_NodeName)));
  if (parsed) {
    parsed->parentPath = HeapString(parent);
    parsed->nodeName = HeapString(node);
    if (!parsed->parentPath || !parsed->nodeName) {
      efnp_FreeNodeName(parsed, nullptr);
      parsed = nullptr;
    }
  }
  if (!parsed) lower::Report(err, "efnp_NodeNameParse", 3, "Error allocating node name");
  return parsed;
} TAVIRON_GUARD(err, nullptr)

void efnp_FreeNodeName(Efnp_NodeName *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!name) return;
  emsc_HeapFree(name->parentPath);
  emsc_HeapFree(name->nodeName);
  emsc_HeapFree(name);
} TAVIRON_GUARD_VOID(err)

char *efnp_PathJoin(const char *parentPath, const char *nodeName, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (nodeName && *nodeName == ':') ++nodeName;
  if (!nodeName || !*nodeName) {
    lower::Report(err, "efnp_PathJoin", 1, "Invalid node name");
    return nullptr;
  }
  std::string path = parentPath && *parentPath ? parentPath : ":";
  if (path.back() != ':') path += ':';
  path += nodeName;
  char *copy = HeapString(path);
  if (!copy) lower::Report(err, "efnp_PathJoin", 2, "Error allocating node path");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char *efnp_FileNodeListGet(const char *name, int32_t parts, int32_t, int32_t,
                           Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!(parts & (EFNP_FILE_PART | EFNP_NODE_PART))) {
    lower::Report(err, "efnp_FileNodeListGet", 1, "Invalid part mask %d", parts);
    return nullptr;
  }
  Efnp_NodeList *list = efnp_FileNodeListParse(name, err);
  if (!list) {
    lower::Report(err, "efnp_FileNodeListGet", 2, "Error returned from efnp_FileNodeListParse");
    return nullptr;
  }
  const std::string file = list->files[0];
  std::string node;
  if (list->nodeCount > 0) {
    const std::string path = list->nodes[0];
    std::vector<std::string> names;
    SplitNodePath(path, names);
    const int32_t nodeBits = parts & EFNP_NODE_PART;
    if (nodeBits == EFNP_NODE_PART) node = path;
    else if (nodeBits == EFNP_NODE_NAME) node = names.empty() ? "" : names.back();
    else if (nodeBits) node = JoinNodePath(names, names.empty() ? 0 : names.size() - 1);
  }
  efnp_FreeNodeList(list, nullptr);
  std::string result;
  if (parts & EFNP_FILE_PART) {
    result = file;
    if (!node.empty()) result += "(" + node + ")";
  } else {
    result = node;
  }
  char *copy = HeapString(result);
  if (!copy) lower::Report(err, "efnp_FileNodeListGet", 3, "Error allocating name part");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char *efnp_FileNodeListSet(const char *file, const char *nodePath, int32_t parts, int32_t,
                           Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file || !*file) {
    lower::Report(err, "efnp_FileNodeListSet", 1, "Invalid file name");
    return nullptr;
  }
  std::string name = file;
  if ((parts & EFNP_NODE_PART) && nodePath && *nodePath)
    name += std::string(*nodePath == ':' ? "(" : "(:") + nodePath + ")";
  char *copy = HeapString(name);
  if (!copy) lower::Report(err, "efnp_FileNodeListSet", 2, "Error allocating layer name");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char *efnp_NodePathGet(const char *nodePath, int32_t part, int32_t position,
                       Eerr_ErrorReport **err) try {
  lower::Clear(err);
  std::vector<std::string> names;
  if (!nodePath || !SplitNodePath(nodePath, names)) {
    lower::Report(err, "efnp_NodePathGet", 1, "Invalid node path %.200s",
                  nodePath ? nodePath : "(null)");
    return nullptr;
  }
  if (part != EFNP_NODE_NAME && part != EFNP_PARENT_PATH) {
    lower::Report(err, "efnp_NodePathGet", 2, "Invalid part %d", part);
    return nullptr;
  }
  std::size_t index = 0;
  if (!GetIndex(position, names.size(), index)) {
    lower::Report(err, "efnp_NodePathGet", 3, "No node at position %d of %.200s", position,
                  nodePath);
    return nullptr;
  }
  char *copy = HeapString(part == EFNP_NODE_NAME ? names[index] : JoinNodePath(names, index));
  if (!copy) lower::Report(err, "efnp_NodePathGet", 4, "Error allocating node path");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char *efnp_NodePathSet(const char *nodePath, const char *nodeName, int32_t part, int32_t position,
                       Eerr_ErrorReport **err) try {
  lower::Clear(err);
  std::vector<std::string> names;
  if (!SplitNodePath(nodePath ? nodePath : "", names)) {
    lower::Report(err, "efnp_NodePathSet", 1, "Invalid node path %.200s", nodePath);
    return nullptr;
  }
  if (!nodeName || !*nodeName || std::strpbrk(nodeName, ":()")) {
    lower::Report(err, "efnp_NodePathSet", 2, "Invalid node name");
    return nullptr;
  }
  if (part != EFNP_NODE_NAME) {
    lower::Report(err, "efnp_NodePathSet", 3, "Invalid part %d", part);
    return nullptr;
  }
  const int64_t count = static_cast<int64_t>(names.size());
  if (position == 0 || position == count + 1) {
    names.emplace_back(nodeName);
  } else {
    const int64_t index = position > 0 ? position - 1 : count + position;
    if (index < 0 || index >= count) {
      lower::Report(err, "efnp_NodePathSet", 4, "No node at position %d", position);
      return nullptr;
    }
    names[static_cast<std::size_t>(index)] = nodeName;
  }
  char *copy = HeapString(JoinNodePath(names, names.size()));
  if (!copy) lower::Report(err, "efnp_NodePathSet", 5, "Error allocating node path");
  return copy;
} TAVIRON_GUARD(err, nullptr)

int32_t efnp_NodePathLength(const char *nodePath) try {
  if (!nodePath) return 0;
  std::vector<std::string> names;
  return SplitNodePath(nodePath, names) ? static_cast<int32_t>(names.size()) : -1;
} TAVIRON_GUARD_QUIET(-1)

const char *efnp_NodePathRoot(void) try { return ":"; } TAVIRON_GUARD_QUIET(nullptr)

char *efnp_FileNameGet(const char *path, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  std::string text = path ? path : "";
  while (!text.empty() && (text.back() == '/' || text.back() == '\\')) text.pop_back();
  const std::size_t slash = text.find_last_of("/\\");
  const std::string base = slash == npos ? text : text.substr(slash + 1);
  if (base.empty()) {
    lower::Report(err, "efnp_FileNameGet", 1, "No file name in %.200s", path ? path : "(null)");
    return nullptr;
  }
  char *copy = HeapString(base);
  if (!copy) lower::Report(err, "efnp_FileNameGet", 2, "Error allocating file name");
  return copy;
} TAVIRON_GUARD(err, nullptr)

char *efnp_FileNameAddName(const char *directory, const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!name || !*name) {
    lower::Report(err, "efnp_FileNameAddName", 1, "Invalid file name");
    return nullptr;
  }
  std::string path = directory ? directory : "";
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path += name;
  char *copy = HeapString(path);
  if (!copy) lower::Report(err, "efnp_FileNameAddName", 2, "Error allocating file name");
  return copy;
} TAVIRON_GUARD(err, nullptr)

int32_t efnp_FileNameEquals(const char *a, const char *b) try {
  if (!a || !b) return a == b;
  return std::strcmp(a, b) == 0;
} TAVIRON_GUARD_QUIET(0)

int32_t efnp_FileNameLength(const char *name) try {
  return name ? static_cast<int32_t>(std::strlen(name)) : 0;
} TAVIRON_GUARD_QUIET(0)

char *efnp_FileNameExternalToInternal(const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!name) {
    lower::Report(err, "efnp_FileNameExternalToInternal", 1, "Invalid file name");
    return nullptr;
  }
  char *copy = lower::HeapCopy(name, std::strlen(name));
  if (!copy) {
    lower::Report(err, "efnp_FileNameExternalToInternal", 2, "Error allocating file name");
    return nullptr;
  }
  for (char *p = copy; *p; ++p)
    if (*p == '\\') *p = '/';
  return copy;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
