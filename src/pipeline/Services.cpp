#include "pipeline/Services.h"

#include "pipeline/BGPrintView.h"

#include <chrono>
#include <cstdio>
#include <system_error>

namespace pipeline {

void TPipelineServices::Log(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void TPipelineServices::OperatorMessage(std::string_view text) {
  std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
}

OSErr TPipelineServices::MoveFileToFolder(const std::filesystem::path& file, const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  if (folder.empty()) return dirNFErr;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return dirNFErr;
  fs::path target = folder / file.filename();
  for (int n = 1; fs::exists(target, ec) && n < 10000; ++n)
    target = folder / (file.filename().string() + " " + std::to_string(n));
  if (fs::exists(target, ec)) return dupFNErr;
  fs::rename(file, target, ec);
  if (ec) {
    // Across file systems: copy, then remove the original.
    fs::copy_file(file, target, fs::copy_options::none, ec);
    if (ec) return ioErr;
    fs::remove(file, ec);
    if (ec) return ioErr;
  }
  return noErr;
}

OSErr TPipelineServices::DeleteFile(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::remove(file, ec)) return ec ? ioErr : fnfErr;
  return noErr;
}

std::unique_ptr<TSpoolerPrintView> TPipelineServices::MakeJobView() {
  return std::make_unique<TSpoolerPrintView>(*this);
}

uint32_t TPipelineServices::TickCount() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() * 60 / 1000);
}

}  // namespace pipeline
