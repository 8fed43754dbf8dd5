// What the subcommands share in reading their options with getopt_long.
#pragma once

#include <getopt.h>

#include <string>

// Before a subcommand's getopt_long loop: a fresh scan, and the messages its
// own (with its usage) rather than getopt's.
inline void startOptions() {
  opterr = 0;
  optind = 0;
}

// The option getopt_long just refused ('?') or found without its value (':'),
// as it was typed.
inline std::string refusedOption(char** argv) {
  if (optopt > 0 && optopt < 256 && argv[optind - 1][1] != '-') return std::string("-") + char(optopt);
  return argv[optind - 1];
}
