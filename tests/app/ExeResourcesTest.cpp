// Checks the built Miravell.exe itself: its resources, and that the
// configuration constants it carries are scrambled.
#include <windows.h>

#include <objbase.h>
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "app/resources/resource.h"
#include "common/Config.h"
#include "common/Handles.h"
#include "tests/support/TestSupport.h"

namespace {

using testing_support::AsciiBytes;
using testing_support::Contains;
using testing_support::Utf16Bytes;

std::wstring ExePath() { return testing_support::BuildProgram(L"Miravell.exe"); }

class ExeResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_.reset(
        ::LoadLibraryExW(ExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module_) << "cannot load Miravell.exe as data: " << ::GetLastError();
  }

  std::vector<std::uint8_t> Resource(LPCWSTR type, int id) {
    HRSRC info = ::FindResourceW(module_.get(), MAKEINTRESOURCEW(id), type);
    if (info == nullptr) return {};
    HGLOBAL loaded = ::LoadResource(module_.get(), info);
    const auto* data = static_cast<const std::uint8_t*>(::LockResource(loaded));
    return std::vector<std::uint8_t>(data, data + ::SizeofResource(module_.get(), info));
  }

  UniqueModule module_;
};

TEST_F(ExeResources, IconGroup101HoldsSeveralSizesUpTo256) {
  const auto group = Resource(RT_GROUP_ICON, IDI_MIRAVELL);
  ASSERT_GE(group.size(), 6u);
  const int count = group[4] | (group[5] << 8);
  EXPECT_GE(count, 5);
  ASSERT_EQ(group.size(), 6u + 14u * static_cast<unsigned>(count));
  bool has16 = false, has32 = false, has256 = false;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* entry = group.data() + 6 + 14 * i;
    const int width = entry[0] == 0 ? 256 : entry[0];
    has16 |= width == 16;
    has32 |= width == 32;
    has256 |= width == 256;
    const int bitCount = entry[6] | (entry[7] << 8);
    EXPECT_EQ(bitCount, 32) << "icon " << width << " should carry alpha";
  }
  EXPECT_TRUE(has16 && has32 && has256);
}

TEST_F(ExeResources, SplashIsA512SquarePngWithRealTransparency) {
  const auto png = Resource(RT_RCDATA, IDR_SPLASH_PNG);
  ASSERT_GT(png.size(), 33u);
  const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_TRUE(std::equal(std::begin(signature), std::end(signature), png.begin()));
  // IHDR: width, height (big-endian), bit depth 8, colour type 6 (RGBA).
  auto be32 = [&](std::size_t at) { return (png[at] << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3]; };
  EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
  EXPECT_EQ(be32(16), 512);
  EXPECT_EQ(be32(20), 512);
  EXPECT_EQ(png[24], 8);
  EXPECT_EQ(png[25], 6);

  // Decode it the way the splash will (GDI+) and look at the alpha channel.
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  ScopeExit shutdown([&] { Gdiplus::GdiplusShutdown(token); });
  IStream* stream = ::SHCreateMemStream(png.data(), static_cast<UINT>(png.size()));
  ASSERT_NE(stream, nullptr);
  ScopeExit releaseStream([&] { stream->Release(); });
  int transparent = 0, opaque = 0, partial = 0;
  {
    Gdiplus::Bitmap bitmap(stream);
    ASSERT_EQ(bitmap.GetLastStatus(), Gdiplus::Ok);  // 512 square: its header says so above
    for (UINT y = 0; y < 512; y += 4) {
      for (UINT x = 0; x < 512; x += 4) {
        Gdiplus::Color color;
        bitmap.GetPixel(static_cast<INT>(x), static_cast<INT>(y), &color);
        const BYTE alpha = color.GetA();
        if (alpha == 0)
          ++transparent;
        else if (alpha == 255)
          ++opaque;
        else
          ++partial;
      }
    }
  }
  EXPECT_GT(transparent, 1000) << "the corners and background must be see-through";
  EXPECT_GT(opaque, 1000) << "the mark must be solid";
  EXPECT_GT(partial, 50) << "edges should be smooth";
}

TEST_F(ExeResources, VersionIs480) {
  const std::wstring path = ExePath();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<std::uint8_t> data(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(8, 4));
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(8, 4));
  wchar_t* text = nullptr;
  UINT textSize = 0;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904b0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &textSize));
  EXPECT_STREQ(text, L"4.8.0");
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904b0\\ProductName", reinterpret_cast<void**>(&text),
                               &textSize));
  EXPECT_STREQ(text, L"Miravell");
}

TEST_F(ExeResources, ManifestAsksForNoElevationAndNamesWindows10) {
  const auto manifest = Resource(RT_MANIFEST, 1);
  const std::string text(manifest.begin(), manifest.end());
  EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(text.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}

TEST(ExeImage, IsAGuiProgramThatNeedsNoRuntimeDlls) {
  const auto image = testing_support::ReadFileBytes(ExePath());
  ASSERT_GT(image.size(), 0x200u);
  const auto peOffset = *reinterpret_cast<const std::uint32_t*>(image.data() + 0x3C);
  const auto* optional = image.data() + peOffset + 4 + 20;
  const auto subsystem = *reinterpret_cast<const std::uint16_t*>(optional + 68);
  EXPECT_EQ(subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  // Static runtime: none of the compiler's runtime DLLs may be imported.
  for (const char* dll :
       {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll", "MSVCP140.dll", "VCRUNTIME140.dll"}) {
    EXPECT_FALSE(Contains(image, AsciiBytes(dll))) << dll;
  }
}

TEST(ExeImage, ConfigurationValuesAreStoredScrambledNotInPlain) {
  const auto image = testing_support::ReadFileBytes(ExePath());
  ASSERT_FALSE(image.empty());
  for (const auto id :
       {config::Id::PinSecret, config::Id::PinUrl, config::Id::Pin1, config::Id::UserAgent, config::Id::ContentPath,
        config::Id::VersionUrl, config::Id::WmiQuery, config::Id::BrowserArguments, config::Id::VersionQueryFunction}) {
    const std::string plain = config::Text(id);
    SCOPED_TRACE(std::string(config::Name(id)) + " = " + plain);
    // The scrambled form is in the image (so the value really is carried)...
    const auto stored = config::Stored(id);
    EXPECT_TRUE(Contains(image, std::vector<std::uint8_t>(stored.begin(), stored.end())));
    // ...and the plain text is not, in either encoding.
    EXPECT_FALSE(Contains(image, AsciiBytes(plain)));
    EXPECT_FALSE(Contains(image, Utf16Bytes(plain)));
  }
  // The link key never appears as its 32 raw bytes.
  const SecretBytes key = config::Secret(config::Id::LinkKeyBlock);
  EXPECT_FALSE(Contains(image, std::vector<std::uint8_t>(key.data(), key.data() + 32)));
}

}  // namespace
