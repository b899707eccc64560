#include "cli/loudness_json.h"

namespace ril::cli {

namespace {

using Json = nlohmann::ordered_json;

Json valueOf(const LoudnessFigure& f) {
  return f.value ? Json(*f.value) : Json(nullptr);
}

Json secondOf(const LoudnessFigure& f) {
  return f.value ? Json(f.second) : Json(nullptr);
}

}  // namespace

nlohmann::ordered_json loudnessJson(const LoudnessFigures& figures) {
  Json j;
  Json reasons = Json::object();
  const auto put = [&](const char* name, const LoudnessFigure& f) {
    j[name] = valueOf(f);
    if (!f.value) reasons[name] = f.reason;
  };
  put("integratedLufs", figures.integratedLufs);
  put("rangeLu", figures.rangeLu);
  put("momentaryMaxLufs", figures.momentaryMaxLufs);
  j["momentaryMaxSecond"] = secondOf(figures.momentaryMaxLufs);
  put("shortTermMaxLufs", figures.shortTermMaxLufs);
  j["shortTermMaxSecond"] = secondOf(figures.shortTermMaxLufs);
  put("truePeakDbtp", figures.truePeakDbtp);
  j["truePeakSecond"] = secondOf(figures.truePeakDbtp);
  j["truePeakChannel"] =
      figures.truePeakChannel > 0 ? Json(figures.truePeakChannel) : Json(nullptr);
  Json channels = Json::array();
  for (const ChannelPeaks& c : figures.channels) {
    channels.push_back(
        {{"truePeakDbtp", valueOf(c.truePeakDbtp)}, {"samplePeakDbfs", valueOf(c.samplePeakDbfs)}});
  }
  j["channels"] = channels;
  j["channelWeights"] = figures.weights.weights;
  j["reasons"] = reasons;
  return j;
}

}  // namespace ril::cli
