// Reading QR codes and barcodes back from images with zbarimg (package
// zbar-tools), a decoder independent of the one that drew them.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "host/imageio/ImageFile.h"
#include "host/qd/GWorld.h"

inline bool ZbarAvailable() { return std::system("command -v zbarimg >/dev/null 2>&1") == 0; }

// One line per symbol found, as zbarimg prints it ("QR-Code:text",
// "CODE-128:text"); empty when it finds nothing.
inline std::vector<std::string> ReadCodesWithZbar(const std::string& imageFile) {
  std::vector<std::string> lines;
  const std::string command = "zbarimg -q '" + imageFile + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return lines;
  std::string out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    if (end > pos) lines.push_back(out.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

// Writes the offscreen as a PNG and reads its codes.
inline std::vector<std::string> ReadCodesWithZbar(const host::GWorld& image, const std::string& pngFile) {
  host::ImageWriteOptions options;
  if (!host::WriteImageFile(image, pngFile, host::ImageFormat::kPng, options).ok()) return {};
  return ReadCodesWithZbar(pngFile);
}
