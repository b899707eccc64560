// rilmaton-cli modify: what the user asks for, as given on the command line.
#pragma once

#include <string>
#include <vector>

#include "cli/file_list.h"

namespace ril::cli {

// The options of one modify command, the same for every FILE.
struct ModifyOptions {
  bool help = false;
  bool deemphasis = false;
  bool maximize = false;
  bool haveVolume = false;
  long long tenths = 1000;      // --volume in tenths of a percent
  bool percentRounded = false;  // --volume had more than one decimal
  std::string output;
  bool inPlace = false;
  int threads = 0;  // --threads; 0: as many as suit each step
  std::string outputDir;
  bool album = false;
  bool loudness = false;  // --loudness: the volume comes from the loudness
  double targetLufs = 0;
  double truePeakLimit = -1.0;
  bool haveTruePeakLimit = false;
  FileSources sources;
  std::vector<std::string> operands;
};

// Parses argv[1..argc) (argv[0] is "modify") into `o`. Returns the exit
// status when the command ends here (a usage error, or --help printed), or -1.
int parseModifyOptions(int argc, char** argv, ModifyOptions& o);

// Prints the usage error WHAT of modify on the calling thread's stderr; returns 2.
int modifyUsageError(const std::string& what);

// "81.9%": a volume in tenths of a percent as the notes write it.
std::string percentText(long long tenths);

}  // namespace ril::cli
