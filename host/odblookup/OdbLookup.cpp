#include "OdbLookup.h"

#include <strings.h>

#include <cstdlib>

#include "OdbPath.h"

namespace {

std::string attribute(const xmlNode* node, const char* name) {
  xmlChar* v = xmlGetProp(node, BAD_CAST name);
  std::string s = v ? reinterpret_cast<const char*>(v) : "";
  xmlFree(v);
  return s;
}

bool named(const xmlNode* node, const char* tag) {
  return node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST tag);
}

// The entry of `dir` called `name`: exact first, else the one case-blind match.
xmlNode* entry(const xmlNode* dir, const std::string& name, bool& ambiguous) {
  xmlNode* blind = nullptr;
  int blindCount = 0;
  for (xmlNode* e : odbEntries(dir)) {
    const std::string n = odbName(e);
    if (n == name) return e;
    if (strcasecmp(n.c_str(), name.c_str()) == 0 && ++blindCount == 1) blind = e;
  }
  ambiguous = blindCount > 1;
  return blindCount == 1 ? blind : nullptr;
}

}  // namespace

bool odbIsDirectory(const xmlNode* node) { return named(node, "dir") || named(node, "odb"); }

std::string odbName(const xmlNode* node) { return attribute(node, "name"); }

std::string odbType(const xmlNode* node) { return odbIsDirectory(node) ? "" : attribute(node, "type"); }

std::vector<xmlNode*> odbEntries(const xmlNode* dir) {
  std::vector<xmlNode*> out;
  for (xmlNode* c = dir->children; c; c = c->next)
    if (named(c, "dir") || named(c, "key") || named(c, "keyarray")) out.push_back(c);
  return out;
}

std::vector<std::string> odbValues(const xmlNode* key) {
  auto text = [](const xmlNode* n) {
    xmlChar* t = xmlNodeGetContent(n);
    std::string s = t ? reinterpret_cast<const char*>(t) : "";
    xmlFree(t);
    return s;
  };
  if (!named(key, "keyarray")) return {text(key)};
  std::vector<std::string> out;
  for (xmlNode* c = key->children; c; c = c->next)
    if (named(c, "value")) out.push_back(text(c));
  return out;
}

bool odbResolve(const OdbDocument& dump, const std::string& path, OdbItem& item, std::string& error) {
  item = OdbItem();
  dump.complete();
  xmlNode* at = dump.parsed() ? xmlDocGetRootElement(dump.document()) : nullptr;
  if (!at) {
    error = "the ODB dump is not well-formed " + std::string(odbFormName(dump.textForm()));
    return false;
  }
  size_t from = 0;
  while (at && from <= path.size()) {
    size_t slash = path.find('/', from);
    if (slash == std::string::npos) slash = path.size();
    std::string segment = path.substr(from, slash - from);
    from = slash + 1;
    if (segment.empty()) continue;
    if (!odbIsDirectory(at)) {
      error = "no such path in the ODB: " + path + " (" + odbName(at) + " is no directory)";
      return false;
    }
    int index = -1;
    const size_t open = segment.rfind('[');
    if (slash == path.size() && segment.back() == ']' && open != std::string::npos && open > 0) {
      index = static_cast<int>(odbLeadingInteger(segment.c_str() + open + 1));
      segment.erase(open);
    }
    bool ambiguous = false;
    xmlNode* next = entry(at, segment, ambiguous);
    if (!next) {
      error = ambiguous ? "ambiguous path in the ODB: " + path + " (" + segment + " matches more than one name)"
                        : "no such path in the ODB: " + path;
      return false;
    }
    if (index >= 0) {
      const size_t count = odbValues(next).size();
      if (!named(next, "keyarray") || static_cast<size_t>(index) >= count) {
        error = "no such path in the ODB: " + path + " (no element " + std::to_string(index) + ")";
        return false;
      }
    }
    at = next;
    item.index = index;
  }
  item.node = at;
  return true;
}
