#include "Odb.h"

#include <pybind11/numpy.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "OdbDocument.h"
#include "OdbLookup.h"

namespace py = pybind11;

namespace tarnpy {

namespace {

enum class Kind { Integer, Unsigned, Real, Boolean, Text };

Kind kindOf(const std::string& type) {
  if (type == "INT" || type == "SHORT" || type == "SBYTE" || type == "INT32" || type == "INT16" ||
      type == "INT8" || type == "INT64")
    return Kind::Integer;
  if (type == "DWORD" || type == "WORD" || type == "BYTE" || type == "UINT32" || type == "UINT16" ||
      type == "UINT8" || type == "UINT64" || type == "BITFIELD")
    return Kind::Unsigned;
  if (type == "FLOAT" || type == "DOUBLE") return Kind::Real;
  if (type == "BOOL") return Kind::Boolean;
  return Kind::Text;  // STRING, LINK, CHAR and types this reader does not know
}

// A value's text as its type; the text itself when it is not a number after all.
py::object scalar(Kind kind, const std::string& text) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  switch (kind) {
    case Kind::Integer: {
      const long long v = std::strtoll(s, &end, 0);
      if (end != s && !*end && !errno) return py::int_(v);
      break;
    }
    case Kind::Unsigned: {
      const unsigned long long v = std::strtoull(s, &end, 0);
      if (end != s && !*end && !errno && text[0] != '-') return py::int_(v);
      break;
    }
    case Kind::Real: {
      const double v = std::strtod(s, &end);
      if (end != s && !*end) return py::float_(v);
      break;
    }
    case Kind::Boolean:
      if (text == "y" || text == "true" || text == "1") return py::bool_(true);
      if (text == "n" || text == "false" || text == "0") return py::bool_(false);
      break;
    case Kind::Text: break;
  }
  return py::str(text);
}

py::object arrayOf(Kind kind, const std::vector<std::string>& texts) {
  py::list items;
  for (const std::string& t : texts) items.append(scalar(kind, t));
  if (kind == Kind::Text) return std::move(items);
  const char* dtype = kind == Kind::Integer ? "int64" : kind == Kind::Unsigned ? "uint64"
                      : kind == Kind::Real ? "float64" : "bool";
  // A value that did not read as its type leaves the list as it is rather than fail.
  for (py::handle item : items)
    if (py::isinstance<py::str>(item)) return std::move(items);
  return py::module_::import("numpy").attr("array")(items, dtype);
}

py::object valueOf(xmlNode* node, int index) {
  if (odbIsDirectory(node)) {
    py::dict entries;
    for (xmlNode* child : odbEntries(node)) entries[py::str(odbName(child))] = valueOf(child, -1);
    return std::move(entries);
  }
  const Kind kind = kindOf(odbType(node));
  const std::vector<std::string> texts = odbValues(node);
  const bool array = node->name && std::string(reinterpret_cast<const char*>(node->name)) == "keyarray";
  if (index >= 0) {
    if (static_cast<size_t>(index) >= texts.size()) throw py::index_error("ODB index out of range");
    return scalar(kind, texts[index]);
  }
  if (array) return arrayOf(kind, texts);
  if (texts.empty()) return py::none();
  return scalar(kind, texts[0]);
}

}  // namespace

Odb::Odb(std::string text) : dumpText(std::move(text)), document(new OdbDocument(dumpText.c_str())) {}
Odb::~Odb() = default;

bool Odb::parsed() const { return document->parsed(); }
std::string Odb::form() const { return odbFormName(document->textForm()); }

py::object Odb::get(const std::string& path) const {
  if (!document->parsed()) throw py::key_error("the ODB dump did not parse: " + path);
  OdbItem item;
  std::string error;
  if (!odbResolve(*document, path, item, error)) throw py::key_error(error);
  if (odbIsDirectory(item.node)) document->complete();
  return valueOf(item.node, item.index);
}

bool Odb::contains(const std::string& path) const {
  if (!document->parsed()) return false;
  OdbItem item;
  std::string error;
  return odbResolve(*document, path, item, error);
}

void defineOdb(py::module_& m) {
  py::class_<Odb, std::shared_ptr<Odb>>(m, "Odb", R"(An ODB dump (XML or JSON), looked into by path.

odb["/Runinfo/Run number"] gives a key's value (int, float, bool or str),
an array key as a numpy array (strings as a list), "Key[i]" one element,
and a directory as a dict of its entries. Each name is matched exactly,
else by the one name that matches it without regard to case. A path that
is not there is a KeyError naming it.)")
      .def("__getitem__", &Odb::get, py::arg("path"))
      .def("__contains__", &Odb::contains, py::arg("path"))
      .def("get", [](const Odb& o, const std::string& path, py::object fallback) {
             return o.contains(path) ? o.get(path) : fallback;
           }, py::arg("path"), py::arg("default") = py::none(), "The value at path, or default when it is not there.")
      .def_property_readonly("form", &Odb::form, "\"XML\" or \"JSON\": the form of the dump.")
      .def_property_readonly("parsed", &Odb::parsed, "Whether the dump parsed (False: every lookup fails).")
      .def_property_readonly("text", [](const Odb& o) { return py::bytes(o.text()); }, "The dump as bytes.")
      .def("__repr__", [](const Odb& o) {
        return "<tarn.Odb " + o.form() + ", " + std::to_string(o.text().size()) + " bytes>";
      });
}

}  // namespace tarnpy
