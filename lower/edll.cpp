// DLL instances over dlopen.
#include "edll.h"

#include <dlfcn.h>

#include <cstring>
#include <mutex>

#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

struct Instance {
  Instance *next;
  char *className;
  char *instanceName;
  char *path;
  Edll_Handle handle;
  void *object;
  Edll_FreeFunc freeOp;
  int32_t opens;   // openings not yet given up
  bool loading;    // the load operation runs
};

// The open instances, the one opened last first. The lock is recursive because load and free
// operations may use instances themselves.
Instance *instances = nullptr;
std::recursive_mutex lock;

bool Same(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

void FreeRecord(Instance *instance) {
  emsc_HeapFree(instance->className);
  emsc_HeapFree(instance->instanceName);
  emsc_HeapFree(instance->path);
  emsc_HeapFree(instance);
}

void Unlink(Instance *instance) {
  for (Instance **link = &instances; *link; link = &(*link)->next) {
    if (*link == instance) {
      *link = instance->next;
      return;
    }
  }
}

// Frees the object, unloads the shared object and frees the record of an unlinked instance.
void Destroy(Instance *instance) {
  if (instance->object && instance->freeOp) instance->freeOp(instance->object);
  if (instance->handle) dlclose(instance->handle);
  FreeRecord(instance);
}

const char *LastDlError() {
  const char *text = dlerror();
  return text ? text : "unknown reason";
}

} // namespace

extern "C" {

Edll_Handle edll_Open(const char *path, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!path || !*path) {
    lower::Report(err, "edll_Open", 1, "Invalid DLL path");
    return nullptr;
  }
  dlerror();
  Edll_Handle handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) lower::Report(err, "edll_Open", 2, "Could not open %s: %s", path, LastDlError());
  return handle;
} TAVIRON_GUARD(err, nullptr)

void *edll_FindIfPresent(Edll_Handle handle, const char *name, const char *dllName,
                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!handle) {
    lower::Report(err, "edll_FindIfPresent", 1, "Invalid DLL handle for %s",
                  name ? name : "(null)");
    return nullptr;
  }
  if (!name || !*name) {
    lower::Report(err, "edll_FindIfPresent", 2, "Invalid entry name for %s",
                  dllName ? dllName : "DLL");
    return nullptr;
  }
  return dlsym(handle, name);
} TAVIRON_GUARD(err, nullptr)

void *edll_Find(Edll_Handle handle, const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!handle || !name || !*name) {
    lower::Report(err, "edll_Find", 1, "Invalid DLL handle or entry name");
    return nullptr;
  }
  void *address = dlsym(handle, name);
  if (!address) lower::Report(err, "edll_Find", 2, "Could not find %s", name);
  return address;
} TAVIRON_GUARD(err, nullptr)

void *edll_InstanceOpenByClassName(const char *className, const char *path,
                                   const char *instanceName, int32_t flag, Edll_LoadFunc load,
                                   Edll_FreeFunc freeOp, Eerr_ErrorReport **err) try {
  static const char *const reporter = "edll_InstanceOpenByClassName";
  lower::Clear(err);
  if (!className || !*className || !path || !*path || !load) {
    lower::Report(err, reporter, 1, "Invalid class name, DLL path or load operation");
    return nullptr;
  }
  if (!instanceName || !*instanceName) instanceName = path;

  std::lock_guard<std::recursive_mutex> guard(lock);
  for (Instance *instance = instances; instance; instance = instance->next) {
    if (!Same(instance->className, className) || !Same(instance->instanceName, instanceName))
      continue;
    if (instance->loading) {
      lower::Report(err, reporter, 2, "Instance %s of class %s is being loaded", instanceName,
                    className);
      return nullptr;
    }
    if (!Same(instance->path, path)) {
      lower::Report(err, reporter, 3, "Instance %s of class %s is already open from %s",
                    instanceName, className, instance->path);
      return nullptr;
    }
    ++instance->opens;
    return instance->object;
  }

  auto *instance = static_cast<Instance *>(emsc_HeapMalloc(sizeof(Instance)));
  if (instance) {
    instance->className = lower::HeapCopy(className, std::strlen(className));
    instance->instanceName = lower::HeapCopy(instanceName, std::strlen(instanceName));
    instance->path = lower::HeapCopy(path, std::strlen(path));
  }
  if (!instance || !instance->className || !instance->instanceName || !instance->path) {
    if (instance) FreeRecord(instance);
    lower::Report(err, reporter, 4, "Error allocating instance %s of class %s", instanceName,
                  className);
    return nullptr;
  }
  lower::CalleeReport local;
  instance->handle = edll_Open(path, &local);
  if (!instance->handle) {
    FreeRecord(instance);
    lower::ReportChained(err, local, reporter, 5, "Error returned from edll_Open");
    return nullptr;
  }
  instance->freeOp = freeOp;
  instance->opens = 1;
  instance->loading = true;
  instance->next = instances;
  instances = instance;

  void *object = nullptr;
  try {
    object = load(instance->instanceName, instance->handle, instance->path, flag, &local);
  } catch (...) {
    // A load operation that throws (its memory ran out) leaves no half-loaded instance behind.
    Unlink(instance);
    instance->object = nullptr;
    Destroy(instance);
    throw;
  }
  instance->loading = false;
  if (local) {
    Unlink(instance);
    // What the load operation made despite its report is its own to free.
    instance->object = nullptr;
    Destroy(instance);
    lower::ReportChained(err, local, reporter, 6, "Error returned from the load operation of %s", path);
    return nullptr;
  }
  instance->object = object;
  return object;
} TAVIRON_GUARD(err, nullptr)

int32_t edll_InstanceClose(const char *instanceName) try {
  if (!instanceName) return -1;
  std::lock_guard<std::recursive_mutex> guard(lock);
  for (Instance *instance = instances; instance; instance = instance->next) {
    if (instance->loading || !Same(instance->instanceName, instanceName)) continue;
    if (--instance->opens == 0) {
      Unlink(instance);
      Destroy(instance);
    }
    return 0;
  }
  return -1;
} TAVIRON_GUARD_QUIET(-1)

void edll_InstanceCloseAll(void) try {
  std::lock_guard<std::recursive_mutex> guard(lock);
  for (Instance **link = &instances; *link;) {
    Instance *instance = *link;
    if (instance->loading) { // a load operation that closes everything keeps its own instance
      link = &instance->next;
      continue;
    }
    *link = instance->next;
    Destroy(instance);
    link = &instances; // the free operation may have closed others
  }
} TAVIRON_GUARD_QUIET_VOID

char *edll_InstanceFind(const char *className, const char *instanceName, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!className || !instanceName) {
    lower::Report(err, "edll_InstanceFind", 1, "Invalid class or instance name");
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> guard(lock);
  for (Instance *instance = instances; instance; instance = instance->next) {
    if (instance->loading || !Same(instance->className, className) ||
        !Same(instance->instanceName, instanceName))
      continue;
    char *path = lower::HeapCopy(instance->path, std::strlen(instance->path));
    if (!path) lower::Report(err, "edll_InstanceFind", 2, "Error allocating the DLL path");
    return path;
  }
  lower::Report(err, "edll_InstanceFind", 3, "No instance %s of class %s is open", instanceName,
                className);
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
