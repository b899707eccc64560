// rilmaton-cli modify: what the modification dialog's Modify does, without windows.
#include <signal.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_view.h"
#include "cli/commands.h"
#include "core/analysis/sample_statistics.h"
#include "core/base/clock.h"
#include "core/base/number_format.h"
#include "core/io/files.h"
#include "core/modify/modification_engine.h"
#include "core/program_state.h"
#include "core/wav/wav_header_reader.h"

namespace ril::cli {

namespace {

const char* kModifyUsage =
    "Usage: rilmaton-cli modify [--deemphasis] [--maximize | --volume PERCENT]\n"
    "                           [--output OUT | --in-place] FILE\n"
    "\n"
    "Analyses FILE, then rewrites its samples as the modification dialog's Modify does:\n"
    "every byte outside the sample data stays as it is, and the file keeps its length.\n"
    "\n"
    "  --deemphasis       apply the de-emphasis filter (44100 Hz files only)\n"
    "  --maximize         raise the volume to the largest factor that does not clip\n"
    "  --volume PERCENT   change the volume by PERCENT (steps of 0.1, 0 to 1000), held\n"
    "                     at or below the largest factor that does not clip\n"
    "  --output OUT       write the result to OUT; FILE stays as it is\n"
    "  --in-place         overwrite FILE\n"
    "\n"
    "Without --output or --in-place, FILE is kept as FILE.old and the result is written\n"
    "under FILE's name; when FILE's drive lacks the space for a copy you are asked\n"
    "whether to overwrite FILE instead (answered No when there is no terminal to ask).\n"
    "\n"
    "Clipping messages and failures go to stderr. Exit status: 0 modified (or nothing to\n"
    "do), 1 not modified, 2 usage error.\n";

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
  interrupted = true;
}

int usageError(const std::string& what) {
  std::fprintf(stderr, "rilmaton-cli modify: %s\n\n%s", what.c_str(), kModifyUsage);
  return 2;
}

// The dialog as the engine sees it: chkEmph fixed, progress on a terminal.
class CliModifyView : public ModifyView {
 public:
  explicit CliModifyView(bool emphasis) : emphasis_(emphasis), bar_(::isatty(2) == 1) {}
  bool emphasisChecked() override { return emphasis_; }
  void yieldToEvents() override {}
  void setCaption(const std::string& caption) override {
    if (!bar_) return;
    const std::string prefix = "Progress ";
    if (caption.compare(0, prefix.size(), prefix) == 0) {
      int percent = std::atoi(caption.c_str() + prefix.size());
      int filled = std::clamp(percent, 0, 100) * 40 / 100;
      std::fprintf(stderr, "\r%s [%s%s]", caption.c_str(), std::string(filled, '#').c_str(),
                   std::string(40 - filled, '.').c_str());
      shown_ = true;
    } else if (shown_) {
      std::fprintf(stderr, "\r%60s\r", "");
      shown_ = false;
    }
    std::fflush(stderr);
  }
  void clearBar() {
    if (shown_) setCaption("");
  }

 private:
  bool emphasis_;
  bool bar_;
  bool shown_ = false;
};

// Message boxes as lines: the closing notice on stdout, everything else on stderr.
class CliMessages : public MessageHost {
 public:
  explicit CliMessages(CliModifyView& view) : view_(view) {}
  MsgAnswer show(const Message& message) override {
    if (trial && message.title == "Error:") {
      clipSeen = true;  // the trial ends; the run that counts shows the message
      return MsgAnswer::kOk;
    }
    return print(message);
  }

  bool trial = false;  // clipping messages end the run unseen
  bool clipSeen = false;

 private:
  MsgAnswer print(const Message& message) {
    view_.clearBar();
    std::string text = toUnixLines(message.text);
    std::string title = message.title;
    if (!title.empty() && title.back() != ':') title += ':';
    if (message.buttons != MsgButtons::kYesNo) {
      std::fprintf(message.title == "Info:" ? stdout : stderr, "%s %s\n", title.c_str(),
                   text.c_str());
      return MsgAnswer::kOk;
    }
    std::fprintf(stderr, "%s %s\n", title.c_str(), text.c_str());
    if (::isatty(0) != 1 || ::isatty(2) != 1) {
      std::fputs("No terminal to answer the question: answered No (use --in-place or --output).\n",
                 stderr);
      return MsgAnswer::kNo;
    }
    std::fputs("[Y/n] ", stderr);
    std::fflush(stderr);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return MsgAnswer::kNo;
    char c = line[0];
    if (c == '\n' || c == 'y' || c == 'Y') return MsgAnswer::kYes;
    return MsgAnswer::kNo;
  }

  CliModifyView& view_;
};

// The main window's report view; what the engine appends is printed at once.
class ModifyMainView : public CliView {
 public:
  void setReportText(const std::string& text) override {
    std::string old = reportViewText();
    if (echo && text.compare(0, old.size(), old) == 0) {
      std::string added = toUnixLines(text.substr(old.size()));
      while (!added.empty() && added.front() == '\n') added.erase(0, 1);
      std::fputs(added.c_str(), stdout);
      std::fflush(stdout);
    }
    CliView::setReportText(text);
  }
  bool echo = false;
};

// Smallest and largest unsigned byte, and smallest and largest signed 16-bit
// little-endian word, of a block.
std::pair<std::uint8_t, std::uint8_t> byteRange(const unsigned char* p, std::size_t n) {
  std::uint8_t lo = 255, hi = 0;
  std::size_t k = 0;
#if defined(__SSE2__)
  __m128i vlo = _mm_set1_epi8(static_cast<char>(0xFF)), vhi = _mm_setzero_si128();
  for (; k + 16 <= n; k += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    vlo = _mm_min_epu8(vlo, v);
    vhi = _mm_max_epu8(vhi, v);
  }
  alignas(16) std::uint8_t l[16], h[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(l), vlo);
  _mm_store_si128(reinterpret_cast<__m128i*>(h), vhi);
  for (int i = 0; i < 16; ++i) {
    lo = std::min(lo, l[i]);
    hi = std::max(hi, h[i]);
  }
#endif
  for (; k < n; ++k) {
    lo = std::min(lo, p[k]);
    hi = std::max(hi, p[k]);
  }
  return {lo, hi};
}

std::pair<std::int16_t, std::int16_t> wordRange(const unsigned char* p, std::size_t n) {
  std::int16_t lo = 32767, hi = -32768;
  std::size_t k = 0;
#if defined(__SSE2__)
  __m128i vlo = _mm_set1_epi16(32767), vhi = _mm_set1_epi16(-32768);
  for (; k + 8 <= n; k += 8) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k));
    vlo = _mm_min_epi16(vlo, v);
    vhi = _mm_max_epi16(vhi, v);
  }
  alignas(16) std::int16_t l[8], h[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(l), vlo);
  _mm_store_si128(reinterpret_cast<__m128i*>(h), vhi);
  for (int i = 0; i < 8; ++i) {
    lo = std::min(lo, l[i]);
    hi = std::max(hi, h[i]);
  }
#endif
  for (; k < n; ++k) {
    std::int16_t v;
    std::memcpy(&v, p + 2 * k, 2);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return {lo, hi};
}

// peakLevel[0] as the analysis finds it, from the smallest and largest sample
// alone: the largest magnitude on the 16-bit scale, -32768 counting as -32767.
// A volume change needs nothing else of the analysis.
std::int32_t originalPeak(FileSystem& fs, const ProgramState& state) {
  auto input = fs.openRead(state.filePaths[0]);
  const std::uint64_t offset = static_cast<std::uint64_t>(state.dataOffset);
  if (input->skip(offset) != offset) return 0;
  const bool eightBit = state.bitsPerSample == 8;
  std::uint64_t left = static_cast<std::uint64_t>(state.framesInFile) *
                       static_cast<std::uint64_t>(state.frameBytes());
  std::vector<unsigned char> buffer(1 << 20);
  int low = eightBit ? 255 : 32767;
  int high = eightBit ? 0 : -32768;
  while (left > 0) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
    std::size_t got = input->read(buffer.data(), want);
    if (eightBit) {
      auto [lo, hi] = byteRange(buffer.data(), got);
      low = std::min<int>(low, lo);
      high = std::max<int>(high, hi);
    } else {
      auto [lo, hi] = wordRange(buffer.data(), got / 2);
      low = std::min<int>(low, lo);
      high = std::max<int>(high, hi);
    }
    if (got < want) break;
    left -= got;
  }
  input->close();
  if (eightBit) {
    low = (low - 128) * 256;
    high = (high - 128) * 256;
  }
  return std::max({0, high, -std::max(low, -32767)});
}

// PERCENT in tenths of a percent; false when it is not a number.
bool parsePercent(const std::string& text, long long& tenths, bool& rounded) {
  if (text.empty()) return false;
  char* end = nullptr;
  double percent = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(percent)) return false;
  double scaled = std::nearbyint(percent * 10.0);
  if (std::fabs(scaled) > 1e9) scaled = std::copysign(1e9, scaled);
  rounded = std::fabs(scaled - percent * 10.0) > 1e-6;
  tenths = static_cast<long long>(scaled);
  return true;
}

std::string percentText(long long tenths) {
  return formatGeneral(static_cast<float>(tenths) / 10.0f) + "%";
}

}  // namespace

int runModifyCommand(int argc, char** argv) {
  bool deemphasis = false;
  bool maximize = false;
  bool haveVolume = false;
  long long tenths = 1000;
  bool percentRounded = false;
  std::string output;
  bool haveOutput = false;
  bool inPlace = false;
  std::string file;
  bool optionsDone = false;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && (a == "--help" || a == "-h")) {
      std::fputs(kModifyUsage, stdout);
      return 0;
    } else if (!optionsDone && a == "--deemphasis") {
      deemphasis = true;
    } else if (!optionsDone && a == "--maximize") {
      maximize = true;
    } else if (!optionsDone && a == "--in-place") {
      inPlace = true;
    } else if (!optionsDone && (a == "--volume" || a.rfind("--volume=", 0) == 0)) {
      std::string value;
      if (a == "--volume") {
        if (i + 1 >= argc) return usageError("--volume needs a PERCENT");
        value = argv[++i];
      } else {
        value = a.substr(9);
      }
      if (!parsePercent(value, tenths, percentRounded)) {
        return usageError("--volume needs a number, not '" + value + "'");
      }
      haveVolume = true;
    } else if (!optionsDone && (a == "--output" || a.rfind("--output=", 0) == 0)) {
      if (a == "--output") {
        if (i + 1 >= argc) return usageError("--output needs a file name");
        output = argv[++i];
      } else {
        output = a.substr(9);
      }
      if (output.empty()) return usageError("--output needs a file name");
      haveOutput = true;
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return usageError("unknown option '" + a + "'");
    } else if (file.empty()) {
      file = a;
    } else {
      return usageError("one FILE at a time");
    }
  }
  if (file.empty()) return usageError("no FILE given");
  if (maximize && haveVolume) return usageError("--maximize and --volume exclude each other");
  if (haveOutput && inPlace) return usageError("--output and --in-place exclude each other");

  FileSystem& fs = realFileSystem();
  ProgramState state;
  std::string appPath = directoryOf(file);
  initialiseProgramState(state, appPath.empty() ? "./" : appPath);
  state.filePaths = {file};
  state.fileNames = {baseNameOf(file)};
  state.lastFileIndex = 0;
  ModifyMainView mainView;
  ReadWavHeader(state, 0, true, fs, mainView);
  if (state.headerStatus == HeaderStatus::kUnreadable) {
    std::fprintf(stderr, "rilmaton-cli modify: cannot read %s\n", file.c_str());
    return 1;
  }
  if (deemphasis && state.sampleRate != 44100) {
    std::fprintf(stderr,
                 "rilmaton-cli modify: de-emphasis is offered for 44100 Hz files only; %s is at "
                 "%d Hz\n",
                 file.c_str(), static_cast<int>(state.sampleRate));
    return 1;
  }

  // The scroll bar: 0 to 10000 tenths, then held at or below maxGain.
  if (percentRounded) {
    std::fprintf(stderr, "note: volume taken as %s (steps of 0.1%%)\n",
                 percentText(tenths).c_str());
  }
  if (tenths < 0 || tenths > 10000) {
    tenths = tenths < 0 ? 0 : 10000;
    std::fprintf(stderr, "note: volume limited to %s (range 0%% to 1000%%)\n",
                 percentText(tenths).c_str());
  }
  // maxGain as the dialog derives it: uncut on loading, cut once "apply
  // De-emphasis" is ticked. True when it holds the volume down.
  auto gainFor = [&](const ProgramState& analysed) {
    return deemphasis ? maximumGain(analysed.peakLevel[1], analysed.bitsPerSample, true)
                      : maximumGain(analysed.peakLevel[0], analysed.bitsPerSample, false);
  };
  auto holdsDown = [&](double gain) {
    return !maximize && static_cast<float>(gain) < static_cast<float>(tenths) / 1000.0f;
  };
  auto limitVolume = [&](double gain) {
    if (!holdsDown(gain)) return;
    // As the scroll bar: maxGain x 1000 to the nearest tenth of a percent, but
    // never above maxGain, where the loudest sample would overflow.
    tenths = static_cast<long long>(std::nearbyint(gain * 1000.0));
    if (static_cast<double>(tenths) / 1000.0 > gain) --tenths;
    std::fprintf(stderr, "note: volume limited to %s, the largest change without clipping\n",
                 percentText(tenths).c_str());
  };

  // A volume change needs only the loudest sample. With de-emphasis maxGain
  // comes from the filtered samples, which the analysis gives. Into a file of
  // its own (--output) the modification is tried at once instead, following
  // the report's filter alongside: the trial counts when nothing clipped and
  // the filtered peak leaves the volume as asked. Otherwise it is thrown away
  // and the analysis runs, then the run that counts.
  const bool ready = state.headerStatus == HeaderStatus::kReady && state.framesInFile > 0;
  const bool trial = deemphasis && !maximize && haveOutput && ready;
  auto analyse = [&] {
    if (AnalyseSamples(state, mainView, steadyClock()) || !ready) return true;
    // The report's last line says what could not be read.
    std::string report = toUnixLines(state.reportText);
    while (!report.empty() && report.back() == '\n') report.pop_back();
    std::fprintf(stderr, "rilmaton-cli modify: %s\n",
                 report.substr(report.rfind('\n') + 1).c_str());
    return false;
  };
  double maxGain = 1.0;
  if (!deemphasis) {
    state.wavInput.reset();
    if (ready) state.peakLevel[0] = originalPeak(fs, state);
  } else if (!trial && !analyse()) {
    return 1;
  }
  if (!trial) {
    maxGain = gainFor(state);
    limitVolume(maxGain);
  }

  ModifyRequest request;
  request.chkVolume = maximize ? 1 : 0;
  request.hsbVolume = static_cast<int>(tenths);
  request.maxGain = maxGain;

  CliModifyView dialog(deemphasis);
  CliMessages messages(dialog);
  ModifyServices services{
      fs, steadyClock(), messages, dialog, mainView, PlacementMode::kProgramDirectory, {}, {}, '.'};
  if (haveOutput) {
    services.placement = PlacementMode::kExplicitOutput;
    services.explicitOutput = output;
  } else if (inPlace) {
    services.placement = PlacementMode::kInPlace;
  }
  services.exitRequested = [] { return interrupted.load(); };
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  struct sigaction oldInt {
  }, oldTerm{};
  sigaction(SIGINT, &action, &oldInt);
  sigaction(SIGTERM, &action, &oldTerm);

  mainView.echo = true;
  FilteredRange range;
  std::function<bool()> beforeCommit;
  if (trial) {
    messages.trial = true;
    services.filteredRange = &range;
    services.exitRequested = [&] { return interrupted.load() || messages.clipSeen; };
    beforeCommit = [&] {
      if (!range.complete || messages.clipSeen) return false;
      // peakLevel[1] as the analysis finds it (-32768 counting as -32767).
      std::int32_t peak = 0;
      for (int c = 0; c < state.channels; ++c) {
        peak = std::max({peak, range.max[c], -std::max(range.min[c], -32767)});
      }
      state.peakLevel[1] = peak;
      return !holdsDown(gainFor(state));
    };
  }
  ModifyResult result = runModificationDetailed(state, request, services, beforeCommit);
  if (trial) {
    messages.trial = false;
    services.filteredRange = nullptr;
    services.exitRequested = [] { return interrupted.load(); };
    if (result.outcome == ModifyOutcome::kAbandoned && !interrupted.load()) {
      dialog.clearBar();
      if (analyse()) {
        maxGain = gainFor(state);
        limitVolume(maxGain);
        request.hsbVolume = static_cast<int>(tenths);
        request.maxGain = maxGain;
        result = runModificationDetailed(state, request, services);
      } else {
        result.outcome = ModifyOutcome::kFailed;
      }
    }
    state.wavInput.reset();
  }
  dialog.clearBar();

  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);

  switch (result.outcome) {
    case ModifyOutcome::kNothingToDo:
      std::fputs("Nothing to do: volume 100% without de-emphasis leaves the file as it is.\n",
                 stderr);
      return 0;
    case ModifyOutcome::kCompleted: {
      if (result.clippedSamples > 0) {
        std::fprintf(stderr, "%lld samples clipped\n",
                     static_cast<long long>(result.clippedSamples));
      }
      if (!result.inProgramDir) std::fprintf(stdout, "Written: %s\n", result.outputName.c_str());
      return 0;
    }
    case ModifyOutcome::kDeclined:
      std::fprintf(stderr, "%s not modified.\n", file.c_str());
      return 1;
    case ModifyOutcome::kAbandoned:
      std::fprintf(stderr, "Interrupted: %s left as it was.\n", file.c_str());
      return 1;
    case ModifyOutcome::kFailed:
    case ModifyOutcome::kRefused:
      return 1;
  }
  return 1;
}

}  // namespace ril::cli
