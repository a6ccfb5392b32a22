// Reads the headers of a Windows executable (PE, 32 or 64 bit) and the DLLs
// it imports, so that the tests can check what the built programs carry and
// what the loader must find for them. Portable and hostile to its input:
// every offset and length is checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PeSection {
  uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

// What the readers need of the headers: the sections and the data
// directories (relative virtual address and size of each).
struct PeImage {
  std::vector<PeSection> sections;
  std::vector<std::pair<uint32_t, uint32_t>> directories;
};

constexpr size_t PeImportDirectory = 1;
constexpr size_t PeResourceDirectory = 2;
constexpr size_t PeDelayImportDirectory = 13;

// False when the file is no PE image or its headers are damaged.
bool ParsePeImage(const std::vector<uint8_t>& file, PeImage* image);

// Maps a relative virtual address to its offset in the file; false when no
// section stores it.
bool PeRvaToOffset(const PeImage& image, uint32_t rva, uint64_t* offset);

// The names of the DLLs the image imports, as stored, first those of the
// import table and then those loaded on first use (delayed imports). False
// when the image or its import tables are damaged.
bool ReadPeImports(const std::vector<uint8_t>& file, std::vector<std::string>* dlls);
