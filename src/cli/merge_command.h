// `tessaly merge`: the wizard's merge run from a terminal.
#pragma once

namespace cli {

// argv[1] is "merge". Returns the process exit code: 0 when the merge
// finished without any failure, 1 on a failure or refusal, 2 on a usage error.
// `wait_ms`: how long to wait for other programs' locks on the file.
int MergeCommand(int argc, char** argv, int wait_ms = 10000);

}  // namespace cli
