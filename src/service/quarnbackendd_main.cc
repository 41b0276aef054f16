// quarnbackendd: the search service over passive-DNS trigram indexes.
#include "service/service_main.h"

int main(int argc, char** argv) { return quarn::run_service(argc, argv); }
