// One ODB path, evaluated on dump after dump, with the value it finds kept in
// storage of the query's own so that a strand property can point at it. The
// storage keeps its address for as long as the key's type and shape stay the
// same; a query is its storage's only owner.
#pragma once

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <string>

#include "tarn_type.h"

class ODBQuery {
 public:
  // One MIDAS type: the port types of a single value and of a whole array,
  // and the operations on storage of its value type (null when unsupported).
  struct TypeMap {
    const char* name;
    tarn_type single;
    tarn_type list;
    void (ODBQuery::*destroy)();
    void (ODBQuery::*create)();
    bool (ODBQuery::*convert)(xmlNode*);
  };
  // Searched in order by exact name; the row with the empty name ends it.
  static const TypeMap ODBTypeMaps[];

  ODBQuery();
  ~ODBQuery();
  // A copy carries the path and its translation but starts without storage;
  // a move hands the storage over and leaves the source without it.
  ODBQuery(const ODBQuery& other);
  ODBQuery& operator=(const ODBQuery& other);
  ODBQuery(ODBQuery&& other) noexcept;
  ODBQuery& operator=(ODBQuery&& other) noexcept;

  void setODBPath(const std::string& path);
  // Reads the key from the dump behind `context` into the storage. False with
  // the reason in getError() when the path, the node or the type fails; the
  // storage then keeps its content, except that an unsupported type drops it.
  // A null context (a dump that did not parse) resolves nothing.
  bool evaluate(xmlXPathContext* context);

  const std::string& getPath() const { return path; }
  const std::string& getXPath() const { return xpath; }
  bool isWholeArray() const { return wholeArray; }
  int getIndex() const { return index; }
  const std::string& getError() const { return error; }
  // The storage: a T, or a std::vector<T> when made for a whole array; null
  // while there is none.
  void* getValue() const { return value; }
  const TypeMap* getTypeMap() const { return typeMap; }
  // The port type of the storage as it is now (TARN_NONE without storage).
  tarn_type getValueType() const;

  template <typename T> void create();
  template <typename T> void destroy();
  template <typename T> bool convert(xmlNode* node);
  template <typename T> T convert_string(const char* text);

 private:
  void release();
  void copyTranslation(const ODBQuery& other);

  std::string path;
  std::string xpath;
  bool wholeArray;
  int index;
  void* value;
  std::string error;
  const TypeMap* typeMap;
  bool listStorage;  // the shape `value` was made in
};
