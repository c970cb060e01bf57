// The product's registry key: its path, the default environment table and the registry value
// "Environment" that lists the variables every program of the product sets up.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "ereg.h"
#include "esmg.h"
#include "esmg_frame_internal.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

constexpr const char *kDefaultProduct = "TAVIRON";
constexpr const char *kDefaultVersion = "10";
constexpr const char *kEnvironmentValue = "Environment";

// Process-wide, fixed on first use.
struct RegistryPath {
  std::string product;
  std::string version;
  std::string override;
  bool overrideRead = false;
  std::string path;
};

RegistryPath &R() {
  static RegistryPath *state = new RegistryPath;
  return *state;
}

// The default environment: a variable a line, "+" marking the lists whose meaning belongs to the
// callers of esmg_DefaultEnvironmentGet. Paths use this platform's separator.
#define TAVIRON_PLUGIN_LIST(name, folder) name "=$PERSONAL/" folder ";$TAVIRON_HOME_PATH/usr/lib/$ARCHM_PATH/" folder
constexpr const char *kDefaultEnvironment[] = {
    "NORIX_LIBRARY_PATH=$TAVIRON_HOME/usr/lib/$ARCHM",
    "NORIX_VIEWER=$TAVIRON_HOME/bin/$ARCHM/viewer",
    "NORIX_VECTFILE_LINK_PATH=$PERSONAL/norix_vectfile_link_loc",
    "NORIX_BIN_PATH=$PERSONAL;$TAVIRON_HOME_PATH/bin/$ARCHM_PATH",
    "NORIX_ICON_PATH=$PERSONAL;$TAVIRON_HOME/fixes;$TAVIRON_HOME_PATH/icons;$TAVIRON_HOME_PATH/icons/ewkspace",
    "NORIX_SCRIPT_PATH=$PERSONAL;$TAVIRON_HOME/fixes;$TAVIRON_HOME_PATH/scripts/$ARCHM;$TAVIRON_HOME_PATH/scripts",
    "NORIX_MODEL_PATH=$PERSONAL;$TAVIRON_HOME/fixes;$TAVIRON_HOME_PATH/etc/models",
    "+NORIX_PROJECTIONS_PATH=$PERSONAL;$TAVIRON_HOME_PATH/fixes;$TAVIRON_HOME_PATH/etc;$TAVIRON_HOME/bin/$ARCHM_PATH",
    "+NORIX_PROJECTION_PATH=$PERSONAL/projections;$TAVIRON_HOME_PATH/fixes;$TAVIRON_HOME_PATH/etc/projections",
    "NORIX_EXPRO_PATH=$PERSONAL;$TAVIRON_HOME_PATH/etc/expro",
    "NORIX_EXPRO_DIR=$TAVIRON_HOME/etc/expro",
    "NORIX_ETC_PATH=$PERSONAL;$TAVIRON_HOME/fixes;$TAVIRON_HOME_PATH/etc",
    "NORIX_INSTALL_PATH=$TAVIRON_HOME/install",
    "+NORIX_COLOR_PATH=$PERSONAL/Colors;$TAVIRON_HOME_PATH/etc/Colors",
    "+NORIX_ARROWSTYLE_PATH=$PERSONAL/Arrows;$TAVIRON_HOME_PATH/etc/Arrows",
    "+NORIX_LINESTYLE_PATH=$PERSONAL/LineStyles;$TAVIRON_HOME/fixes;$TAVIRON_HOME_PATH/etc/LineStyles",
    "+NORIX_FILLSTYLE_PATH=$PERSONAL/FillStyles;$TAVIRON_HOME/fixes;$TAVIRON_HOME_PATH/etc/FillStyles",
    "+NORIX_TEXTSTYLE_PATH=$PERSONAL/TextStyles;$TAVIRON_HOME/fixes;$TAVIRON_HOME_PATH/etc/TextStyles",
    "+NORIX_SYMBOL_PATH=$PERSONAL/Symbols;$TAVIRON_HOME/fixes;$TAVIRON_HOME_PATH/etc/Symbols;$PERSONAL;$TAVIRON_HOME_PATH/etc",
    "NORIX_FONT_PATH=$PERSONAL/fonts;$TAVIRON_HOME_PATH/etc/fonts",
    "NORIX_HELP_DIR=$TAVIRON_HOME/help",
    "NORIX_DLL_DIR=$TAVIRON_HOME/usr/lib/$ARCHM",
    TAVIRON_PLUGIN_LIST("NORIX_RASTER_FORMATS_PATH", "RasterFormats"),
    TAVIRON_PLUGIN_LIST("NORIX_VECTOR_FORMATS_PATH", "VectorFormats"),
    TAVIRON_PLUGIN_LIST("NORIX_NON_STANDARD_OBJECTS_PATH", "NonStandardObjects"),
    TAVIRON_PLUGIN_LIST("NORIX_DBCONNECT_PATH", "DBConnect"),
    TAVIRON_PLUGIN_LIST("NORIX_FONT_SERVERS_PATH", "FontServers"),
    TAVIRON_PLUGIN_LIST("NORIX_FILE_FILTERS_PATH", "FileFilters"),
    TAVIRON_PLUGIN_LIST("NORIX_GEOMETRIC_MODELS_PATH", "GeometricModels"),
    TAVIRON_PLUGIN_LIST("NORIX_RESAMPLE_METHODS_PATH", "ResampleMethods"),
    TAVIRON_PLUGIN_LIST("NORIX_GEOMODEL_INTERFACES_PATH", "GeomodelInterfaces"),
    TAVIRON_PLUGIN_LIST("NORIX_BLOCKMODEL_INTERFACES_PATH", "BlockmodelInterfaces"),
    TAVIRON_PLUGIN_LIST("NORIX_VIRTUAL_LAYERS_PATH", "VirtualLayers"),
    TAVIRON_PLUGIN_LIST("NORIX_VIRTUAL_MODELS_PATH", "VirtualModels"),
    TAVIRON_PLUGIN_LIST("NORIX_VIRTUAL_EXPORTS_PATH", "VirtualExports"),
    "NORIX_DYNAMIC_MOVIES_DIR=$TAVIRON_HOME/usr/lib/$ARCHM/DynamicMovies",
    TAVIRON_PLUGIN_LIST("NORIX_APPLICATION_FUNCTIONS_PATH", "ApplicationFunctions"),
    "NORIX_PDF_PATH=$PERSONAL;$TAVIRON_HOME/fixes;$TAVIRON_HOME/defaults/$ARCH;$TAVIRON_HOME_PATH/defaults",
    TAVIRON_PLUGIN_LIST("NORIX_PUSHBROOM_SENSORINFO_PATH", "Pushbroom_SI"),
    TAVIRON_PLUGIN_LIST("NORIX_SPECTRUM_READER_PATH", "SpectrumReaders"),
    TAVIRON_PLUGIN_LIST("NORIX_IMAGESPECTROSCOPY_PREPROCESS_PATH", "IS_Preprocesses"),
    TAVIRON_PLUGIN_LIST("NORIX_IMAGESPECTROSCOPY_TASK_PATH", "IS_Tasks"),
    "+NORIX_PREFERENCES_PATH=$TAVIRON_HOME_PATH/defaults;$PERSONAL",
    "+NORIX_BATCH_DIR=$PERSONAL",
    "NORIX_STYLE_PATH=$PERSONAL;$TAVIRON_HOME_PATH/etc",
    "NORIX_TM_PALLETTE_PATH=$TAVIRON_HOME/defaults/$ARCH;$TAVIRON_HOME_PATH/defaults",
    "TMPATH=$TAVIRON_HOME/etc/terramodel/$ARCH",
    "NORIX_EXPRO_EXC_NAME=exprojections",
    "NORIX_DEVICES_PATH=$TAVIRON_HOME_PATH/devices/$ARCHM_PATH;$TAVIRON_HOME_PATH/devices",
    "NORIX_CFG_PATH=$VOD_GLOBAL_DATA/devices/$ARCHM_PATH;$VOD_GLOBAL_DATA/etc;$PERSONAL",
    "NORIX_CFG_DATABASES=",
    "ARCHOME=$TAVIRON_HOME/archome/$ARCHM_PATH",
    "SDE_HOME=$TAVIRON_HOME/archome/$ARCHM_PATH/bin",
    "NORIX_ESRI_BIN_PATH=$TAVIRON_HOME/archome/$ARCHM_PATH/bin",
    "NORIX_VOSKA_CLASS_PATH=$TAVIRON_HOME/voskahome;$TAVIRON_HOME/voskahome/libs",
    "NORIX_BRELAN_CLASS_PATH=$TAVIRON_HOME/brlhome;$TAVIRON_HOME/brlhome/lib",
    "NORIX_SENSORML_CLASS_PATH=$TAVIRON_HOME/SensorML",
    "NORIX_JAVA_CLASSPATH=$NORIX_VOSKA_CLASS_PATH;$NORIX_BRELAN_CLASS_PATH;$NORIX_SENSORML_CLASS_PATH",
    "",
};
#undef TAVIRON_PLUGIN_LIST
static_assert(std::size(kDefaultEnvironment) == 59, "58 entries and the empty one that ends them");

std::string EntryName(const std::string &entry) { return entry.substr(0, entry.find('=')); }

void Warn(const char *format) {
  const std::string text = lower::Format(format, esmg_RegistryPathProductComponentGet(),
                                         esmg_RegistryPathVersionComponentGet());
  esmg_MessageBox(text.c_str(), esmg_RegistryPathProductComponentGet(),
                  ESMG_MB_ICONERROR | ESMG_MB_TASKMODAL);
}

bool ReadValue(Ereg_Key *key, const char *name, std::string &bytes) {
  for (int attempt = 0; attempt < 4; ++attempt) { // the value may change between the two reads
    uint32_t size = 0;
    if (ereg_QueryValue(key, name, nullptr, nullptr, &size) != EREG_OK) return false;
    bytes.assign(size, '\0');
    const int32_t read = ereg_QueryValue(key, name, nullptr, bytes.data(), &size);
    if (read == EREG_OK) {
      bytes.resize(size);
      return true;
    }
    if (read != EREG_MORE_DATA) return false;
  }
  return false;
}

// The registry entries with the default entries they lack, both taken in the order of their
// names; true when a default entry was added.
bool Merge(std::vector<std::string> entries, std::vector<std::string> defaults,
           std::vector<std::string> &merged) {
  const auto byName = [](const std::string &a, const std::string &b) { return EntryName(a) < EntryName(b); };
  std::stable_sort(entries.begin(), entries.end(), byName);
  std::stable_sort(defaults.begin(), defaults.end(), byName);
  bool changed = false;
  std::size_t i = 0, j = 0;
  while (i < entries.size() || j < defaults.size()) {
    if (j == defaults.size() || (i < entries.size() && byName(entries[i], defaults[j]))) {
      merged.push_back(entries[i++]);
    } else if (i == entries.size() || byName(defaults[j], entries[i])) {
      merged.push_back(defaults[j++]);
      changed = true;
    } else { // the same name: the registry's entry stays
      merged.push_back(entries[i++]);
      ++j;
    }
  }
  return changed;
}

} // namespace

namespace taviron::session {

bool ProductKeyValue(const char *name, std::string &bytes) {
  Ereg_Key *key = nullptr;
  if (ereg_OpenKey(esmg_RegistryPathGet(), 0, &key) != EREG_OK) return false;
  const bool read = ReadValue(key, name, bytes);
  ereg_CloseKey(key);
  return read;
}

std::vector<std::string> DefaultEnvironment() {
  std::vector<std::string> entries;
  for (const char *entry : kDefaultEnvironment)
    if (*entry) entries.emplace_back(entry[0] == '+' ? entry + 1 : entry);
  return entries;
}

std::vector<std::string> MultiStrings(const unsigned char *bytes, std::size_t size) {
  std::vector<std::string> strings;
  for (std::size_t at = 0; at < size && bytes[at];) {
    const auto *text = reinterpret_cast<const char *>(bytes + at);
    const std::size_t length = strnlen(text, size - at);
    strings.emplace_back(text, length);
    at += length + 1;
  }
  return strings;
}

std::string MultiStringBytes(const std::vector<std::string> &strings) {
  std::string bytes;
  for (const std::string &text : strings) {
    bytes += text.c_str();
    bytes += '\0';
  }
  bytes += '\0';
  return bytes;
}

} // namespace taviron::session

extern "C" {

const char *esmg_RegistryPathGet(void) try {
  RegistryPath &r = R();
  if (!r.overrideRead) {
    r.overrideRead = true;
    if (const char *value = std::getenv("REGISTRY_BASE_PATH_OVERRIDE")) r.override = value;
  }
  r.path = !r.override.empty() ? r.override
                               : lower::Format("SOFTWARE\\NORIX\\%s\\%s", esmg_RegistryPathProductComponentGet(),
                                               esmg_RegistryPathVersionComponentGet());
  return r.path.c_str();
} TAVIRON_GUARD_QUIET(nullptr)

void esmg_RegistryPathProductComponentSet(const char *text) try {
  if (text && R().product.empty()) R().product = text;
} TAVIRON_GUARD_QUIET_VOID

void esmg_RegistryPathVersionComponentSet(const char *text) try {
  if (text && R().version.empty()) R().version = text;
} TAVIRON_GUARD_QUIET_VOID

const char *esmg_RegistryPathProductComponentGet(void) try {
  if (R().product.empty()) R().product = kDefaultProduct;
  return R().product.c_str();
} TAVIRON_GUARD_QUIET(kDefaultProduct)

const char *esmg_RegistryPathVersionComponentGet(void) try {
  if (R().version.empty()) R().version = kDefaultVersion;
  return R().version.c_str();
} TAVIRON_GUARD_QUIET(kDefaultVersion)

const char *esmg_RegistryPathGetVOD(void) try { return "SOFTWARE\\NORIX\\KVT\\10"; } TAVIRON_GUARD_QUIET(nullptr)

const char *const *esmg_DefaultEnvironmentGet(void) try { return kDefaultEnvironment; } TAVIRON_GUARD_QUIET(nullptr)

void esmg_RegistrySetDefaultEnvironmentValuesIfNecessary(void) try {
  using namespace taviron::session;
  const std::vector<std::string> defaults = DefaultEnvironment();
  const std::string path = esmg_RegistryPathGet();
  Ereg_Key *key = nullptr;
  std::string bytes;
  if (ereg_OpenKey(path.c_str(), 0, &key) != EREG_OK) {
    Warn("Warning: Cannot access the Registry database for '%s - %s', it does not appear to have "
         "been installed correctly");
  } else if (!ReadValue(key, kEnvironmentValue, bytes)) {
    bytes.clear();
  }
  ereg_CloseKey(key);
  std::vector<std::string> value;
  if (bytes.size() <= 2)
    value = defaults;
  else if (!Merge(MultiStrings(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()),
                  defaults, value))
    return;
  Ereg_Key *writable = nullptr;
  if (ereg_OpenKey(path.c_str(), 1, &writable) != EREG_OK) {
    Warn("Warning: Cannot open the Registry database for '%s - %s' in order to update it with "
         "default environment values");
    return;
  }
  const std::string updated = MultiStringBytes(value);
  if (ereg_SetValue(writable, kEnvironmentValue, EREG_MULTI_SZ, updated.data(),
                    static_cast<uint32_t>(updated.size())) != EREG_OK)
    Warn("Warning: Cannot update the Registry database for '%s - %s' with default environment "
         "values");
  ereg_CloseKey(writable);
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
