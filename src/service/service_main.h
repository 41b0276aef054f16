// The quarnbackendd program as a function, so that tests can run it in process.
//
// run_service parses the command line, opens the scopes (refusing a wrong kind or an
// unloadable path at once), loads the keys, binds the listening socket and serves until
// SIGTERM or SIGINT, with SIGHUP re-reading the set files and the keys. Returns the exit
// status: 0 after a drained shutdown or --help, 1 for a command-line or start-up error
// (the message and, for option errors, the usage are on standard error).
#pragma once

namespace quarn {

int run_service(int argc, char** argv);

}  // namespace quarn
