#include "cli/dispatch.h"

int main(int argc, char** argv) {
  return kxsane::run_command(argc, argv);
}
