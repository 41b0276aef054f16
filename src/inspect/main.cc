// tginspect: shows what a trigram index file holds. Everything lives in quarn_inspect.
#include <cstdio>

#include "inspect/inspect.h"

int main(int argc, char** argv) { return quarn::inspect_main(argc, argv, stdout, stderr); }
