#include "core/repair/repair_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ril {

namespace {

// A whole number from `text`, within [least, most]; false when it is none.
bool wholeNumber(const std::string& text, unsigned long least, unsigned long most,
                 unsigned long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return errno == 0 && value >= least && value <= most;
}

std::vector<std::string> splitAtColons(const std::string& text) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == ':') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace

std::optional<GivenFormat> parseGivenFormat(const std::string& text, std::string& error) {
  const std::vector<std::string> parts = splitAtColons(text);
  GivenFormat f;
  unsigned long rate = 0, channels = 0, bits = 0;
  if ((parts.size() != 3 && parts.size() != 4) || (parts.size() == 4 && parts[3] != "float")) {
    error = "--format needs RATE:CHANNELS:BITS or RATE:CHANNELS:BITS:float, not '" + text + "'";
    return std::nullopt;
  }
  f.isFloat = parts.size() == 4;
  if (!wholeNumber(parts[0], 1, 0x7FFFFFFF, rate)) {
    error = "--format: the sample rate must be a number of Hz from 1, not '" + parts[0] + "'";
  } else if (!wholeNumber(parts[1], 1, 1024, channels)) {
    error = "--format: the channels must be a number from 1 to 1024, not '" + parts[1] + "'";
  } else if (!wholeNumber(parts[2], 1, 64, bits) ||
             (f.isFloat ? bits != 32 && bits != 64 : bits % 8 != 0 || bits > 32)) {
    error = std::string("--format: the bits must be ") +
            (f.isFloat ? "32 or 64" : "8, 16, 24 or 32") + (f.isFloat ? " for float samples" : "") +
            ", not '" + parts[2] + "'";
  } else if (rate * channels * (bits / 8) > 0xFFFFFFFFul) {
    error = "--format: " + text + " gives more bytes a second than a WAV header holds";
  } else {
    f.sampleRate = static_cast<std::uint32_t>(rate);
    f.channels = static_cast<std::uint16_t>(channels);
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
    return f;
  }
  return std::nullopt;
}

std::string givenFormatText(const GivenFormat& f) {
  return groupedNumber(f.sampleRate) + " Hz, " + std::to_string(f.channels) +
         (f.channels == 1 ? " channel, " : " channels, ") + std::to_string(f.bitsPerSample) +
         (f.isFloat ? "-bit float" : "-bit PCM");
}

std::string groupedNumber(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string fieldValueText(const FieldValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return "'" + *text + "'";
  const std::uint64_t n = std::get<std::uint64_t>(value);
  return groupedNumber(n) + (n == 0xFFFFFFFF ? " (0xFFFFFFFF)" : "");
}

std::string changeLine(const FieldChange& c) {
  std::string line = c.field + " at offset " + groupedNumber(c.offset) + ": ";
  const bool text = std::holds_alternative<std::string>(c.after);
  if (!c.before)
    return line + "new, " + (text ? std::get<std::string>(c.after) : fieldValueText(c.after));
  return line + fieldValueText(*c.before) + " -> " + fieldValueText(c.after);
}

std::vector<std::string> planLines(const RepairPlan& plan) {
  switch (plan.verdict) {
    case RepairVerdict::kNothingToRepair:
      return {"nothing to repair"};
    case RepairVerdict::kRefused:
      return {"not repaired: " + plan.refusal};
    case RepairVerdict::kRepair:
      break;
  }
  std::vector<std::string> lines;
  for (const FieldChange& c : plan.changes) lines.push_back(changeLine(c));
  lines.insert(lines.end(), plan.notes.begin(), plan.notes.end());
  return lines;
}

std::string repairReportLine(const RepairPlan& plan, const std::string& lineBreak) {
  if (plan.verdict != RepairVerdict::kRepair || plan.finding.empty()) return {};
  return plan.finding +
         ": it can be repaired (rilmaton-cli repair, or Repair\u2026 in the window)." + lineBreak;
}

}  // namespace ril
