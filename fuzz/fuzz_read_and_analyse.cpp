// Arbitrary bytes as a WAV file, through the header reader and the analysis.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/sample_statistics.h"
#include "app/program_state.h"
#include "platform/clock.h"
#include "platform/memory_file_system.h"
#include "platform/scripted_host.h"
#include "wav/wav_header_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ril::MemoryFileSystem fs;
  fs.put("/in/f.wav", ril::MemoryFileSystem::Bytes(data, data + size));
  ril::ProgramState state;
  ril::initialiseProgramState(state, "/prog/");
  state.filePaths = {"/in/f.wav"};
  state.fileNames = {"f.wav"};
  ril::ScriptedHost view;
  ril::ManualClock clock;
  ril::ReadWavHeader(state, 0, true, fs, view);
  ril::AnalyseSamples(state, view, clock);
  // The report never shows a value that is not a number.
  for (const char* bad : {"nan", "inf", "NaN", "Infinity"})
    if (state.reportText.find(bad) != std::string::npos) std::abort();
  if (state.wavInput) std::abort();  // the analysis always closes its input
  return 0;
}
