// The command line parser of brenwick-cli: the command groups, --version, help, usage errors with a
// "did you mean" hint.
#pragma once

namespace brenwick::cli {

// Parses the words and runs the chosen command; returns the exit status. Help and the version go to
// standard output (exit 0), usage errors to standard error (exit 2).
int RunCommandLine(int argc, char** argv);

}  // namespace brenwick::cli
