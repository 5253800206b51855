#include "host/sys/PlistValue.h"

namespace host {

const PlistValue* PlistValue::find(std::string_view key) const {
  const PlistDict* dict = asDict();
  if (!dict) return nullptr;
  auto it = dict->find(key);
  return it == dict->end() ? nullptr : &it->second;
}

bool PlistValue::toDouble(double& out) const {
  if (auto* i = asInteger()) {
    out = static_cast<double>(*i);
    return true;
  }
  if (auto* r = asReal()) {
    out = *r;
    return true;
  }
  if (auto* b = asBool()) {
    out = *b ? 1.0 : 0.0;
    return true;
  }
  return false;
}

}  // namespace host
