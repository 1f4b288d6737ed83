#include "App/Data/Preferences/ZeltoBaseJSONModel.h"

#include <exception>

namespace zelto {

Result<nlohmann::json> ZeltoBaseJSONModel::transformWithDefaults(const nlohmann::json& input,
                                                                 const nlohmann::json& defaults) {
  try {
    nlohmann::json merged = input.is_object() ? input : nlohmann::json::object();
    if (!defaults.is_object()) return merged;
    for (const auto& [key, value] : defaults.items()) {
      auto it = merged.find(key);
      if (it == merged.end() || it->is_null()) merged[key] = value;
    }
    return merged;
  } catch (const std::exception& e) {
    return Status::failure(std::string("Can't merge the defaults: ") + e.what());
  }
}

}  // namespace zelto
