// The quarnsearch program: command line, data source set-up and the search loop.
//
// quarnsearch_main does everything the program does and returns its exit status (0 on
// success, 1 on a command-line error or a failed search); the program's main() only
// calls it. Messages for command-line errors and the usage text go to standard error
// exactly as documented in usage_text(); results go to standard output.
//
// Options (in command-line order): -A/-B time filters, -c complete time matching,
// -f set file | -l index file (repeatable), -g glob, -j JSON | -r raw, -L limit,
// -s expression (else one expression per line of standard input), -t timeout in
// seconds, -v more verbose (repeatable). The data source (fileset or index list) is
// owned here and lives until the searches are done.
#pragma once

#include <string>

namespace quarn {

int quarnsearch_main(int argc, char** argv);

// The usage text for the given invocation name, including its leading and trailing
// empty lines.
std::string usage_text(const char* program);

}  // namespace quarn
