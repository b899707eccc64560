#include "cli/report_json.h"

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cli/loudness_json.h"
#include "cli/repair_json.h"
#include "core/modify/volume_policy.h"

namespace ril::cli {

namespace {

using Json = nlohmann::ordered_json;

// 20 log10 of a fraction of full scale; null for 0 (silence has no level).
Json dbfs(double fraction) {
  return fraction > 0 ? Json(20.0 * std::log10(fraction)) : Json(nullptr);
}

Json channelJson(const ChannelStats& r, double rate) {
  const double peak = std::max(std::abs(static_cast<double>(r.min)), std::abs(double(r.max)));
  Json c;
  c["min"] = r.min;
  c["max"] = r.max;
  c["minPercent"] = r.min / 32768.0 * 100.0;
  c["maxPercent"] = r.max / 32768.0 * 100.0;
  c["minFrame"] = r.minPos;
  c["maxFrame"] = r.maxPos;
  c["minSecond"] = static_cast<double>(r.minPos) / rate;
  c["maxSecond"] = static_cast<double>(r.maxPos) / rate;
  c["averagePercent"] = r.avg * 100.0;
  c["rmsPercent"] = r.rms * 100.0;
  c["peakDbfs"] = dbfs(peak / 32768.0);
  c["rmsDbfs"] = dbfs(r.rms);
  c["fullScaleSamples"] = r.fullScale;
  return c;
}

Json channelsJson(const AnalysisResult& result, int channels, double rate, int first) {
  Json list = Json::array();
  for (int c = 0; c < channels; ++c) list.push_back(channelJson(result.records[first + c], rate));
  return list;
}

// The factor the modification dialog would use, and as the report's line
// gives it (cut to tenths of the factor, de-emphasised to thousandths); null
// for silence.
Json headroomJson(std::int32_t peak, double factor, double reportFactor) {
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
  const HeaderFindings& f = header.findings;
  switch (header.status) {
    case HeaderStatus::kUnreadable:
      return "unreadable";
    case HeaderStatus::kEmpty:
      return "empty";
    case HeaderStatus::kNoDataChunk:
      if (!f.waveForm) return "not-wav";
      if (!f.formatChunkFound && !f.unsupportedReason.empty()) return "no-format-chunk";
      return "no-data-chunk";
    case HeaderStatus::kUnsupported:
      return f.waveForm ? "unsupported-format" : "not-wav";
    case HeaderStatus::kReady:
      break;
  }
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
    const int bits = f.bitsPerSample;
    j["channels"] = channelsJson(*result, f.channels, rate, 0);
    j["deemphasis"] = result->deemphasised
                          ? Json{{"channels", channelsJson(*result, f.channels, rate, 2)}}
                          : Json(nullptr);
    j["headroom"] = headroomJson(result->peak[0], safeGain(result->peak[0], 0, bits, false),
                                 result->volumeLimit());
    j["headroomDeemphasis"] =
        result->deemphasised
            ? headroomJson(result->peak[1], safeGain(0, result->peak[1], bits, true),
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
