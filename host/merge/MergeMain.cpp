// tarn-merge DIR (run as `tarn merge DIR`): combines the result files of a
// batch's finished runs into DIR/merged/ (MergeBatch.cpp says how). Exit
// status: 0 all merged, 1 something skipped or not written, 2 a mistake on the
// command line.
#include <getopt.h>

#include <hdf5.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "Merge.h"

namespace {

const char kUsage[] =
    "usage: tarn merge DIR   combine the results of the finished runs of the batch in DIR\n"
    "                        into DIR/merged/ (tables summed, HDF5 files joined)\n";

// The batch directory the command line names; false with the exit status when
// there is none to merge (help asked for, or a mistake).
bool parseArgs(int argc, char** argv, std::string& dir, int& status) {
  static const option kOptions[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
  std::vector<std::string> positional;
  // '-': the directory comes back in order; ':': no messages of getopt's own.
  for (int c; (c = ::getopt_long(argc, argv, "-:h", kOptions, nullptr)) != -1;) {
    if (c == 'h') {
      std::cout << kUsage;
      status = 0;
      return false;
    }
    if (c != 1) {
      std::cerr << "tarn merge: unknown option " << argv[optind - 1] << "\n" << kUsage;
      status = 2;
      return false;
    }
    positional.push_back(optarg);
  }
  for (int i = optind; i < argc; ++i) positional.push_back(argv[i]);  // after a lone --
  if (positional.size() != 1) {
    std::cerr << "tarn merge: " << (positional.empty() ? "no batch directory" : "takes one batch directory")
              << "\n" << kUsage;
    status = 2;
    return false;
  }
  dir = positional[0];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  int status = 0;
  if (!parseArgs(argc, argv, dir, status)) return status;
  // Files that are not what they should be are reported here, once each, not by the library's stack dump.
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  status = merge::mergeBatch(dir);
  if (merge::hdf5CloseFailed()) {
    // What failed to close is discarded and all else is closed: nothing is lost.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(1);
  }
  return status;
}
