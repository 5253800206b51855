// Feeds arbitrary bytes to the job file reader: it must give a result code
// and never read past the input, allocate from an unchecked size or crash.
#include <cstddef>
#include <cstdint>
#include <span>

#include "pipeline/BGPrintView.h"
#include "pipeline/FakeServices.h"

namespace {

struct QuietServices : FakeServices {
  void Log(std::string_view) override {}
  void OperatorMessage(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietServices services;
  pipeline::TBGPrintView view(services);
  const int16_t result = view.ReadObjectsFromBytes(std::span<const uint8_t>(data, size));
  if (result != 0 && result != 100 && result != 101 && result != 109) __builtin_trap();
  // Whatever was read can be written back.
  layout::TJobWriter out;
  for (const auto& obj : view.objectList) obj->WriteTo(out);
  for (const auto& obj : view.subJobObjectList) obj->WriteTo(out);
  return 0;
}
