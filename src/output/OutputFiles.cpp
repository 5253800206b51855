#include "output/OutputFiles.h"

namespace output {

std::string CleanName(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(c == '/' || u < 0x20 || u == 0x7F ? '_' : c);
  }
  if (!out.empty() && out.find_first_not_of('.') == std::string::npos) out = "_";
  return out;
}

}  // namespace output
