#include "PyGraph.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "GraphFile.h"
#include "TarnBase.h"

namespace py = pybind11;

namespace tarnpy {

std::vector<std::string> pluginSearchPath() {
  std::vector<std::string> path;
  if (const char* env = std::getenv("TARN_PLUGIN_PATH")) {
    std::stringstream dirs(env);
    std::string dir;
    while (std::getline(dirs, dir, ':'))
      if (!dir.empty()) path.push_back(dir);
  }
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&pluginSearchPath), &info) && info.dli_fname) {
    std::string here(info.dli_fname);
    here = here.substr(0, here.rfind('/'));
    // The module in the build tree uses the build's plug-ins, an installed one those beside it.
    path.push_back(here == TARN_BUILD_PACKAGE_DIR ? std::string(TARN_BUILD_PLUGIN_DIR)
                                                 : here + "/" + TARN_PLUGINS_FROM_PACKAGE);
  }
  return path;
}

std::string settingText(const py::handle& value) {
  if (py::isinstance<py::bool_>(value)) return value.cast<bool>() ? "true" : "false";
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
    std::string text;
    for (py::handle item : value) text += (text.empty() ? "" : " ") + settingText(item);
    return text;
  }
  return py::str(value).cast<std::string>();
}

namespace {

void check(bool ok, const std::string& error) {
  if (!ok) throw py::value_error(error);
}

std::pair<std::string, std::string> portRef(const std::string& ref) {
  std::string node, port;
  check(splitPortRef(ref, node, port), "not NODE.PORT: '" + ref + "'");
  return {node, port};
}

}  // namespace

PyGraph::PyGraph() : loader(pluginSearchPath()), graph(loader) {}

void PyGraph::load(const std::string& file) {
  std::ifstream in(file);
  if (!in) {
    PyErr_SetObject(PyExc_FileNotFoundError, py::make_tuple(ENOENT, "No graph file of this name", file).ptr());
    throw py::error_already_set();
  }
  std::stringstream text;
  text << in.rdbuf();
  std::vector<GraphProblem> problems;
  const std::vector<GraphStatement> statements = parseGraph(text.str(), problems);
  if (!problems.empty())
    throw py::value_error(file + ":" + std::to_string(problems[0].line) + ": " + problems[0].message);
  for (const GraphStatement& st : statements) {
    std::string error;
    bool ok = true;
    switch (st.kind) {
      case GraphStatement::Node: ok = graph.addNode(st.node, st.type, error); break;
      case GraphStatement::Set: ok = graph.set(st.node, st.port, st.text, error); break;
      case GraphStatement::Connect: ok = graph.connect(st.node, st.port, st.toNode, st.toPort, error); break;
      case GraphStatement::Start: starts.push_back(st.node); break;
    }
    check(ok, file + ":" + std::to_string(st.line) + ": " + error);
  }
}

void PyGraph::node(const std::string& name, const std::string& type, const py::dict& settings) {
  std::string error;
  check(graph.addNode(name, type, error), error);
  for (auto item : settings) set(name + "." + item.first.cast<std::string>(), item.second);
}

void PyGraph::set(const std::string& ref, const py::handle& value) {
  const auto p = portRef(ref);
  std::string error;
  check(graph.set(p.first, p.second, settingText(value), error), error);
}

void PyGraph::connect(const std::string& from, const std::string& to) {
  const auto a = portRef(from), b = portRef(to);
  std::string error;
  check(graph.connect(a.first, a.second, b.first, b.second, error), error);
}

void PyGraph::start(const std::string& name) {
  check(graph.node(name) != nullptr, "no node '" + name + "'");
  starts.push_back(name);
}

void PyGraph::collect(const std::string& output) {
  const auto p = portRef(output);
  TarnBase* from = graph.node(p.first);
  check(from != nullptr, "no node '" + p.first + "'");
  const int k = Graph::findPort(from, p.second, false);
  check(k >= 0, "node '" + p.first + "' has no output '" + p.second + "'");
  check(from->outputs[k].type == TARN_STRANDEVENT,
        output + " sends " + tarn_type_label(from->outputs[k].type) + ", not strand events");
  for (const auto& c : collectors) check(c.first != output, output + " is collected already");
  std::unique_ptr<StrandCollector> collector(new StrandCollector(output));
  check(from->AddReceiver(k, collector.get(), 0), "cannot collect " + output);
  collectors.emplace_back(output, std::move(collector));
}

void defineGraph(py::module_& m) {
  py::class_<PyGraph>(m, "Graph", R"(A graph of plug-in nodes, run in this process.

    g = tarn.Graph()                      # or tarn.Graph("examples/histograms.tarn")
    g.node("in", "RunFile", file="run00002.mid.gz")
    g.node("unpack", "CompositeUnpacker")
    g.node("hist", "Histogrammer", properties="ADCValue", bins="ADCValue:128:0:4096")
    g.connect("in.event", "unpack.event")
    g.connect("unpack.fevent", "hist.fevent")
    g.start("in")
    result = g.run()
    result.spectra["hist.ADCValue"].counts

Plug-ins are found in TARN_PLUGIN_PATH, then beside this package (the
build's plug-ins for the build tree's package). An unknown plug-in, node,
port or setting is a ValueError naming it, raised by the call that names
it. A graph runs once.)")
      .def(py::init([](py::object file) {
             auto g = std::unique_ptr<PyGraph>(new PyGraph);
             if (!file.is_none()) g->load(py::str(file).cast<std::string>());
             return g;
           }), py::arg("file") = py::none(), "A graph, empty or with the nodes, settings, connections and starts of a graph file.")
      .def("node", [](PyGraph& g, const std::string& name, const std::string& type, py::kwargs settings) {
             g.node(name, type, settings);
           }, py::arg("name"), py::arg("type"), "Adds a node of plug-in `type`; keyword arguments are its settings.")
      .def("set", &PyGraph::set, py::arg("port"), py::arg("value"),
           "Sets \"node.port\" to value (str as it is, bool as true/false, a list space-separated).")
      .def("connect", &PyGraph::connect, py::arg("output"), py::arg("input"), "Connects \"node.output\" to \"node.input\".")
      .def("start", &PyGraph::start, py::arg("node"), "Marks a source node to run; run() starts them in this order.")
      .def("collect", &PyGraph::collect, py::arg("output"), R"(Makes the run also return the strand events of "node.output".

result.columns[output] is then a dict of property name to tarn.Column,
what Hdf5Writer would have written, with no file in between: values,
offsets (lists), inner_offsets (lists of lists and of strings) and event
(the number of the strand event, from 0). Strings are their bytes.)")
      .def("run", &PyGraph::run, R"(Runs the graph and returns a tarn.Result.

The graph runs on a thread of its own without the GIL. Ctrl-C stops the
running source, lets the nodes write their results and then raises
KeyboardInterrupt. The Result holds the status (0, or 1 when a result
could not be written or no run file was found), everything the plug-ins
printed, and every Histogrammer's spectra.)")
      .def_property_readonly("nodes", &PyGraph::names, "The node names, in order of creation.");
}

}  // namespace tarnpy
