// The plug-in manager library: plug-ins are objects made by entry points of shared objects found
// on a search path.
//
// A shared object offers plug-ins through two kinds of entry point, both with C linkage:
//   void GetAvailablePluginsOfType(const std::u16string &type, std::vector<std::u16string> &names)
//     appends the names of the plug-ins of that type it offers;
//   qorv::plugin::IPlugin *<name><suffix>()
//     makes a new plug-in object of that name (the caller owns it).
// The base classes below are defined in this header alone, so a plug-in needs nothing of the
// library that loads it.
#ifndef TAVIRON_PLUGINMANAGER_H
#define TAVIRON_PLUGINMANAGER_H

#include "taviron_export.h"
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qorv::plugin {

// The base of every plug-in object: four texts that describe it.
class TAVIRON_API IPlugin {
public:
  IPlugin() = default;
  IPlugin(const IPlugin &) = default;
  IPlugin &operator=(const IPlugin &) = default;
  virtual std::u16string Name() const = 0;
  virtual std::u16string Description() const = 0;
  virtual std::u16string Vendor() const = 0;
  virtual std::u16string Version() const = 0;
  virtual ~IPlugin() = default;
};

// The entry point that makes a plug-in object.
using PluginFactory = IPlugin *(*)();
// The entry point that names a shared object's plug-ins of a type.
using AvailablePluginsFunction = void (*)(const std::u16string &type,
                                          std::vector<std::u16string> &names);
// Plug-ins found: (plug-in name, factory), in the order found.
using PluginList = std::vector<std::pair<std::u16string, PluginFactory>>;

class TAVIRON_API PluginManager {
public:
  PluginManager() = default;
  PluginManager(const PluginManager &) = delete;
  PluginManager &operator=(const PluginManager &) = delete;
  ~PluginManager();

  // Loads the shared objects ("*.so") of the directories of the search path (split on ";" and
  // ":"; the directories in order, the files of one directory by name) and gives the plug-ins of
  // the type they offer: for each name a shared object announces, the first suffix for which it
  // has the entry point "<name><suffix>". Shared objects that offer none are unloaded; the others
  // stay loaded for the life of the process (the objects they made may live that long). flags:
  // pass 1.
  PluginList LoadPluginsOfType(const std::u16string &type,
                               const std::vector<std::u16string> &entrySuffixes,
                               const std::u16string &searchPath, int32_t flags);

private:
  std::vector<void *> loaded_;
};

} // namespace qorv::plugin

#endif
