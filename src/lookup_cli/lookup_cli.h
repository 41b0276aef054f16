// The quarnlookup program: command line, store loading and the output loop.
//
// quarnlookup_main does everything the program does and returns its exit status: 0 on
// success (also when nothing matched), 1 on a command-line error, a store that does not
// open, a store found damaged during the lookup (records printed before the damage was
// found stay printed; the error line names the file), or a record that could not be
// written as JSON (reported and left out). Usage and errors go to
// standard error, records to standard output; --help prints to standard output.
#pragma once

namespace quarn {

int quarnlookup_main(int argc, char** argv);

}  // namespace quarn
