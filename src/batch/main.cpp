// talveron-batch: one series of replicates, headless, reproducible from a seed.
#include <iostream>
#include <string>
#include <vector>

#include "batch/batch_run.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return talveron::batch::BatchMain(args, std::cout, std::cerr);
}
