// Writes every property of every strand event it receives to one HDF5 file,
// one group per property: `values` with one entry per event for scalars; for
// lists a flat `values` and `offsets` (entry k's elements are
// values[offsets[k]:offsets[k+1]]); texts as lists of bytes; lists of lists
// (and of texts) with `inner_offsets` between the two. Each group's `event`
// holds the number of the event each entry came from, since a property may be
// missing from some events. MIDAS events on "midas" add their headers as the
// scalar groups midas_event_id, midas_trigger_mask, midas_serial_number and
// midas_time_stamp, entries of the strand events unpacked from them.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AtomicFile.h"
#include "DeliveryRound.h"
#include "Hdf5ChunkQueue.h"
#include "Hdf5Column.h"
#include "Hdf5Layout.h"
#include "Hdf5Deflate.h"
#include "Hdf5Group.h"
#include "Plugin.h"
#include "CurrentRun.h"
#include "RunStatus.h"
#include "StrandEvent.h"
#include "TMidasEvent.h"
#include "TarnBase.h"
#include "UnsignedValues.h"

using h5out::Column;
using h5out::Compression;
using h5out::Handle;
using h5out::setFlatAccess;

using h5group::Group;
using h5group::groupName;
using h5group::Layout;
using h5group::layoutOf;
using h5group::typeLabel;

class Hdf5Writer : public TarnBase {
 public:
  explicit Hdf5Writer(std::string& n) : TarnBase(nullptr, "NoName"), boolean(h5out::boolType(), H5Tclose) {
    name = n;
    description = "Write every property of each StrandEvent to an HDF5 file, one group per property";
    inputs.push_back(Input("fevent", static_cast<Handler>(&Hdf5Writer::write), TARN_STRANDEVENT,
                           "StrandEvent to write"));
    inputs.push_back(Input("file", static_cast<Handler>(&Hdf5Writer::setFile), TARN_STRING,
                           "HDF5 file to write (default: NAME.h5); replaced when it exists"));
    inputs.push_back(Input("compression", static_cast<Handler>(&Hdf5Writer::setCompression), TARN_STRING,
                           "fast (default), small (zlib level 6, for archives), none, or zlib1 to zlib9"));
    inputs.push_back(Input("threads", static_cast<Handler>(&Hdf5Writer::setThreads), TARN_INT,
                           "Threads compressing chunks (default: the cores; 0: the graph's own)"));
    inputs.push_back(Input("midas", static_cast<Handler>(&Hdf5Writer::header), TARN_OBJECT,
                           "MIDAS events (RunFile's event): id, trigger mask, serial number and time "
                           "stamp written for the strand events unpacked from each"));
    // Failures are reported here, once each, not by the library's own stack dump.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }

  ~Hdf5Writer() override { closeFile(); }

  void setFile(void* v) {
    const std::string& f = *static_cast<std::string*>(v);
    if (f == fileName) return;
    closeFile();
    fileName = f;
    openFailed = false;
    lost = false;
  }

  // Both apply from the next file opened.
  void setCompression(void* v) {
    const std::string& text = *static_cast<std::string*>(v);
    if (h5out::parseCompression(text, compression)) return;
    std::cerr << name << ": compression '" << text << "' is not fast, small, none or zlib1 to zlib9; "
              << "kept at the one before\n";
    tarn_setting_rejected();
  }

  void setThreads(void* v) {
    // At most 64: each thread keeps four chunks in flight.
    const int n = v ? *static_cast<int*>(v) : -1;
    threads = n < 0 ? h5out::usableCores() : std::min(64u, unsigned(n));
  }

  void write(void* v) {
    StrandEvent* event = static_cast<StrandEvent*>(v);
    if (!event || event->layout) return;  // a layout event carries no values
    if (lost) return;  // until another file is named
    if (file < 0 && !openFile()) return;
    for (auto& entry : *event) {
      const StrandProperty& p = entry.second;
      if (!p.value) continue;  // no value in this event
      Group& g = groupFor(entry.first, p.type, p.value);
      if (g.stopped) continue;
      if (p.type != g.type) {
        g.stopped = true;  // rows already written stay
        std::cerr << name << ": property " << entry.first << " changed type from "
                  << tarn_type_label(g.type) << " to " << tarn_type_label(p.type) << " at event "
                  << events << "; not written from here on\n";
        continue;
      }
      std::string error;
      if (!h5group::append(g, p.value, events, error)) return abandon(error);
    }
    const uint64_t round = currentDeliveryRound();
    if (round != roundOfLastEvent) firstEventOfRound = events;
    roundOfLastEvent = round;
    if (pending.round == round && !writeHeader(events)) return;
    ++events;
  }

  // The header goes with the strand events of the same round: those written
  // already, or those still to come.
  void header(void* v) {
    const TMidasEvent* midas = static_cast<const TMidasEvent*>(v);
    if (!midas || lost) return;
    pending.round = currentDeliveryRound();
    pending.id = midas->GetEventId();
    pending.mask = midas->GetTriggerMask();
    pending.serial = midas->GetSerialNumber();
    pending.time = midas->GetTimeStamp();
    if (file < 0 || roundOfLastEvent != pending.round) return;
    for (int64_t k = firstEventOfRound; k < events; ++k)
      if (!writeHeader(k)) return;
  }

 private:
  struct Header {
    uint64_t round = 0;  // 0: none yet
    uint16_t id = 0, mask = 0;
    uint32_t serial = 0, time = 0;
  };

  bool writeHeader(int64_t event) {
    const struct {
      const char* group;
      tarn_type type;
      const void* value;
    } fields[] = {{"midas_event_id", TARN_UINT16, &pending.id},
                  {"midas_trigger_mask", TARN_UINT16, &pending.mask},
                  {"midas_serial_number", TARN_UINT32, &pending.serial},
                  {"midas_time_stamp", TARN_UINT32, &pending.time}};
    for (const auto& f : fields) {
      Group& g = groupFor(f.group, f.type, nullptr);
      std::string error;
      if (!g.stopped && g.type == f.type && !h5group::append(g, f.value, event, error)) {
        abandon(error);
        return false;
      }
    }
    return true;
  }

  bool openFile() {
    if (openFailed) return false;
    const std::string path = fileName.empty() ? name + ".h5" : fileName;
    // Written under a temporary name beside the final one and renamed when
    // closed without error: a failed run never leaves a half file.
    out.reset(new AtomicFile(path));
    std::string reason;
    if (out->open()) {
      Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
      setFlatAccess(access);
      file = h5out::createFile(out->tempPath(), access >= 0 ? hid_t(access) : H5P_DEFAULT);
      if (file < 0) reason = h5out::failureReason("the HDF5 library cannot create it");
    } else {
      reason = out->error().substr(path.size() + 2);  // the error names the path first
    }
    if (file < 0) {
      out.reset();
      openFailed = true;
      std::cerr << name << ": cannot create HDF5 file " << path << ": " << reason
                << "; events are not written" << std::endl;
      tarn_run_failed();
      return false;
    }
    openPath = path;
    events = 0;
    roundOfLastEvent = 0;
    fileCompression = compression;
    queue.reset(new h5out::ChunkQueue(threads));
    return true;
  }

  // After the first failure nothing more goes into the file: it is released
  // and removed, and the earlier file of its name stays as it was.
  void abandon(const std::string& reason) {
    if (lost) return;
    lost = true;
    say(reason);
    releaseFile();
  }

  void say(const std::string& reason) {
    std::cerr << name << ": cannot write " << openPath << ": " << reason
              << "; nothing more is written, and an earlier file of that name stays as it was"
              << std::endl;
    tarn_run_failed();
  }

  // Closes every identifier of the file, the columns first with their last
  // chunks unless the file is lost, then renames it over its name. The library
  // must be able to close the file cleanly: a failed H5Fclose leaves it half
  // torn down, and its exit-time cleanup then crashes on it. So the file is
  // flushed first, and once it is lost it is emptied, which gives back the
  // space its closing writes need. False when the file was not kept.
  bool releaseFile() {
    auto lose = [&](const std::string& reason) {
      if (!lost) {
        lost = true;
        say(reason);
      }
      if (queue) queue->discard();  // before the datasets its chunks belong to close
      if (::truncate(out->tempPath().c_str(), 0) != 0) {
        // Not emptied (it is in place, or gone): the close may still fail.
      }
    };
    if (lost) lose("");
    std::string error;
    for (auto& entry : groups) {
      Group& g = *entry.second;
      for (Column* c : {&g.values, &g.offsets, &g.innerOffsets, &g.event}) {
        if (lost) c->abandon();
        else if (!c->close(error)) lose(error);
      }
      g.id.reset();
    }
    groups.clear();
    queue.reset();  // its workers stop here
    if (!lost && !h5out::writeAttribute(file, h5layout::kEvents, events))
      lose(h5out::failureReason("cannot record the event count"));
    if (!lost && !writeRunAttributes()) lose(h5out::failureReason("cannot record the run"));
    if (!lost && H5Fflush(file, H5F_SCOPE_LOCAL) < 0) lose(h5out::failureReason("cannot flush the file"));
    // Nothing of the file is left open unless a close above failed.
    const unsigned inside = H5F_OBJ_DATASET | H5F_OBJ_GROUP | H5F_OBJ_DATATYPE | H5F_OBJ_ATTR | H5F_OBJ_LOCAL;
    const ssize_t left = H5Fget_obj_count(file, inside);
    if (left > 0) {
      std::vector<hid_t> ids(static_cast<size_t>(left));
      const ssize_t n = H5Fget_obj_ids(file, inside, ids.size(), ids.data());
      for (ssize_t k = 0; k < n; ++k) dropId(ids[size_t(k)]);
    }
    if (H5Fclose(file) < 0) lose(h5out::failureReason("cannot close the file"));
    file = -1;
    if (lost) {
      out.reset();  // removes the temporary file
      return false;
    }
    const bool kept = out->commit();
    if (!kept) {
      lost = true;
      say(out->error().substr(out->finalPath().size() + 2));
    }
    out.reset();
    return kept;
  }

  // The run number and the run files read, when a source reported them.
  bool writeRunAttributes() {
    const CurrentRun run = currentRun();
    if (run.number >= 0 && !h5out::writeAttribute(file, h5layout::kRunNumber, int64_t(run.number))) return false;
    if (run.files.empty()) return true;
    return h5out::writeAttribute(file, "run_file", run.files.front()) &&
           h5out::writeAttribute(file, "run_files", run.files);
  }

  // Gives up every reference to `id` (a failed close can leave one).
  static void dropId(hid_t id) {
    for (int k = 0; k < 64 && H5Iis_valid(id) > 0 && H5Idec_ref(id) >= 0; ++k) {
    }
  }

  void closeFile() {
    if (file < 0) return;
    releaseFile();
  }

  // `value`: the property's first value, whose list may hold unsigned elements.
  Group& groupFor(const std::string& property, tarn_type type, const void* value) {
    std::unique_ptr<Group>& slot = groups[property];
    if (slot) return *slot;
    slot.reset(new Group);
    Group& g = *slot;
    g.type = type;
    const bool unsignedElements = value && valuesUnsigned(value);
    const Layout layout = layoutOf(type, boolean, unsignedElements);
    g.depth = layout.depth;
    if (layout.element < 0) {
      g.stopped = true;
      std::cerr << name << ": property " << property << " of type " << tarn_type_label(type)
                << " is not written\n";
      return g;
    }
    std::string error;
    const std::string path = groupName(property);
    g.id.reset(h5out::createGroup(file, path), H5Gclose);
    const int64_t zero = 0;
    bool ok = g.id >= 0 && h5out::writeAttribute(g.id, h5layout::kTarnType, int64_t(type)) &&
              h5out::writeAttribute(g.id, h5layout::kType, typeLabel(type, unsignedElements)) &&
              g.values.create(g.id, h5layout::kValues, layout.element, fileCompression, *queue, error) &&
              g.event.create(g.id, h5layout::kEvent, H5T_NATIVE_INT64, fileCompression, *queue, error);
    if (ok && g.depth >= 1)
      ok = g.offsets.create(g.id, h5layout::kOffsets, H5T_NATIVE_INT64, fileCompression, *queue, error) &&
           g.offsets.append(&zero, 1, error);
    if (ok && g.depth == 2)
      ok = g.innerOffsets.create(g.id, h5layout::kInnerOffsets, H5T_NATIVE_INT64, fileCompression, *queue, error) &&
           g.innerOffsets.append(&zero, 1, error);
    if (!ok) {
      g.stopped = true;
      std::cerr << name << ": property " << property << ": cannot create group " << path
                << (error.empty() ? "" : ": " + error) << "; not written\n";
    }
    return g;
  }

  Handle boolean;
  std::string fileName, openPath;
  bool openFailed = false;
  bool lost = false;  // a write failed: the file is not kept
  hid_t file = -1;
  std::unique_ptr<AtomicFile> out;
  int64_t events = 0;  // since the file was opened
  Header pending;      // of the last MIDAS event
  uint64_t roundOfLastEvent = 0;
  int64_t firstEventOfRound = 0;
  Compression compression, fileCompression;
  unsigned threads = h5out::usableCores();
  // Declared before the groups, whose columns hand it chunks until they close.
  std::unique_ptr<h5out::ChunkQueue> queue;
  std::map<std::string, std::unique_ptr<Group>> groups;
};

TARN_PLUGIN(Hdf5Writer)
