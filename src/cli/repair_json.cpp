#include "cli/repair_json.h"

namespace ril::cli {

namespace {

using Json = nlohmann::ordered_json;

Json valueJson(const FieldValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  return std::get<std::uint64_t>(value);
}

}  // namespace

Json repairChangesJson(const RepairPlan& plan) {
  if (plan.verdict != RepairVerdict::kRepair) return nullptr;
  Json list = Json::array();
  for (const FieldChange& c : plan.changes) {
    Json j;
    j["field"] = c.field;
    j["offset"] = c.offset;
    j["old"] = c.before ? valueJson(*c.before) : Json(nullptr);
    j["new"] = valueJson(c.after);
    list.push_back(std::move(j));
  }
  return list;
}

}  // namespace ril::cli
