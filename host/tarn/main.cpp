// tarn: runs graphs of plug-ins from a graph file, and shows what plug-ins offer.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "CommandOptions.h"
#include "Commands.h"

#ifndef TARN_VERSION
#define TARN_VERSION "0.0.0"
#endif

namespace {

const char kUsage[] =
    "usage: tarn [run] [OPTIONS] GRAPH   run the graph file GRAPH\n"
    "       tarn batch GRAPH RUN...      run GRAPH over many runs (tarn batch --help)\n"
    "       tarn inspect TYPE            show a plug-in's description and ports\n"
    "       tarn list                    list the plug-ins on the search path\n"
    "       tarn merge DIR               combine the results of a batch's runs into DIR/merged/\n"
    "       tarn odb RUN [PATH...]       show the run's ODB (tarn odb --help)\n"
    "       tarn dump RUN                print the run's events and banks (tarn dump --help)\n"
    "       tarn --help | --version\n";

const char kHelp[] =
    "\n"
    "Options of run:\n"
    "  -s, --set NODE.PORT=TEXT  give input PORT of NODE the setting TEXT after the\n"
    "                            graph file's own settings (may be repeated)\n"
    "      --progress            show the progress line even when stderr is no terminal\n"
    "      --no-progress         never show the progress line\n"
    "      --serve [HOST:]PORT   serve live spectra and the run's state at\n"
    "                            http://HOST:PORT/ while the graph runs (HOST\n"
    "                            127.0.0.1 unless given; PORT 0: any free port)\n"
    "      --linger              with --serve, keep serving after the run until Ctrl-C\n"
    "\n"
    "Graph file, one statement a line ('#' starts a comment line):\n"
    "  node NAME TYPE            make an instance of plug-in TYPE named NAME\n"
    "  set NAME.PORT TEXT        give input PORT the setting TEXT (rest of the line)\n"
    "  connect NAME.OUT NAME.IN  connect an output to an input\n"
    "  start NAME                start the source NAME (after all nodes are set up)\n"
    "PORT is a port name or #k for port number k.\n"
    "\n"
    "Ctrl-C or SIGTERM stops the running source cleanly and the results so far are\n"
    "written; a second one quits at once. Result files are written under a hidden\n"
    "temporary name and renamed when complete, so a failed write leaves the earlier\n"
    "file of that name as it was.\n"
    "Plug-ins print to stdout; tarn's own messages go to stderr.\n"
    "\n"
    "Environment:\n"
    "  TARN_PLUGIN_PATH  colon-separated directories searched first for TYPE.tnp\n"
    "  MIDASDATA         directory searched for run files\n"
    "\n"
    "Exit status: 0 done, 1 failure (such as a result file that was not written,\n"
    "named on stderr), 2 error in the graph or command line, 130 stopped by Ctrl-C\n"
    "(SIGINT), 143 stopped by SIGTERM.\n";

const char kInspectHelp[] =
    "usage: tarn inspect TYPE\n"
    "Shows plug-in TYPE's description and its input and output ports with their types.\n";

const char kListHelp[] =
    "usage: tarn list\n"
    "Lists the plug-ins on the search path (TARN_PLUGIN_PATH first), by directory.\n";

int usageError(const std::string& message) {
  std::cerr << "tarn: " << message << "\n" << kUsage;
  return 2;
}

bool asksForHelp(int argc, char** argv) {
  for (int i = 0; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
  return false;
}

enum RunOption { kProgress = 256, kNoProgress, kCountsFd, kDamageFd, kServe, kLinger };

// The options of `tarn run`, argv[0] being the word before them. -1 when the
// graph is to run, else the exit status.
int parseRunOptions(int argc, char** argv, RunOptions& options) {
  static const option longOptions[] = {{"set", required_argument, nullptr, 's'},
                                       {"help", no_argument, nullptr, 'h'},
                                       {"progress", no_argument, nullptr, kProgress},
                                       {"no-progress", no_argument, nullptr, kNoProgress},
                                       // Undocumented: a batch's windows on the events a run has sent and the damage it met.
                                       {"counts-fd", required_argument, nullptr, kCountsFd},
                                       {"damage-fd", required_argument, nullptr, kDamageFd},
                                       {"serve", required_argument, nullptr, kServe},
                                       {"linger", no_argument, nullptr, kLinger},
                                       {nullptr, 0, nullptr, 0}};
  startOptions();
  for (int c; (c = getopt_long(argc, argv, ":s:h", longOptions, nullptr)) != -1;) {
    switch (c) {
      case 's': options.overrides.push_back(optarg); break;
      case 'h':  // run's own line of the usage, and the options
        std::cout << std::string(kUsage, std::strchr(kUsage, '\n') + 1) << kHelp;
        return 0;
      case kProgress: options.progress = 1; break;
      case kNoProgress: options.progress = 0; break;
      case kCountsFd: options.countsFd = std::atoi(optarg); break;
      case kDamageFd: options.damageFd = std::atoi(optarg); break;
      case kServe: options.serve = optarg; break;
      case kLinger: options.linger = true; break;
      case ':':
        return usageError(refusedOption(argv) + (optopt == 's'        ? " needs NODE.PORT=TEXT"
                                                           : optopt == kServe ? " needs [HOST:]PORT"
                                                                              : " needs a value"));
      default:
        return usageError("unknown option " + refusedOption(argv));
    }
  }
  for (int i = optind; i < argc; ++i) {
    if (!options.graphFile.empty())
      return usageError("more than one graph file: " + options.graphFile + " and " + argv[i]);
    options.graphFile = argv[i];
  }
  if (options.graphFile.empty()) return usageError("no graph file");
  if (options.linger && options.serve.empty()) return usageError("--linger needs --serve");
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usageError("nothing to do");
  std::string first = argv[1];
  if (first == "-h" || first == "--help" || first == "help") {
    std::cout << kUsage << kHelp;
    return 0;
  }
  if (first == "-V" || first == "--version") {
    std::cout << "tarn " << TARN_VERSION << "\n";
    return 0;
  }
  if ((first == "inspect" || first == "list") && asksForHelp(argc - 2, argv + 2)) {
    std::cout << (first == "inspect" ? kInspectHelp : kListHelp);
    return 0;
  }
  if (first == "inspect") {
    if (argc != 3) return usageError("inspect takes one plug-in type");
    return inspectType(argv[2]);
  }
  if (first == "batch") return batchCommand(argc - 2, argv + 2);
  if (first == "odb") return odbCommand(argc - 2, argv + 2);
  if (first == "dump") return dumpCommand(argc - 2, argv + 2);
  if (first == "merge") return runSiblingTool("tarn-merge", argc - 2, argv + 2);
  if (first == "list") {
    if (argc != 2) return usageError("list takes no arguments");
    return listTypes();
  }

  RunOptions options;
  const int skip = first == "run" ? 1 : 0;
  const int status = parseRunOptions(argc - skip, argv + skip, options);
  return status >= 0 ? status : runGraph(options);
}
