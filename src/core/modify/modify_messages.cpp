#include "core/modify/modify_messages.h"

#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/modify/modification_run.h"

namespace ril {

Message diskSpaceQuestion(const std::string& appPath, std::uint64_t length, double available) {
  Message m;
  m.kind = MessageKind::kQuestion;
  m.title = "Warning";
  m.text = "Not enough discspace available to create copy of file in " + appPath + " (" +
           std::to_string(length) + " bytes required, but only " + formatNumber(available, "0") +
           " bytes available)!" + "\r\n" + "Do you want to overwrite the existing file?";
  m.defaultAnswer = Answer::kNo;
  return m;
}

std::string beyondFullScaleLine(std::int64_t samples) {
  return std::to_string(samples) + (samples == 1 ? " sample" : " samples") +
         " ended beyond full scale (+-1.0).";
}

Message closingNotice(bool inProgramDir, const std::string& lineBreak,
                      const std::string& outputPath, std::optional<std::int64_t> beyondFullScale) {
  Message m;
  m.kind = MessageKind::kInformation;
  m.title = "Info:";
  if (inProgramDir) {
    m.text = std::string("The original file is stored with additional extension .old.") +
             (lineBreak.empty() ? "\r\n" : lineBreak) +
             "The modified file is stored under the original filename in the program directory!";
  } else {
    m.text = "The original file is overwritten with the modified one!";
  }
  if (!outputPath.empty()) m.text += (lineBreak.empty() ? "\r\n" : lineBreak) + outputPath;
  if (beyondFullScale) {
    m.text += (lineBreak.empty() ? "\r\n" : lineBreak) + beyondFullScaleLine(*beyondFullScale);
  }
  return m;
}

Message failureMessage(int number, std::int64_t lastValue, const std::string& path) {
  Message m;
  m.kind = MessageKind::kWarning;
  m.title = "Warning";
  switch (number) {
    case kErrOverflow:
      m.text = "Overflow (last value " + formatNumber(static_cast<double>(lastValue), "0") +
               "! Modification cancelled!";
      break;
    case kErrFileExists:
      m.text = "File " + path + ".old already exists! Modification cancelled!";
      break;
    case kErrPathFileAccess:
      m.text = "File " + path + " is write protected! Modification cancelled!";
      break;
    default:
      m.text = (hasErrorWords(number) ? errorCause(number)
                                      : "Unknown error number " + std::to_string(number)) +
               "! Modification cancelled!";
      break;
  }
  return m;
}

std::string failureCause(int number, std::int64_t lastValue) {
  if (number == kErrOverflow) {
    return "overflow (error 6): a sample came to " + std::to_string(lastValue) +
           ", beyond what the file's samples hold";
  }
  if (number == kErrPathFileAccess) return "write protected or not accessible (error 75)";
  return errorCause(number, true);
}

Message failureMessage(const ModifyResult& result, const std::string& path) {
  if (result.committed) {
    Message m = failureMessage(kErrInternal, 0, path);
    m.text = committedStateText(result, path) + ", but " + result.errorDetail + " (error " +
             std::to_string(result.errorNumber) + ")!";
    return m;
  }
  Message m = failureMessage(result.errorNumber, result.lastValue, path);
  if (result.errorNumber == kErrFileExists && !result.errorDetail.empty()) {
    m.text = "File " + result.errorDetail + " already exists! Modification cancelled!";
  }
  return m;
}

std::string committedStateText(const ModifyResult& result, const std::string& path) {
  if (result.inProgramDir && result.outputName == path) {
    return path + " is the modified file and " + path + ".old the original";
  }
  if (result.inProgramDir) {
    return result.outputName + " is the modified file and " + path + ".old the original";
  }
  return result.outputName + " is the modified file and " + path + " is as it was";
}

Message staleOldNotice(const std::string& path) {
  Message m;
  m.kind = MessageKind::kInformation;
  m.title = "Info:";
  m.text = path + ".old was a second name of " + path +
           ", left by a run that was interrupted; it is removed.";
  return m;
}

Message clipMessage(const Clip& clip) {
  Message m;
  m.kind = MessageKind::kError;
  m.title = "Error:";
  m.text = "Error at sample " + std::to_string(clip.frame) + "! Calculated value of " +
           std::to_string(clip.value) + " limited to " + std::to_string(clip.limit) + "!";
  return m;
}

Message laterClipsMessage(const std::string& path, std::int64_t count, std::int64_t firstFrame,
                          std::int64_t lastFrame) {
  Message m;
  m.kind = MessageKind::kError;
  m.title = "Error:";
  m.text = "Another " + std::to_string(count) + (count == 1 ? " sample" : " samples") + " of " +
           path + (count == 1 ? " was" : " were") + " limited, the first at sample " +
           std::to_string(firstFrame) + ", the last at sample " + std::to_string(lastFrame) + "!";
  return m;
}

Message refusalMessage(const std::string& text) {
  Message m;
  m.kind = MessageKind::kWarning;
  m.title = "Warning";
  m.text = text;
  return m;
}

std::optional<std::string> refusalText(const std::string& path, const WavHeader& header) {
  if (path.empty()) return "No file is chosen; nothing can be modified!";
  switch (header.status) {
    case HeaderStatus::kReady:
      break;
    case HeaderStatus::kUnreadable:
      return "File " + path + " could not be read! Modification cancelled!";
    case HeaderStatus::kEmpty:
      return "File " + path + " is empty! Modification cancelled!";
    case HeaderStatus::kNoDataChunk:
      return "File " + path + " has no data chunk! Modification cancelled!";
    case HeaderStatus::kUnsupported:
      return "File " + path + " holds no samples in a format that can be read! Modification " +
             "cancelled!";
  }
  if (!header.format.sample().modifiable()) {
    return "File " + path + " holds " + header.format.sample().words() +
           " samples, which are analysed but never modified: a companded format cannot store "
           "a changed volume without losing more than the change! Modification cancelled!";
  }
  if (header.layout.framesInFile <= 0) {
    return "File " + path + " holds no sample frames! Modification cancelled!";
  }
  return std::nullopt;
}

std::string factorRefusalText(double factor) {
  return "A volume factor of " + formatNumber(factor, "0.000") +
         " cannot be applied! Modification cancelled!";
}

std::string rangesRefusalText() {
  return "The frame ranges to process overlap or are out of order! Modification cancelled!";
}

std::string manipulationTimeLine(double seconds, char decimalSeparator) {
  return "Manipulation time = " +
         formatNumber(static_cast<float>(seconds), "0.00", decimalSeparator) + " sec.";
}

}  // namespace ril
