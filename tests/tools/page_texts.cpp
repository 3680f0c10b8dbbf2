// Test program: writes the pages and scripts the player fills in before it
// hands them to its browser, as UTF-8 files, so a real engine can run them
// outside the player. Every text comes from the player's own builders; nothing
// here restates them. (Scripts compiled in unchanged are read by the browser
// tests from their files.)
//   page_texts REQUEST.json OUT_DIR
// REQUEST.json is an array of {"file": NAME, "kind": KIND, ...}:
//   "watermark", "text"                        the watermark, the text escaped as the player does
//   "ready", "script"                          the ready wrapper around the script
//   "embed", "productName", "contentUrl", "watermarkText"   the framing page
// Exit code 0 when every file was written, 2 on a bad request, 3 on a write
// failure.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "common/Text.h"
#include "player/ContentPages.h"

namespace {

using nlohmann::json;

std::wstring Field(const json& entry, const char* name) { return Utf8ToWide(entry.at(name).get<std::string>()); }

std::wstring Build(const json& entry) {
  const std::string kind = entry.at("kind").get<std::string>();
  if (kind == "watermark") return WatermarkScript(EscapeForJs(Field(entry, "text")));
  if (kind == "ready") return ReadyWrapper(Field(entry, "script"));
  if (kind == "embed") {
    return EmbedPage(Field(entry, "productName"), Field(entry, "contentUrl"), Field(entry, "watermarkText"));
  }
  throw std::invalid_argument("unknown kind " + kind);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: page_texts REQUEST.json OUT_DIR\n", stderr);
    return 2;
  }
  const std::filesystem::path outDir(argv[2]);
  json request;
  try {
    std::ifstream in(std::filesystem::path(argv[1]), std::ios::binary);
    request = json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bad request: %s\n", error.what());
    return 2;
  }
  std::error_code ignored;
  std::filesystem::create_directories(outDir, ignored);
  for (const json& entry : request) {
    std::string bytes;
    std::wstring name;
    try {
      name = Field(entry, "file");
      bytes = WideToUtf8(Build(entry));
    } catch (const std::exception& error) {
      std::fprintf(stderr, "bad entry: %s\n", error.what());
      return 2;
    }
    std::ofstream out(outDir / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", WideToUtf8(name).c_str());
      return 3;
    }
  }
  return 0;
}
