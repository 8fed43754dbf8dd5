#include "EventObject.h"

#include <structmember.h>

#include <memory>
#include <string>

#include "BankArray.h"
#include "BankWalk.h"
#include "Odb.h"
#include "Run.h"
#include "TMidasEvent.h"

namespace py = pybind11;

namespace tarnpy {

namespace {

struct EventObject {
  PyObject_HEAD
  unsigned short id, triggerMask;
  unsigned int serial, time, dataSize;
  unsigned long long index;
  TMidasEvent* event;  // owned
  PyObject* odb;       // made at the first ask
};

struct IteratorObject {
  PyObject_HEAD
  Run* run;
  PyObject* owner;
};

// Static types, filled in by defineEventTypes and never freed.
PyTypeObject EventType{};
PyTypeObject IteratorType{};

bool isText(const TMidasEvent& e) { return e.GetEventId() >= 0x8000 && e.GetEventId() <= 0x8002; }

// C++ exceptions stop at the C API: each becomes the Python error it stands for.
template <class F>
PyObject* guarded(F f) {
  try {
    return f();
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (py::builtin_exception& e) {
    e.set_error();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return nullptr;
}

void eventDealloc(PyObject* self) {
  EventObject* e = reinterpret_cast<EventObject*>(self);
  delete e->event;
  Py_XDECREF(e->odb);
  Py_TYPE(self)->tp_free(self);
}

PyObject* eventBanks(PyObject* self, void*) {
  return guarded([&] {
    const TMidasEvent& ev = *reinterpret_cast<EventObject*>(self)->event;
    py::dict banks;
    if (!isText(ev))
      forEachBank(ev, [&](const char* name, uint32_t type, const char* data, uint32_t size) {
        // Latin-1: any four bytes are a name, a damaged one included.
        py::object key = py::reinterpret_steal<py::object>(PyUnicode_DecodeLatin1(name, 4, nullptr));
        if (!key) throw py::error_already_set();
        banks[key] = bankArray(type, data, size, self);
      });
    return banks.release().ptr();
  });
}

PyObject* eventOdb(PyObject* self, void*) {
  return guarded([&] {
    EventObject* e = reinterpret_cast<EventObject*>(self);
    if (e->id != 0x8000 && e->id != 0x8001) return py::none().release().ptr();
    if (!e->odb) {
      const char* data = const_cast<TMidasEvent*>(e->event)->GetData();
      std::string text(data, e->dataSize);
      // The area ends in NULs; the dump is the text before them.
      const size_t end = text.find('\0');
      if (end != std::string::npos) text.resize(end);
      e->odb = py::cast(std::make_shared<Odb>(std::move(text))).release().ptr();
    }
    Py_INCREF(e->odb);
    return e->odb;
  });
}

PyObject* eventDatetime(PyObject* self, void*) {
  return guarded([&] {
    py::module_ dt = py::module_::import("datetime");
    return dt.attr("datetime")
        .attr("fromtimestamp")(reinterpret_cast<EventObject*>(self)->time, dt.attr("timezone").attr("utc"))
        .release()
        .ptr();
  });
}

PyObject* eventRepr(PyObject* self) {
  const EventObject* e = reinterpret_cast<EventObject*>(self);
  return PyUnicode_FromFormat("<tarn.Event id=%u serial=%u size=%u>", e->id, e->serial, e->dataSize);
}

PyMemberDef eventMembers[] = {
    {"id", T_USHORT, offsetof(EventObject, id), READONLY, "The event id (0x8000 begin of run, 0x8001 end of run)."},
    {"trigger_mask", T_USHORT, offsetof(EventObject, triggerMask), READONLY, "The trigger mask."},
    {"serial", T_UINT, offsetof(EventObject, serial), READONLY,
     "The serial number (the run number for begin and end of run)."},
    {"time", T_UINT, offsetof(EventObject, time), READONLY, "Seconds since 1970-01-01 UTC."},
    {"data_size", T_UINT, offsetof(EventObject, dataSize), READONLY, "Bytes of the data area."},
    {"index", T_ULONGLONG, offsetof(EventObject, index), READONLY,
     "Which event this is among those the run handed out, from 0."},
    {nullptr, 0, 0, 0, nullptr}};

PyGetSetDef eventGetters[] = {
    {"banks", eventBanks, nullptr,
     "A dict of bank name to read-only numpy array (empty for begin/end-of-run and message events).", nullptr},
    {"odb", eventOdb, nullptr, "The ODB dump of a begin- or end-of-run event (tarn.Odb); None for other events.",
     nullptr},
    {"datetime", eventDatetime, nullptr, "The time stamp as an aware datetime in UTC.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

void iteratorDealloc(PyObject* self) {
  Py_XDECREF(reinterpret_cast<IteratorObject*>(self)->owner);
  Py_TYPE(self)->tp_free(self);
}

PyObject* iteratorNext(PyObject* self) {
  return guarded([&] { return reinterpret_cast<IteratorObject*>(self)->run->nextObject(); });
}

}  // namespace

PyObject* newEvent(const TMidasEvent& e, uint64_t index) {
  EventObject* o = PyObject_New(EventObject, &EventType);
  if (!o) return nullptr;
  o->id = e.GetEventId();
  o->triggerMask = e.GetTriggerMask();
  o->serial = e.GetSerialNumber();
  o->time = e.GetTimeStamp();
  o->dataSize = e.GetDataSize();
  o->index = index;
  o->odb = nullptr;
  o->event = new (std::nothrow) TMidasEvent(e);
  if (!o->event) {
    Py_DECREF(o);
    return PyErr_NoMemory();
  }
  return reinterpret_cast<PyObject*>(o);
}

PyObject* newEventIterator(Run* run, py::handle owner) {
  IteratorObject* o = PyObject_New(IteratorObject, &IteratorType);
  if (!o) throw py::error_already_set();
  o->run = run;
  o->owner = owner.inc_ref().ptr();
  return reinterpret_cast<PyObject*>(o);
}

void defineEventTypes(py::module_& m) {
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&EventType), 1);
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&IteratorType), 1);
  EventType.tp_name = "tarn.Event";
  EventType.tp_basicsize = sizeof(EventObject);
  EventType.tp_dealloc = eventDealloc;
  EventType.tp_repr = eventRepr;
  EventType.tp_flags = Py_TPFLAGS_DEFAULT;
  EventType.tp_doc =
      "One event of a run, a copy of its own.\n\n"
      "It stays valid after the iteration moves on and after the run is closed.\n"
      "banks maps each bank's four-character name to a read-only numpy array of\n"
      "the bank's MIDAS type, a view of the event's data (no copy).";
  EventType.tp_members = eventMembers;
  EventType.tp_getset = eventGetters;
  IteratorType.tp_name = "tarn.EventIterator";
  IteratorType.tp_basicsize = sizeof(IteratorObject);
  IteratorType.tp_dealloc = iteratorDealloc;
  IteratorType.tp_flags = Py_TPFLAGS_DEFAULT;
  IteratorType.tp_doc = "The events of a run, one by one.";
  IteratorType.tp_iter = PyObject_SelfIter;
  IteratorType.tp_iternext = iteratorNext;
  if (PyType_Ready(&EventType) < 0 || PyType_Ready(&IteratorType) < 0) throw py::error_already_set();
  Py_INCREF(&EventType);
  m.add_object("Event", reinterpret_cast<PyObject*>(&EventType));
}

}  // namespace tarnpy
