// brenwick-cli: the command line front end. The log goes to standard output; diagnostics and the summary
// of a failure go to standard error.
#include "app/cli/cli_app.h"

int main(int argc, char** argv) {
    return brenwick::cli::RunCommandLine(argc, argv);
}
