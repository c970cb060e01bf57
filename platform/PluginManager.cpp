// The plug-in manager library: shared objects on a search path, asked for their plug-ins.
#include "PluginManager.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qorv::plugin {

namespace {

// 8-bit text of UTF-16 (units above 255 become '?').
std::string Narrow(const std::u16string &text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) out += unit < 256 ? static_cast<char>(unit) : '?';
  return out;
}

std::vector<std::string> Directories(const std::string &path) {
  std::vector<std::string> out;
  std::string current;
  for (char c : path) {
    if (c == ';' || c == ':') {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

// The shared objects of a directory, by name.
std::vector<std::string> SharedObjects(const std::string &directory) {
  std::vector<std::string> files;
  DIR *dir = opendir(directory.c_str());
  if (!dir) return files;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() < 4 || name.compare(name.size() - 3, 3, ".so") != 0) continue;
    std::string path = directory + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(path);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace

PluginManager::~PluginManager() = default; // what was loaded stays for the life of the process

PluginList PluginManager::LoadPluginsOfType(const std::u16string &type,
                                            const std::vector<std::u16string> &entrySuffixes,
                                            const std::u16string &searchPath, int32_t) {
  PluginList found;
  for (const std::string &directory : Directories(Narrow(searchPath))) {
    for (const std::string &file : SharedObjects(directory)) {
      void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) continue;
      auto available = reinterpret_cast<AvailablePluginsFunction>(
          dlsym(handle, "GetAvailablePluginsOfType"));
      std::vector<std::u16string> names;
      if (available) {
        try {
          available(type, names);
        } catch (...) {
          names.clear();
        }
      }
      bool offered = false;
      for (const std::u16string &name : names) {
        for (const std::u16string &suffix : entrySuffixes) {
          auto factory =
              reinterpret_cast<PluginFactory>(dlsym(handle, Narrow(name + suffix).c_str()));
          if (!factory) continue;
          found.emplace_back(name, factory);
          offered = true;
          break;
        }
      }
      if (offered)
        loaded_.push_back(handle);
      else
        dlclose(handle);
    }
  }
  return found;
}

} // namespace qorv::plugin
