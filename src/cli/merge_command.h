// `tessaly merge`: the wizard's merge run from a terminal.
#pragma once

namespace cli {

inline constexpr const char* kMergeUsage =
    "  tessaly merge DB TABLE --field F [--field F ...] [--into NAME] [--spaces]\n"
    "                [--password PW] [--yes]\n";

// argv[1] is "merge". Returns the process exit code: 0 when the merge
// finished without any failure, 1 on a failure or refusal, 2 on a usage error.
int MergeCommand(int argc, char** argv);

}  // namespace cli
