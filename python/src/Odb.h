// An ODB dump (XML or JSON) looked into by path from Python.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

class OdbDocument;

namespace tarnpy {

class Odb {
 public:
  // The dump's text is kept: a JSON dump makes its elements as paths reach them.
  explicit Odb(std::string text);
  ~Odb();

  bool parsed() const;
  std::string form() const;
  // A key's value (an array as numpy), a directory as a dict; KeyError when the path is not there.
  pybind11::object get(const std::string& path) const;
  bool contains(const std::string& path) const;
  const std::string& text() const { return dumpText; }

 private:
  std::string dumpText;
  std::unique_ptr<OdbDocument> document;
};

void defineOdb(pybind11::module_& m);

}  // namespace tarnpy
