// What a first program meets: none of the library's variables set (no preferences path, no font
// path, no font servers path), only a home folder. A new layer can be made, a text in the default
// text style is drawn, and the layer's styles are kept in the user's configuration folder.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "ellm.h"

extern char **environ;

namespace {

using namespace taviron::annotation::testing;

// The library's variables are unset for the whole program: its font list and servers are found
// once, where a program without them finds them.
void UnsetLibraryVariables() {
  std::vector<std::string> names;
  for (char **at = environ; *at; ++at) {
    const std::string entry = *at;
    const std::string name = entry.substr(0, entry.find('='));
    if (name.rfind("NORIX_", 0) == 0 || name.rfind("TAVIRON_", 0) == 0) names.push_back(name);
  }
  for (const std::string &name : names) unsetenv(name.c_str());
}

struct Image {
  std::vector<uint8_t> pixels = std::vector<uint8_t>(160 * 64, 0);
  static void Put(void *data, const Eevg_Color *, const double *position, Eerr_ErrorReport **) {
    auto *image = static_cast<Image *>(data);
    const auto x = static_cast<int32_t>(position[0]), y = static_cast<int32_t>(position[1]);
    if (x >= 0 && y >= 0 && x < 160 && y < 64) image->pixels[static_cast<std::size_t>(y * 160 + x)] = 1;
  }
  long Painted() const { return std::count(pixels.begin(), pixels.end(), 1); }
};

class FirstProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    UnsetLibraryVariables();
    home_ = std::make_unique<taviron::testing::ScopedEnv>("HOME", dir_.str().c_str());
    xdg_ = std::make_unique<taviron::testing::ScopedEnv>("XDG_CONFIG_HOME", nullptr);
    ErrorSlot err;
    toolkit_ = eint_InitToolkit(&err);
    ASSERT_NE(nullptr, toolkit_) << Chain(err);
    eant_Init(toolkit_, &err);
    ASSERT_FALSE(err) << Chain(err);
    control_ = eevg_Init(&err);
    ASSERT_NE(nullptr, control_) << Chain(err);
  }
  void TearDown() override {
    auto *data = static_cast<Eant_InitData *>(toolkit_->annotationData);
    toolkit_->annotationData = nullptr;
    eant_InitDataFree(&data);
  }
  taviron::testing::TempDir dir_{"taviron_first"};
  std::unique_ptr<taviron::testing::ScopedEnv> home_, xdg_;
  Eint_InitToolkitData *toolkit_ = nullptr;
  Eevg_Control *control_ = nullptr;
};

TEST_F(FirstProgramTest, ANewLayerDrawsTextInTheDefaultTextStyleAndKeepsItsStylesAtHome) {
  ErrorSlot err;
  Eant_Layer *layer = eant_LayerNew(toolkit_, control_, (dir_ / "first.ovr").c_str(), nullptr, nullptr, &err);
  ASSERT_NE(nullptr, layer) << Chain(err);
  Eant_AnnotationInfo *info = layer->antInfo;
  Eant_CoordSysConversion *conversion =
      eant_CoordSysConversionSetValues(nullptr, 1, 1, 1, 1, 0, 0, "meters", "meters", &err);
  ASSERT_NE(nullptr, conversion) << Chain(err);
  // Text style 0 of a new layer is the default one, whose font is the default font.
  ASSERT_EQ(0, eant_TextStyleLookupInLibraryByName(info->styleLib, "Solid default color Zorude", &err));
  Eant_Element *text = eant_TextElementSetValues(
      info, nullptr, conversion, &err, EANT_ELEMKEY_SCALEUNITS, EEVG_MAP, "meters", EANT_ELEMKEY_POSITIONUNITS,
      EEVG_MAP, "meters", EANT_ELEMKEY_TEXT, EANT_LOCAL, "Hello", EANT_ELEMKEY_TEXTSTYLE, 0,
      EANT_ELEMKEY_TEXTORIGIN, 80.0, 32.0, EANT_ELEMKEY_TEXTSCALE, 30.0, EANT_ELEMKEY_END);
  ASSERT_NE(nullptr, text) << Chain(err);
  info->elements = static_cast<Eant_Element *>(ellm_Add(info->elements, ELLM_APPEND, text));

  Image image;
  Eevg_GrIOInfo device{};
  device.userData = &image;
  device.putPixel = &Image::Put;
  Eevg_DeviceInfo description{};
  description.width = 160;
  description.height = 64;
  description.lineWidthUnit = 3;
  description.colorMode = EEVG_TRUECOLOR;
  Eevg_Coord lowerLeft{0, 0}, upperRight{159, 63};
  Eevg_WorldInfo world{&lowerLeft, &upperRight};
  Eevg_Drawing *drawing = eevg_DrawingInit(control_, &description, &world, &device, &err);
  ASSERT_NE(nullptr, drawing) << Chain(err);
  eant_AnnotationRender(info, nullptr, conversion, drawing, &err);
  EXPECT_FALSE(err) << Chain(err);
  eevg_DrawingFree(&drawing, &err);
  EXPECT_GT(image.Painted(), 200) << "the text is drawn";

  // The styles in use are kept for the next layer in the user's configuration folder.
  char *name = eant_GetDefaultStylesFileName(1, &err);
  ASSERT_NE(nullptr, name) << Chain(err);
  const std::filesystem::path file = std::filesystem::path(dir_.str()) / ".config" / "taviron" / "antstyles.ads";
  EXPECT_EQ(file.string(), name);
  eant_DefaultStylesWrite(info, name, &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_TRUE(std::filesystem::is_regular_file(file));
  emsc_HeapFree(name);
  eant_CoordSysConversionFree(&conversion);
  eant_LayerClose(layer, &err);
  EXPECT_FALSE(err) << Chain(err);
}

} // namespace
