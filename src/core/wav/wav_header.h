// The one definition of a WAV file's layout as the program reads and writes
// it: the format, where the sample data lies, and what the reader noticed.
#pragma once

#include <cstdint>
#include <string>

#include "core/base/sample_format.h"

namespace ril {

// How far reading a header got.
enum class HeaderStatus {
  kUnreadable,   // could not be found, measured, opened or read
  kEmpty,        // 0 bytes
  kNoDataChunk,  // no data chunk
  kUnsupported,  // data found, but samples the program cannot process
  kReady,        // data found, in a sample format the program reads
};

struct WavFormat {
  std::int16_t formatTag = 0;
  std::int16_t channels = 0;
  std::int16_t bitsPerSample = 0;
  std::int32_t sampleRate = 0;
  // The speakers of an extensible format chunk, one bit each; 0 without one.
  std::uint32_t channelMask = 0;
  // How the samples are encoded (from the format tag, or the extensible
  // format's sub-format), the bits that are valid (0: all of the container)
  // and the byte order (a RIFX file's is big-endian).
  SampleEncoding encoding = SampleEncoding::kPcm;
  std::int16_t validBits = 0;
  bool bigEndian = false;

  // Bytes a sample takes: the bits rounded up to whole bytes.
  int containerBytes() const { return (bitsPerSample + 7) / 8; }
  // Bytes per frame of a supported format.
  int frameBytes() const { return channels * containerBytes(); }
  // The sample format as one value.
  SampleFormat sample() const {
    SampleFormat f;
    f.encoding = encoding;
    f.containerBytes = containerBytes();
    f.validBits =
        validBits > 0 && validBits < 8 * f.containerBytes ? validBits : 8 * f.containerBytes;
    f.bigEndian = bigEndian;
    return f;
  }
  // 8- or 16-bit little-endian PCM in one or two channels, every bit valid:
  // the files the tuned paths serve, with the results they always gave.
  bool classic() const { return (channels == 1 || channels == 2) && sample().isClassic(); }
  bool operator==(const WavFormat&) const = default;
};

// Where the parts of the file lie. Sizes are held in 64 bits, so unsigned
// 32-bit chunk sizes never wrap and an RF64 file's sizes fit.
struct WavLayout {
  std::uint64_t fileLength = 0;
  std::int64_t dataOffset = 0;     // offset of the first sample byte
  std::uint64_t dataSize = 0;      // as the data chunk (or an RF64 file's ds64 chunk) declares it
  std::int64_t sampleFrames = 0;   // frames the data chunk declares (rounded)
  std::int64_t trailerLength = 0;  // bytes after the declared data; negative past the end
  // Whole frames that lie inside both the data chunk and the file: what the
  // analysis and the modification process.
  std::int64_t framesInFile = 0;
};

// What the reader noticed on the way, as the report and the header warnings
// show it. Identifier texts hold the bytes as read, "?" for unprintable ones.
struct HeaderFindings {
  bool lengthKnown = false;  // the file could be measured
  bool formatRead = false;   // the format fields were read (file length > 0)
  bool dataFound = false;    // the layout's data fields are valid
  std::string riffId;        // 4 characters
  bool riffIdWrong = false;  // not "RIFF"
  std::uint32_t riffSize = 0;
  bool riffSizeWrong = false;           // not the file length - 8
  std::string formAndFirstChunk;        // 8 characters
  bool formAndFirstChunkWrong = false;  // not "WAVEfmt "
  bool waveForm = false;                // bytes 8 to 11 are "WAVE": a WAV file
  // What a file that is not a WAV file looks like, where its first bytes make
  // that plain ("an AIFF file", "a FLAC file"); empty otherwise.
  std::string lookalike;
  // The format fields come from a "fmt " chunk: the first chunk, or one found
  // by walking the chunk list. Without one they are bytes 16 to 35 as read.
  bool formatChunkFound = false;
  bool sizesFromDs64 = false;  // an RF64 file: the data size came from its ds64 chunk
  bool extensiblePcm = false;  // format tag -2 with the PCM sub-format
  std::uint32_t fmtChunkLength = 0;
  std::int32_t byteRate = 0;
  bool byteRateWrong = false;  // not blockAlign x sampleRate
  std::int16_t blockAlign = 0;
  bool blockAlignWrong = false;  // not channels x bitsPerSample / 8
  // Why the samples cannot be processed. Without a data chunk only a reason
  // that lies in the file's layout (not a WAV file, no format chunk).
  std::string unsupportedReason;
  int readErrorNumber = 0;  // the error number of a failing read, or 0
  // What stands behind that number when more is known (a pipe), or empty.
  std::string readErrorDetail;
};

struct WavHeader {
  HeaderStatus status = HeaderStatus::kUnreadable;
  WavFormat format;  // valid when findings.formatRead
  WavLayout layout;  // dataOffset valid when formatRead, the rest when dataFound
  HeaderFindings findings;

  bool ready() const { return status == HeaderStatus::kReady; }
  // The format fields hold a WAV file's format as read from its format
  // chunk: not bytes of a file of another kind.
  bool formatKnown() const { return findings.formatRead && findings.formatChunkFound; }
  // Ready, with sample frames to work on.
  bool hasFrames() const { return ready() && layout.framesInFile > 0; }
};

}  // namespace ril
