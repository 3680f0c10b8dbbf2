#include "app/CodeImage.h"

#include <cstring>
#include <algorithm>
#include <cstddef>

#include "common/Sha256.h"

namespace integrity {
namespace {

// Larger than any build of the player; a header claiming more is refused
// before anything is allocated for it.
constexpr std::uint32_t kMaxImageSize = 256u << 20;
constexpr std::uint32_t kMaxFileSize = 256u << 20;
// Every image maps its headers into a first page of their own.
constexpr std::size_t kHeaderPage = 4096;

template <typename T>
bool ReadAt(std::span<const std::uint8_t> bytes, std::uint64_t offset, T& value) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return true;
}

bool Fits(std::uint64_t offset, std::uint64_t size, std::uint64_t total) {
  return offset <= total && size <= total - offset;
}

struct Headers {
  IMAGE_NT_HEADERS64 nt{};
  std::uint64_t sectionTable = 0;  // offset of the first section header
};

std::optional<Headers> ReadHeaders(std::span<const std::uint8_t> bytes) {
  IMAGE_DOS_HEADER dos{};
  if (!ReadAt(bytes, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return std::nullopt;
  Headers headers;
  const auto ntOffset = static_cast<std::uint64_t>(dos.e_lfanew);
  if (!ReadAt(bytes, ntOffset, headers.nt) || headers.nt.Signature != IMAGE_NT_SIGNATURE ||
      headers.nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    return std::nullopt;
  }
  headers.sectionTable =
      ntOffset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + headers.nt.FileHeader.SizeOfOptionalHeader;
  if (!Fits(headers.sectionTable, std::uint64_t{headers.nt.FileHeader.NumberOfSections} * sizeof(IMAGE_SECTION_HEADER),
            bytes.size())) {
    return std::nullopt;
  }
  return headers;
}

IMAGE_SECTION_HEADER SectionAt(std::span<const std::uint8_t> bytes, const Headers& headers, unsigned index) {
  IMAGE_SECTION_HEADER section{};
  ReadAt(bytes, headers.sectionTable + std::uint64_t{index} * sizeof(section), section);
  return section;
}

// The loader's view of a section: raw bytes up to the virtual size, then zeros.
std::uint32_t LoadedSize(const IMAGE_SECTION_HEADER& section) {
  return section.Misc.VirtualSize != 0 ? section.Misc.VirtualSize : section.SizeOfRawData;
}

bool ApplyRelocations(std::vector<std::uint8_t>& image, const IMAGE_DATA_DIRECTORY& directory, std::uint64_t delta) {
  if (!Fits(directory.VirtualAddress, directory.Size, image.size())) return false;
  const std::span<const std::uint8_t> blocks(image.data() + directory.VirtualAddress, directory.Size);
  std::vector<std::pair<std::uint64_t, WORD>> fixups;
  // Collected first: the blocks live in the image the fixups change.
  for (std::uint64_t offset = 0; offset + sizeof(IMAGE_BASE_RELOCATION) <= blocks.size();) {
    IMAGE_BASE_RELOCATION block{};
    ReadAt(blocks, offset, block);
    if (block.SizeOfBlock < sizeof(block) || !Fits(offset, block.SizeOfBlock, blocks.size())) return false;
    for (std::uint64_t entry = sizeof(block); entry + sizeof(WORD) <= block.SizeOfBlock; entry += sizeof(WORD)) {
      WORD value = 0;
      ReadAt(blocks, offset + entry, value);
      fixups.emplace_back(std::uint64_t{block.VirtualAddress} + (value & 0x0FFFu), static_cast<WORD>(value >> 12));
    }
    offset += block.SizeOfBlock;
  }
  for (const auto& [rva, type] : fixups) {
    switch (type) {
      case IMAGE_REL_BASED_ABSOLUTE:
        break;  // padding
      case IMAGE_REL_BASED_DIR64: {
        std::uint64_t value = 0;
        if (!Fits(rva, sizeof(value), image.size())) return false;
        std::memcpy(&value, image.data() + rva, sizeof(value));
        value += delta;
        std::memcpy(image.data() + rva, &value, sizeof(value));
        break;
      }
      case IMAGE_REL_BASED_HIGHLOW: {
        std::uint32_t value = 0;
        if (!Fits(rva, sizeof(value), image.size())) return false;
        std::memcpy(&value, image.data() + rva, sizeof(value));
        value += static_cast<std::uint32_t>(delta);
        std::memcpy(image.data() + rva, &value, sizeof(value));
        break;
      }
      default:
        return false;  // no x64 linker emits others; a guess would be a false alarm
    }
  }
  return true;
}

std::vector<std::uint8_t> ReadWholeFile(HANDLE file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > kMaxFileSize) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(done);
    DWORD read = 0;
    if (!::ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, &at) || read == 0) {
      return {};
    }
    done += read;
  }
  return bytes;
}

// SHA-256 over the ranges of an image (laid out, or loaded), in order. The
// usual case, one code section, is hashed where it lies: the guard does this
// every few seconds.
std::vector<std::uint8_t> RangesDigest(const std::uint8_t* image, const std::vector<CodeRange>& ranges) {
  if (ranges.size() == 1) return Sha256(std::span(image + ranges[0].rva, ranges[0].size)).digest;
  std::vector<std::uint8_t> code;
  for (const CodeRange& range : ranges) code.insert(code.end(), image + range.rva, image + range.rva + range.size);
  return Sha256(code).digest;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> LayOutImage(std::span<const std::uint8_t> file, std::uint64_t base) {
  const std::optional<Headers> headers = ReadHeaders(file);
  if (!headers) return std::nullopt;
  const IMAGE_OPTIONAL_HEADER64& optional = headers->nt.OptionalHeader;
  if (optional.SizeOfImage == 0 || optional.SizeOfImage > kMaxImageSize ||
      optional.SizeOfHeaders > optional.SizeOfImage || optional.SizeOfHeaders > file.size()) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> image(optional.SizeOfImage, 0);
  std::memcpy(image.data(), file.data(), optional.SizeOfHeaders);
  for (unsigned i = 0; i < headers->nt.FileHeader.NumberOfSections; ++i) {
    const IMAGE_SECTION_HEADER section = SectionAt(file, *headers, i);
    const std::uint32_t size = LoadedSize(section);
    if (!Fits(section.VirtualAddress, size, image.size())) return std::nullopt;
    const std::uint32_t raw = std::min<std::uint32_t>(section.SizeOfRawData, size);
    if (!Fits(section.PointerToRawData, raw, file.size())) return std::nullopt;
    std::memcpy(image.data() + section.VirtualAddress, file.data() + section.PointerToRawData, raw);
  }
  const std::uint64_t delta = base - optional.ImageBase;  // modular, as the loader adds it
  if (delta == 0) return image;
  if ((headers->nt.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED) != 0 ||
      optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_BASERELOC) {
    return std::nullopt;
  }
  if (!ApplyRelocations(image, optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC], delta)) return std::nullopt;
  return image;
}

std::vector<CodeRange> CodeRanges(std::span<const std::uint8_t> image) {
  const std::optional<Headers> headers = ReadHeaders(image);
  std::vector<CodeRange> ranges;
  if (!headers) return ranges;
  for (unsigned i = 0; i < headers->nt.FileHeader.NumberOfSections; ++i) {
    const IMAGE_SECTION_HEADER section = SectionAt(image, *headers, i);
    if ((section.Characteristics & IMAGE_SCN_MEM_EXECUTE) == 0) continue;
    ranges.push_back({section.VirtualAddress, LoadedSize(section)});
  }
  return ranges;
}

std::optional<CodeBaseline> ReadCodeBaseline(HANDLE file, HMODULE module) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(file);
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  const std::optional<std::vector<std::uint8_t>> image = LayOutImage(bytes, base);
  if (!image) return std::nullopt;
  CodeBaseline baseline;
  baseline.ranges = CodeRanges(*image);
  // The module in memory must hold every range: the file on disk could have
  // been replaced by a larger one since it was loaded.
  const auto* loaded = reinterpret_cast<const std::uint8_t*>(module);
  const std::optional<Headers> loadedHeaders = ReadHeaders(std::span<const std::uint8_t>(loaded, kHeaderPage));
  if (baseline.ranges.empty() || !loadedHeaders) return std::nullopt;
  for (const CodeRange& range : baseline.ranges) {
    if (!Fits(range.rva, range.size, loadedHeaders->nt.OptionalHeader.SizeOfImage) ||
        !Fits(range.rva, range.size, image->size())) {
      return std::nullopt;
    }
  }
  baseline.digest = RangesDigest(image->data(), baseline.ranges);
  if (baseline.digest.empty()) return std::nullopt;
  return baseline;
}

std::vector<std::uint8_t> LoadedCodeDigest(HMODULE module, const std::vector<CodeRange>& ranges) {
  return RangesDigest(reinterpret_cast<const std::uint8_t*>(module), ranges);
}

}  // namespace integrity
