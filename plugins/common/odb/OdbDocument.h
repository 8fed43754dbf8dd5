// One ODB dump parsed for the handling of one value: the document and its
// XPath context live as long as this object and are released with it.
#pragma once

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <string>

// The two forms MIDAS writes a dump in, told apart by the first character
// that is not white space: "{" for JSON, anything else is taken for XML.
enum class OdbForm { Xml, Json };
const char* odbFormName(OdbForm form);  // "XML", "JSON"

class OdbDocument {
 public:
  // `text` is untrusted: it is parsed without network access, entity
  // substitution or lifted size limits, and without messages of the parser's
  // own. A null text, or one that is not well-formed in its form, gives no
  // document. A JSON dump is read into the elements its XML form would give.
  explicit OdbDocument(const char* text);
  ~OdbDocument();
  OdbDocument(const OdbDocument&) = delete;
  OdbDocument& operator=(const OdbDocument&) = delete;

  bool parsed() const { return context != nullptr; }
  // Makes every element of a JSON dump, which are otherwise made as lookups
  // (odbFirstElement) reach them; for walking the whole tree.
  void complete() const;
  OdbForm textForm() const { return form; }
  xmlDoc* document() const { return doc; }
  xmlXPathContext* xpathContext() const { return context; }

 private:
  xmlDoc* doc;
  xmlXPathContext* context;
  OdbForm form;
};

enum class OdbLookup {
  Unresolved,  // no context, or the expression failed or gave no node set
  NoNode,      // the node set is empty, or its first node is not an element
  Found,
};

// The first node that `xpath` selects. Only elements are handed out: other
// nodes (attributes, namespaces, text) are not keys and are not read.
OdbLookup odbFirstElement(xmlXPathContext* context, const std::string& xpath, xmlNode*& node);

// An attribute of an element as text; false when the element lacks it.
bool odbAttribute(xmlNode* element, const char* name, std::string& value);

// True for an element child named "value" (one element of an array key).
bool odbIsValueElement(const xmlNode* node);
