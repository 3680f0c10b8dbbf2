#pragma once
// The player's code as the loader laid it out. A patched copy of the code in
// memory (a debugger's breakpoint, a tool that skips the watermark) differs
// from the signed file on disk; comparing the two needs the file's code
// sections placed and relocated exactly as the loader does it for the
// module's actual base.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace integrity {

// The file laid out as the loader maps it at base: headers, each section's
// raw data at its address, zero fill, base relocations applied. Nothing when
// the file is not a well-formed 64-bit image or its relocations do not fit
// it (every offset and size is checked: the file is read, not trusted).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> LayOutImage(std::span<const std::uint8_t> file,
                                                                   std::uint64_t base);

// An executable section: its address (relative to the image) and size.
struct CodeRange {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

// The executable sections named by the headers of a laid-out image (or of a
// loaded module's first page); empty when the headers are not a 64-bit image.
[[nodiscard]] std::vector<CodeRange> CodeRanges(std::span<const std::uint8_t> image);

// What the code of a loaded module must be: the ranges its file names and
// the digest of their bytes laid out for the module's base.
struct CodeBaseline {
  std::vector<CodeRange> ranges;
  std::vector<std::uint8_t> digest;
};

// Reads the module's file through the handle and lays it out for the
// module's actual base. Nothing when the file cannot be read or laid out, or
// names code outside the loaded module.
[[nodiscard]] std::optional<CodeBaseline> ReadCodeBaseline(HANDLE file, HMODULE module);

// SHA-256 of the module's code in memory now, over the baseline's ranges
// (never over ranges named by headers in memory, which a patch could change);
// empty on failure.
[[nodiscard]] std::vector<std::uint8_t> LoadedCodeDigest(HMODULE module, const std::vector<CodeRange>& ranges);

}  // namespace integrity
