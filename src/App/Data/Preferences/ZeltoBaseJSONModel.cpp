#include "App/Data/Preferences/ZeltoBaseJSONModel.h"

namespace zelto {

nlohmann::json ZeltoBaseJSONModel::transformWithDefaults(const nlohmann::json& input,
                                                         const nlohmann::json& defaults) {
  nlohmann::json merged = input.is_object() ? input : nlohmann::json::object();
  if (!defaults.is_object()) return merged;
  for (const auto& [key, value] : defaults.items()) {
    auto it = merged.find(key);
    if (it == merged.end() || it->is_null()) merged[key] = value;
  }
  return merged;
}

}  // namespace zelto
