// Running a graph from Python: the graph on a thread of its own, the
// interpreter's thread waiting without the GIL and looking for Ctrl-C.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "LiveBoard.h"
#include "OutputCapture.h"
#include "PyGraph.h"
#include "RunStatus.h"

namespace py = pybind11;

namespace tarnpy {

namespace {

template <class T>
py::array_t<T> numpyOf(const std::vector<T>& v) {
  return py::array_t<T>(static_cast<py::ssize_t>(v.size()), v.data());
}

py::object spectrumOf(const py::module_& tarn, const LiveHistogram& h) {
  return tarn.attr("Spectrum")(h.node, h.property, h.unit, numpyOf(h.counts), numpyOf(h.edges), h.underflow,
                               h.overflow, h.nan, h.entries, h.mean, h.rms);
}

}  // namespace

py::object PyGraph::run() {
  if (ran) throw py::value_error("this graph has run already; make a new one");
  ran = true;
  const unsigned failuresBefore = tarn_run_failures();
  std::vector<LiveBoard::Snapshot> spectra;
  std::string printed;
  std::atomic<bool> stopAsked{false};
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;  // a pending Ctrl-C
  // What Python printed before stays before what the plug-ins print, not inside the capture.
  py::object out = py::module_::import("sys").attr("stdout");
  if (!out.is_none() && py::hasattr(out, "flush")) out.attr("flush")();
  {
    py::gil_scoped_release unlocked;
    OutputCapture capture;
    graph.initAll();
    std::thread runner([&] {
      for (const std::string& name : starts) {
        if (stopAsked) break;
        std::string error;
        graph.start(name, error);
      }
      // The spectra as the run left them, taken while the nodes are still there.
      LiveBoard::instance().publishAll();
      const std::vector<std::string>& ours = graph.names();
      for (const LiveBoard::Snapshot& h : LiveBoard::instance().histograms())
        if (std::find(ours.begin(), ours.end(), h->node) != ours.end()) spectra.push_back(h);
      graph.destroyAll();  // the nodes write their last results
      std::lock_guard<std::mutex> hold(lock);
      done = true;
      ended.notify_all();
    });
    std::unique_lock<std::mutex> hold(lock);
    while (!ended.wait_for(hold, std::chrono::milliseconds(50), [&] { return done; })) {
      if (stopAsked) continue;
      hold.unlock();
      {
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) {
          PyErr_Fetch(&type, &value, &trace);
          stopAsked = true;
        }
      }
      if (stopAsked) graph.stopRunning();
      hold.lock();
    }
    hold.unlock();
    runner.join();
    printed = capture.end();
  }
  if (type) {
    PyErr_Restore(type, value, trace);
    throw py::error_already_set();
  }
  py::module_ tarn = py::module_::import("tarn");
  py::dict bySpectrum;
  for (const LiveBoard::Snapshot& h : spectra) bySpectrum[py::str(h->node + "." + h->property)] = spectrumOf(tarn, *h);
  const int status = tarn_run_failures() > failuresBefore ? 1 : 0;
  py::dict collected;
  for (auto& c : collectors) collected[py::str(c.first)] = c.second->columns();
  return tarn.attr("Result")(status, printed, bySpectrum, collected);
}

}  // namespace tarnpy
