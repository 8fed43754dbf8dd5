#include "OdbJson.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

#include "OdbJsonIndex.h"

using namespace odbjson;

namespace {

// What an element stands for until it is made whole.
struct Lazy {
  bool directory;
  uint32_t index;  // of `dirs` or `members`
  bool done = false;
};

// What a document made here holds besides its elements.
struct LazyDocument {
  std::unique_ptr<OdbJsonIndex> index;
  std::deque<Lazy> lazies;  // one per element not yet whole
};

LazyDocument* lazyOf(xmlDoc* doc) { return doc ? static_cast<LazyDocument*>(doc->_private) : nullptr; }

void attach(LazyDocument& d, xmlNode* node, bool directory, uint32_t index) {
  d.lazies.push_back(Lazy{directory, index});
  node->_private = &d.lazies.back();
}

void addText(xmlDoc* doc, xmlNode* e, const std::string& text) {
  // An empty value has no text node, as an empty XML element has none.
  if (!text.empty()) xmlAddChild(e, xmlNewDocTextLen(doc, BAD_CAST text.data(), static_cast<int>(text.size())));
}

// Makes a directory's entries (named, not yet whole), or a key's type and values.
void expand(xmlDoc* doc, LazyDocument& d, xmlNode* node) {
  const OdbJsonIndex& ix = *d.index;
  Lazy* lazy = static_cast<Lazy*>(node->_private);
  if (!lazy || lazy->done) return;
  lazy->done = true;
  if (lazy->directory) {
    const Dir& dir = ix.dirs[lazy->index];
    for (uint32_t i = dir.first; i < dir.first + dir.count; ++i) {
      const Member& m = ix.members[i];
      const char* tag = m.shape == Member::Dir ? "dir" : m.shape == Member::Array ? "keyarray" : "key";
      xmlNode* e = xmlNewDocNode(doc, nullptr, BAD_CAST tag, nullptr);
      if (!e) continue;
      xmlAddChild(node, e);
      xmlNewProp(e, BAD_CAST "name", BAD_CAST std::string(ix.text(m.nameAt, m.nameSize)).c_str());
      attach(d, e, m.shape == Member::Dir, m.shape == Member::Dir ? m.first : i);
    }
    return;
  }
  const Member& m = ix.members[lazy->index];
  const std::string type = ix.typeOf(m);
  xmlNewProp(node, BAD_CAST "type", BAD_CAST type.c_str());
  if (m.shape != Member::Array) return addText(doc, node, ix.xmlText(ix.values[m.first], type));
  xmlNewProp(node, BAD_CAST "num_values", BAD_CAST std::to_string(m.count).c_str());
  for (uint32_t i = m.first; i < m.first + m.count; ++i) {
    xmlNode* value = xmlNewDocNode(doc, nullptr, BAD_CAST "value", nullptr);
    if (!value) continue;
    xmlAddChild(node, value);
    addText(doc, value, ix.xmlText(ix.values[i], type));
  }
}

// The name in a step `TAG[@name="NAME"]` with no quote in NAME; false for any other step.
bool simpleStep(std::string_view step, std::string_view& tag, std::string_view& name) {
  const size_t open = step.find("[@name=\"");
  if (open == std::string_view::npos || step.size() < open + 10 || step.substr(step.size() - 2) != "\"]")
    return false;
  tag = step.substr(0, open);
  name = step.substr(open + 8, step.size() - open - 10);
  return name.find('"') == std::string_view::npos;
}

bool hasName(xmlNode* e, std::string_view tag, std::string_view name) {
  if (e->type != XML_ELEMENT_NODE || std::string_view(reinterpret_cast<const char*>(e->name)) != tag)
    return false;
  const xmlAttr* a = xmlHasProp(e, BAD_CAST "name");
  const xmlNode* t = a ? a->children : nullptr;
  return t && !t->next && t->content && std::string_view(reinterpret_cast<const char*>(t->content)) == name;
}

}  // namespace

xmlDoc* odbJsonDocument(const char* text, size_t length) {
  if (!text || length > static_cast<size_t>(INT_MAX)) return nullptr;
  xmlDoc* doc = nullptr;
  try {
    std::unique_ptr<LazyDocument> lazy(new LazyDocument);
    lazy->index = readOdbJson(text, length, kOdbJsonDepthLimit);
    if (!lazy->index) return nullptr;
    doc = xmlNewDoc(BAD_CAST "1.0");
    xmlNode* root = doc ? xmlNewDocNode(doc, nullptr, BAD_CAST "odb", nullptr) : nullptr;
    if (!root) {
      if (doc) xmlFreeDoc(doc);
      return nullptr;
    }
    xmlDocSetRootElement(doc, root);
    LazyDocument* d = lazy.release();
    doc->_private = d;
    attach(*d, root, true, d->index->root);
  } catch (const std::exception&) {
    // only a failed allocation is thrown here
    odbJsonFree(doc);
    return nullptr;
  }
  return doc;
}

void odbJsonFree(xmlDoc* doc) {
  if (!doc) return;
  LazyDocument* d = lazyOf(doc);
  xmlFreeDoc(doc);
  delete d;
}

void odbJsonPrepare(xmlDoc* doc, const std::string& xpath) {
  LazyDocument* d = lazyOf(doc);
  if (!d) return;
  xmlNode* root = xmlDocGetRootElement(doc);
  if (xpath.compare(0, 4, "/odb") != 0) return odbJsonComplete(doc);
  std::vector<xmlNode*> reached{root};
  const std::string_view path(xpath);
  size_t at = 4;
  while (at < path.size()) {
    for (xmlNode* n : reached) expand(doc, *d, n);
    const size_t next = std::min(path.find('/', at + 1), path.size());
    const std::string_view step = path.substr(at + 1, next - at - 1);
    std::string_view tag, name;
    if (!simpleStep(step, tag, name)) {
      // Elements of arrays are made with their key; any other step may look anywhere.
      if (step.substr(0, 6) != "value[" || next != path.size()) odbJsonComplete(doc);
      return;
    }
    std::vector<xmlNode*> further;
    for (xmlNode* n : reached)
      for (xmlNode* c = n->children; c; c = c->next)
        if (hasName(c, tag, name)) further.push_back(c);
    reached.swap(further);
    at = next;
  }
  for (xmlNode* n : reached) expand(doc, *d, n);
}

void odbJsonComplete(xmlDoc* doc) {
  LazyDocument* d = lazyOf(doc);
  if (!d) return;
  std::vector<xmlNode*> todo{xmlDocGetRootElement(doc)};
  while (!todo.empty()) {
    xmlNode* n = todo.back();
    todo.pop_back();
    expand(doc, *d, n);
    for (xmlNode* c = n->children; c; c = c->next)
      if (c->type == XML_ELEMENT_NODE) todo.push_back(c);
  }
}
