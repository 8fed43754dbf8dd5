// One ODB dump parsed for the handling of one value: the document and its
// XPath context live as long as this object and are released with it.
#pragma once

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <string>

class OdbDocument {
 public:
  // `text` is untrusted: it is parsed without network access, entity
  // substitution or lifted size limits, and without messages of the parser's
  // own. A null text, or one that is not well-formed XML, gives no document.
  explicit OdbDocument(const char* text);
  ~OdbDocument();
  OdbDocument(const OdbDocument&) = delete;
  OdbDocument& operator=(const OdbDocument&) = delete;

  bool parsed() const { return context != nullptr; }
  xmlDoc* document() const { return doc; }
  xmlXPathContext* xpathContext() const { return context; }

 private:
  xmlDoc* doc;
  xmlXPathContext* context;
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
