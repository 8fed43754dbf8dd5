#include "OdbDocument.h"

#include <libxml/parser.h>

#include <cctype>
#include <climits>
#include <cstring>

#include "OdbJson.h"

const char* odbFormName(OdbForm form) { return form == OdbForm::Json ? "JSON" : "XML"; }

namespace {

// XPath errors are reported by the callers in their own words.
void quiet(void*, xmlError*) {}

}  // namespace

OdbDocument::OdbDocument(const char* text) : doc(nullptr), context(nullptr), form(OdbForm::Xml) {
  if (!text) return;
  const size_t length = std::strlen(text);
  if (length > static_cast<size_t>(INT_MAX)) return;
  const char* first = text;
  while (std::isspace(static_cast<unsigned char>(*first))) ++first;
  if (*first == '{') {
    form = OdbForm::Json;
    doc = odbJsonDocument(text, length);
  } else {
    doc = xmlReadMemory(text, static_cast<int>(length), nullptr, nullptr,
                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  }
  if (!doc) return;
  context = xmlXPathNewContext(doc);
  if (context) context->error = quiet;
}

OdbDocument::~OdbDocument() {
  if (context) xmlXPathFreeContext(context);
  if (form == OdbForm::Json)
    odbJsonFree(doc);
  else if (doc)
    xmlFreeDoc(doc);
}

void OdbDocument::complete() const { odbJsonComplete(doc); }

OdbLookup odbFirstElement(xmlXPathContext* context, const std::string& xpath, xmlNode*& node) {
  node = nullptr;
  if (!context || xpath.empty()) return OdbLookup::Unresolved;
  odbJsonPrepare(context->doc, xpath);  // a JSON dump makes what the path reaches
  xmlXPathObject* result =
      xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath.c_str()), context);
  OdbLookup found = OdbLookup::Unresolved;
  // libxml2 may give an empty node set as a set result without a set.
  if (result && result->type == XPATH_NODESET) {
    found = OdbLookup::NoNode;
    const xmlNodeSet* set = result->nodesetval;
    if (set && set->nodeNr > 0 && set->nodeTab[0]->type == XML_ELEMENT_NODE) {
      node = set->nodeTab[0];
      found = OdbLookup::Found;
    }
  }
  if (result) xmlXPathFreeObject(result);
  return found;
}

bool odbAttribute(xmlNode* element, const char* name, std::string& value) {
  value.clear();
  if (!element || element->type != XML_ELEMENT_NODE) return false;
  xmlChar* text = xmlGetProp(element, reinterpret_cast<const xmlChar*>(name));
  if (!text) return false;
  value = reinterpret_cast<const char*>(text);
  xmlFree(text);
  return true;
}

bool odbIsValueElement(const xmlNode* node) {
  return node->type == XML_ELEMENT_NODE &&
         xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>("value"));
}
