#include "core/wav/header_report.h"

#include <cmath>

#include "core/base/errors.h"
#include "core/base/number_format.h"

namespace ril {

namespace {

std::string readErrorLine(const HeaderFindings& f) {
  return "Cannot read the file: " + readErrorWords(f) + " (error " +
         std::to_string(f.readErrorNumber) + ")";
}

// Minutes and whole seconds; seconds that round up to 60 carry into the
// minutes (59.6 s is 01:00).
std::string playingTime(const WavHeader& h) {
  const double s = static_cast<double>(h.layout.sampleFrames) / h.format.sampleRate;
  double m = std::floor(s / 60);
  double rest = s - m * 60;
  if (formatNumber(rest, "00") == "60") {
    m += 1;
    rest = 0;
  }
  return formatNumber(m, "00:") + formatNumber(rest, "00") + " (Min:Sec)";
}

// A layout the speaker mask names, or nothing.
std::string layoutName(int channels, std::uint32_t mask) {
  struct Named {
    int channels;
    std::uint32_t mask;
    const char* name;
  };
  static constexpr Named kLayouts[] = {
      {3, 0x7, "3.0"},    {3, 0xB, "2.1"},   {4, 0x33, "Quad"}, {4, 0x107, "4.0"},
      {4, 0x603, "Quad"}, {5, 0x37, "5.0"},  {5, 0x607, "5.0"}, {6, 0x3F, "5.1"},
      {6, 0x60F, "5.1"},  {7, 0x13F, "6.1"}, {7, 0x70F, "6.1"}, {8, 0x63F, "7.1"},
      {8, 0xFF, "7.1"},
  };
  for (const Named& l : kLayouts) {
    if (l.channels == channels && l.mask == mask) return l.name;
  }
  return {};
}

// "2 (Stereo)", "6 (5.1)" when the mask names that layout, or the bare number.
std::string channelsText(const WavFormat& format) {
  const std::string n = std::to_string(format.channels);
  if (format.channels == 1) return n + " (Mono)";
  if (format.channels == 2) return n + " (Stereo)";
  const std::string name = layoutName(format.channels, format.channelMask);
  return name.empty() ? n : n + " (" + name + ")";
}

// "16 bit" as the header gives it; the format's own words once it is known.
std::string resolutionText(const WavHeader& h) {
  const WavFormat& format = h.format;
  if (h.status == HeaderStatus::kReady && !format.classic()) return format.sample().words();
  return std::to_string(format.bitsPerSample) + " bit";
}

// ---- the findings, each a sentence with the bytes or value behind it last --

std::string notWavFinding(const HeaderFindings& f) {
  const std::string what =
      f.lookalike.empty()
          ? "This is not a WAV file: it does not begin with a RIFF, RF64 or RIFX header of form "
            "WAVE."
          : "This is not a WAV file but " + f.lookalike + ".";
  return what + " (" + f.riffId + " " + f.formAndFirstChunk + ")";
}

// A chunk other than the format chunk right behind "WAVE".
std::string firstChunkFinding(const HeaderFindings& f) {
  const std::string id = f.formAndFirstChunk.substr(4);
  const std::string raw = " (" + f.formAndFirstChunk + ")";
  if (!f.formatChunkFound) {
    return "There is no format chunk: a '" + id +
           "' chunk stands where it belongs, and none follows, so the sample format is unknown." +
           raw;
  }
  std::string why;
  if (id == "bext") why = ", as in broadcast WAV files";
  if (id == "JUNK" || id == "junk" || id == "PAD ") why = ", keeping room for a larger header";
  if (id == "LIST") why = ", with tags such as the title";
  if (id == "ds64") {
    return "The sizes of this RF64 file are in a 'ds64' chunk before the format chunk; the file "
           "is read correctly." +
           raw;
  }
  return "A '" + id + "' chunk comes before the format chunk" + why +
         "; the file is read correctly." + raw;
}

std::string formatTagFinding(std::int16_t tag) {
  std::string what;
  switch (tag) {
    case -2:
      what = "The format is extensible but does not name PCM samples.";
      break;
    default:
      what = "The samples are coded in another way than PCM.";
      break;
  }
  return what + " (format tag " + std::to_string(tag) + ")";
}

}  // namespace

std::string readErrorWords(const HeaderFindings& f) {
  return f.readErrorDetail.empty() ? errorDescription(f.readErrorNumber) : f.readErrorDetail;
}

std::string headerReportLines(const std::string& path, const WavHeader& h,
                              const std::string& lineBreak) {
  const HeaderFindings& f = h.findings;
  const WavFormat& format = h.format;
  std::string text;
  auto line = [&](const std::string& s) { text += s + lineBreak; };

  line("Filename:\t" + path);
  if (f.lengthKnown) {
    line("Filelength:\t" +
         formatNumber(static_cast<double>(h.layout.fileLength) / 1024 / 1024, "0.000 MB"));
  }
  // A file of another kind shows no lines made from bytes that are no format;
  // the reason line below says what it is.
  if (f.formatRead && f.waveForm) {
    if (f.riffIdWrong) line(f.riffId);
    if (f.riffSizeWrong) line(std::to_string(f.riffSize));
  }
  if (h.formatKnown()) {
    line("Nr of channels:\t" + channelsText(format));
    line("Sample frequ.:\t" + std::to_string(format.sampleRate) + " Hz");
    line("Resolution:\t" + resolutionText(h));
    if (f.byteRateWrong) line(std::to_string(f.byteRate));
    if (f.blockAlignWrong) line(std::to_string(f.blockAlign));
  }
  if (f.readErrorNumber != 0) {
    line(readErrorLine(f));
    return text;
  }
  if (h.status == HeaderStatus::kNoDataChunk && f.waveForm) line("No data chuk found!");
  if (f.dataFound && h.formatKnown() && format.channels > 0 && format.bitsPerSample > 0 &&
      format.sampleRate > 0) {
    line("Length of file:\t" + playingTime(h));
  }
  if (!f.unsupportedReason.empty()) line("This file cannot be analysed: " + f.unsupportedReason);
  return text;
}

std::string headerProblem(const WavHeader& h) {
  const HeaderFindings& f = h.findings;
  switch (h.status) {
    case HeaderStatus::kReady:
      return {};
    case HeaderStatus::kUnreadable:
      return f.readErrorNumber != 0 ? readErrorLine(f) : "Cannot read the file.";
    case HeaderStatus::kEmpty:
      return "The file is empty.";
    case HeaderStatus::kNoDataChunk:
    case HeaderStatus::kUnsupported:
      break;
  }
  if (!f.unsupportedReason.empty()) return "This file cannot be analysed: " + f.unsupportedReason;
  return "No data chuk found!";
}

std::string headerProblemCode(const WavHeader& header) {
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
  return {};
}

std::vector<std::string> headerWarnings(const WavHeader& h) {
  const HeaderFindings& f = h.findings;
  std::vector<std::string> lines;
  if (!f.formatRead) return lines;
  if (!f.waveForm) return {notWavFinding(f)};
  if (f.formAndFirstChunkWrong) lines.push_back(firstChunkFinding(f));
  if (!h.formatKnown()) return lines;
  if (f.fmtChunkLength < 16) {
    lines.push_back(
        "The format chunk is shorter than the 16 bytes a format needs; its last fields are "
        "taken from the bytes behind it. (format chunk of " +
        std::to_string(f.fmtChunkLength) + " bytes)");
  }
  // Float, A-law and mu-law samples are read; other codings are named here.
  if (!f.unsupportedReason.empty() && h.format.encoding == SampleEncoding::kPcm &&
      h.format.formatTag != 1 && !f.extensiblePcm) {
    lines.push_back(formatTagFinding(h.format.formatTag));
  }
  return lines;
}

}  // namespace ril
