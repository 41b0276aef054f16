// quarnsearch: search passive-DNS trigram indexes by regular expression or glob.
#include "search/command_line.h"

int main(int argc, char** argv) { return quarn::quarnsearch_main(argc, argv); }
