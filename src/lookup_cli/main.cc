// quarnlookup: looks up records in record stores; see lookup_cli.h.
#include "lookup_cli/lookup_cli.h"

int main(int argc, char** argv) { return quarn::quarnlookup_main(argc, argv); }
