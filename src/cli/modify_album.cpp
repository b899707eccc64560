#include "cli/modify_album.h"

#include <cstdio>

#include "cli/file_runs.h"
#include "cli/terminal.h"
#include "core/analysis/analysis.h"
#include "core/base/clock.h"
#include "core/base/number_format.h"
#include "core/io/files.h"
#include "core/modify/loudness_normalisation.h"
#include "core/modify/volume_policy.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"

namespace ril::cli {

namespace {

// What the album needs of one file: the factor its dialog would use.
struct AlbumTrack {
  bool analysed = false;
  bool silent = false;  // stays silence under any factor: it limits nothing
  double gain = 0;
};

// Why an album's file cannot be analysed, or "".
std::string albumTrackProblem(const WavHeader& h, bool deemphasis) {
  std::string problem = headerProblem(h);
  if (problem.empty() && !h.hasFrames()) problem = "the data chunk holds no samples";
  if (problem.empty() && deemphasis && h.format.sampleRate != 44100) {
    problem = "de-emphasis is offered for 44100 Hz files only; it is at " +
              std::to_string(h.format.sampleRate) + " Hz";
  }
  return problem;
}

void sayProblem(const std::string& file, const std::string& problem) {
  std::fprintf(errStream(), "rilmaton-cli modify: %s: %s\n", shownName(file).c_str(),
               problem.c_str());
}

AlbumTrack analyseAlbumTrack(const std::string& file, bool deemphasis) {
  AlbumTrack track;
  HeaderReading reading = readWavFile(realFileSystem(), file);
  const WavHeader& h = reading.header;
  std::string problem = albumTrackProblem(h, deemphasis);
  if (problem.empty()) {
    SilentProgress silent;
    const AnalysisResult r =
        analyseSamples(*reading.samples, h.format, h.layout, silent, steadyClock(), '.', 1, false);
    if (r.complete()) {
      track.analysed = true;
      track.silent = chosenPeak(r.peakValue[0], r.peakValue[1], deemphasis) == 0;
      track.gain = safeGainFor(h.format.sample(), r.peakValue[0], r.peakValue[1], deemphasis);
      return track;
    }
    problem = r.failure.empty() ? std::string("the samples could not all be read") : r.failure;
  }
  sayProblem(file, problem);
  return track;
}

// Analyses every file and sets the album's factor, the smallest of theirs;
// the exit status of a failure, or -1.
int chooseAlbumFactor(const std::vector<std::string>& files, unsigned jobs, bool deemphasis,
                      AlbumSetting& album) {
  std::vector<AlbumTrack> tracks(files.size());
  const int status = combinedStatus(runEach(files.size(), jobs, true, [&](std::size_t i) {
    tracks[i] = analyseAlbumTrack(files[i], deemphasis);
    return tracks[i].analysed ? 0 : 1;
  }));
  if (status != 0) {
    std::fputs("rilmaton-cli modify: no file modified: the album's factor needs every file.\n",
               stderr);
    return status;
  }
  std::size_t limiting = files.size();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!tracks[i].silent && (limiting == files.size() || tracks[i].gain < tracks[limiting].gain)) {
      limiting = i;
    }
  }
  if (limiting == files.size()) {
    album.gain = 1.0;
    std::printf("Album factor: 1 (100%%): every file is silent.\n");
  } else {
    album.gain = tracks[limiting].gain;
    std::printf("Album factor: %.6f (%.1f%%), limited by %s\n", *album.gain, *album.gain * 100.0,
                shownName(files[limiting]).c_str());
  }
  std::fflush(stdout);
  return -1;
}

// Measures every file's loudness and sets the album's volume from their
// loudness gated together; the exit status of a failure, or -1.
int chooseAlbumLoudness(const std::vector<std::string>& files, unsigned jobs,
                        const ModifyOptions& o, AlbumSetting& album) {
  std::vector<LoudnessMeasurement> measured(files.size());
  const int status = combinedStatus(runEach(files.size(), jobs, true, [&](std::size_t i) {
    HeaderReading reading = readWavFile(realFileSystem(), files[i]);
    const WavHeader& h = reading.header;
    std::string problem = albumTrackProblem(h, o.deemphasis);
    if (problem.empty()) {
      measured[i] = measureLoudness(*reading.samples, h.format, h.layout, o.deemphasis, 1);
      problem = measured[i].failure;
    }
    if (problem.empty()) return 0;
    sayProblem(files[i], problem);
    return 1;
  }));
  std::vector<const LoudnessTrace*> traces;
  for (const LoudnessMeasurement& m : measured) traces.push_back(&m.trace);
  const ProgrammeLoudness p = programmeLoudness(traces);
  if (status != 0) {
    std::fputs("rilmaton-cli modify: no file modified: the album's loudness needs every file.\n",
               stderr);
    return status;
  }
  if (!p.integratedLufs.value) {
    std::fprintf(stderr,
                 "rilmaton-cli modify: no file modified: the album has no loudness to "
                 "normalise to: %s.\n",
                 p.integratedLufs.reason.c_str());
    return 1;
  }
  const LoudnessGain g =
      loudnessGain(*p.integratedLufs.value, p.truePeakDbtp, o.targetLufs, o.truePeakLimit);
  std::printf("Album loudness: %s LUFS\n%s\n",
              formatNumber(*p.integratedLufs.value, "0.00").c_str(),
              loudnessGainLine(g, o.truePeakLimit).c_str());
  std::fflush(stdout);
  album.tenths = g.tenths;
  return -1;
}

}  // namespace

int chooseAlbum(const std::vector<std::string>& files, unsigned jobs, const ModifyOptions& o,
                AlbumSetting& album) {
  return o.loudness ? chooseAlbumLoudness(files, jobs, o, album)
                    : chooseAlbumFactor(files, jobs, o.deemphasis, album);
}

}  // namespace ril::cli
