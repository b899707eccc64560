#include "cli/report_json.h"

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cli/loudness_json.h"
#include "cli/repair_json.h"
#include "core/modify/volume_policy.h"
#include "core/wav/header_report.h"

namespace ril::cli {

namespace {

using Json = nlohmann::ordered_json;

// 20 log10 of a fraction of full scale; null for 0 (silence has no level).
Json dbfs(double fraction) {
  return fraction > 0 ? Json(20.0 * std::log10(fraction)) : Json(nullptr);
}

// A figure on the format's own scale: integers as integers, float values as
// numbers.
Json scaleValue(double v, const SampleFormat& f) {
  return f.isFloat() ? Json(v) : Json(static_cast<std::int64_t>(v));
}

Json channelJson(const ChannelFigures& r, const SampleFormat& f, double rate) {
  const double peak = std::max(std::abs(r.min), std::abs(r.max));
  const double fullScale = f.statisticsFullScale();
  Json c;
  c["min"] = scaleValue(r.min, f);
  c["max"] = scaleValue(r.max, f);
  c["minPercent"] = r.min / fullScale * 100.0;
  c["maxPercent"] = r.max / fullScale * 100.0;
  c["minFrame"] = r.minPos;
  c["maxFrame"] = r.maxPos;
  c["minSecond"] = static_cast<double>(r.minPos) / rate;
  c["maxSecond"] = static_cast<double>(r.maxPos) / rate;
  c["averagePercent"] = r.avg * 100.0;
  c["rmsPercent"] = r.rms * 100.0;
  c["peakDbfs"] = dbfs(peak / fullScale);
  c["rmsDbfs"] = dbfs(r.rms);
  c["fullScaleSamples"] = r.fullScale;
  return c;
}

Json channelsJson(const std::vector<ChannelFigures>& figures, const SampleFormat& f, double rate) {
  Json list = Json::array();
  for (const ChannelFigures& r : figures) list.push_back(channelJson(r, f, rate));
  return list;
}

// The factor the modification dialog would use, and as the report's line
// gives it (cut to tenths of the factor, de-emphasised to thousandths); null
// for silence.
Json headroomJson(double peak, double factor, double reportFactor) {
  if (peak == 0) return nullptr;
  Json h;
  h["factor"] = factor;
  h["percent"] = factor * 100.0;
  h["db"] = 20.0 * std::log10(factor);
  h["reportPercent"] = reportFactor * 100.0;
  return h;
}

// Null for a file whose bytes hold no format that could be read.
Json formatJson(const WavHeader& header) {
  if (!header.formatKnown()) return nullptr;
  const WavFormat& f = header.format;
  Json j;
  j["formatTag"] = f.formatTag;
  j["channels"] = f.channels;
  j["sampleRate"] = f.sampleRate;
  j["bitsPerSample"] = f.bitsPerSample;
  if (header.ready()) {
    const SampleFormat s = f.sample();
    j["sampleFormat"] = s.name();
    j["validBitsPerSample"] = s.validBits;
    j["fullScale"] = s.fullScale();
  }
  j["channelMask"] = f.channelMask != 0 ? Json(f.channelMask) : Json(nullptr);
  j["byteOrder"] = f.bigEndian ? "big" : "little";
  j["dataOffset"] = header.layout.dataOffset;
  if (header.findings.dataFound) {
    j["frames"] = header.layout.sampleFrames;
    j["framesInFile"] = header.layout.framesInFile;
    j["trailerBytes"] = header.layout.trailerLength;
    j["seconds"] = f.sampleRate > 0
                       ? Json(static_cast<double>(header.layout.sampleFrames) / f.sampleRate)
                       : Json(nullptr);
  }
  return j;
}

// A stable word for why a file was not analysed, from the header's status
// and the analysis' outcome (the reason's wording may change, this does not).
std::string reasonCode(const WavHeader& header, const AnalysisResult* result) {
  if (std::string code = headerProblemCode(header); !code.empty()) return code;
  if (!result) return "not-analysed";
  switch (result->outcome) {
    case AnalysisResult::Outcome::kNoFrames:
      return "no-samples";
    case AnalysisResult::Outcome::kReadFailed:
      return "read-failed";
    case AnalysisResult::Outcome::kComplete:
      break;
  }
  return "not-analysed";
}

}  // namespace

std::string reportJson(const std::string& path, const WavHeader& header,
                       const AnalysisResult* result, const std::vector<std::string>& warnings,
                       const std::string& reason, const RepairPlan* repair) {
  Json j;
  j["path"] = path;
  j["bytes"] = header.findings.lengthKnown ? Json(header.layout.fileLength) : Json(nullptr);
  j["analysed"] = reason.empty();
  if (!reason.empty()) {
    j["reason"] = reason;
    j["reasonCode"] = reasonCode(header, result);
  }
  j["format"] = formatJson(header);
  j["warnings"] = warnings;
  j["repair"] = repair ? repairChangesJson(*repair) : Json(nullptr);
  if (result && result->complete()) {
    const WavFormat& f = header.format;
    const double rate = static_cast<double>(f.sampleRate);
    const SampleFormat& s = result->sample;
    const double peak = result->peakValue[0];
    const double peakDeemphasised = result->peakValue[1];
    j["channels"] = channelsJson(result->stored, s, rate);
    j["nonFiniteSamples"] = result->nonFiniteSamples;
    j["deemphasis"] = result->deemphasised
                          ? Json{{"channels", channelsJson(result->filtered, s, rate)}}
                          : Json(nullptr);
    j["headroom"] = headroomJson(peak, safeGainFor(s, peak, 0, false), result->volumeLimit());
    j["headroomDeemphasis"] =
        result->deemphasised
            ? headroomJson(peakDeemphasised, safeGainFor(s, 0, peakDeemphasised, true),
                           result->volumeLimitDeemphasis())
            : Json(nullptr);
    j["loudness"] =
        result->loudness ? loudnessJson(loudnessFigures(*result->loudness)) : Json(nullptr);
  }
  // Bytes that are not UTF-8 (a path, an identifier as read) are replaced
  // rather than ending the report.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace ril::cli
