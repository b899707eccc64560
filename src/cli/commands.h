// Subcommands of rilmaton-cli.
#pragma once

namespace ril::cli {

// Each returns the process exit status: 0 success, 1 failure, 2 usage error.
int runReportCommand(int argc, char** argv);  // argv[0] is "report"
int runModifyCommand(int argc, char** argv);  // argv[0] is "modify"
int runCueCommand(int argc, char** argv);     // argv[0] is "cue"
int runRepairCommand(int argc, char** argv);  // argv[0] is "repair"

// modify --cue SHEET (cue_modify.cpp): whether the arguments ask for it, and
// the run.
bool asksForCue(int argc, char** argv);
int runCueModifyCommand(int argc, char** argv);

}  // namespace ril::cli
