// Every text a modification shows the user: the question, the notices, the
// failure and refusal messages, the clipped-sample message and the time line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/base/host.h"
#include "core/modify/sample_rewriter.h"
#include "core/wav/wav_header.h"

namespace ril {

struct ModifyResult;

// Asked when the program directory's drive lacks the space for a copy. No is
// the default: the file is overwritten without a copy only when asked for.
Message diskSpaceQuestion(const std::string& appPath, std::uint64_t length, double available);

// After a completed run: where the files are now; `outputPath`, when given,
// is named on a line of its own, and for a float file how many samples ended
// beyond full scale.
Message closingNotice(bool inProgramDir, const std::string& lineBreak,
                      const std::string& outputPath = {},
                      std::optional<std::int64_t> beyondFullScale = std::nullopt);
// "3 samples ended beyond full scale (+-1.0)."
std::string beyondFullScaleLine(std::int64_t samples);

// The one message of a failed run for error `number`; `path` is the file the
// run worked on, `lastValue` the value an overflow did not fit. An overflow,
// an existing P.old and a write-protected file have texts of their own; any
// other number is named in words ("Disk full (error 61)! Modification
// cancelled!"), a number without words as "Unknown error number N".
Message failureMessage(int number, std::int64_t lastValue, const std::string& path);
// The same for a failed run's result: a file that exists names the file
// (P.old, or the output's name in the program directory), and a failure after
// the output had its name says where the files are.
Message failureMessage(const ModifyResult& result, const std::string& path);
// The cause of a failed run as a line of text gives it, in words and number
// (the words of core/base/errors): "disk full (error 61)", an overflow with
// the value that did not fit, 75 as the file being write protected.
std::string failureCause(int number, std::int64_t lastValue);

// Where the files are after a run that failed once its output had its name:
// "a.wav is the modified file and a.wav.old the original".
std::string committedStateText(const ModifyResult& result, const std::string& path);

// Told when a stale P.old (a second name of P) was removed.
Message staleOldNotice(const std::string& path);

// A de-emphasised sample that had to be limited.
Message clipMessage(const Clip& clip);

// The clipped samples of `path` beyond those shown one by one: how many, and
// the first and last of their frames.
Message laterClipsMessage(const std::string& path, std::int64_t count, std::int64_t firstFrame,
                          std::int64_t lastFrame);

// A run that cannot start, with the reason.
Message refusalMessage(const std::string& text);

// Why the file `path` with this header cannot be modified, or nothing.
std::optional<std::string> refusalText(const std::string& path, const WavHeader& header);
std::string factorRefusalText(double factor);
std::string rangesRefusalText();

// "Manipulation time = 1.25 sec."
std::string manipulationTimeLine(double seconds, char decimalSeparator);

}  // namespace ril
