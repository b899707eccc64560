#include "support/analysed_file.h"

#include "core/analysis/analysis_report.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"
#include "support/manual_clock.h"
#include "support/memory_file_system.h"
#include "support/scripted_host.h"

namespace ril::test {

AnalysedFile analyseFile(const std::string& path, FileSystem& fs, int threads, bool loudness) {
  AnalysedFile a;
  HeaderReading reading = readWavFile(fs, path);
  a.header = reading.header;
  a.report = headerReportLines(path, a.header, "\r\n");
  if (!a.header.ready()) return a;
  ScriptedHost host;
  ManualClock clock;
  a.result =
      analyseSamples(*reading.samples, a.header.format, a.header.layout, host, clock, '.', threads,
                     loudness);
  a.report += analysisReportLines(a.result, a.header.format, ReportFormat{});
  return a;
}

AnalysedFile analyseBytes(const std::vector<unsigned char>& file, int threads, bool loudness) {
  MemoryFileSystem fs;
  fs.put("/f.wav", file);
  return analyseFile("/f.wav", fs, threads, loudness);
}

}  // namespace ril::test
