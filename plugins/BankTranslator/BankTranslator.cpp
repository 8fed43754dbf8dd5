#include "BankTranslator.h"

#include <cstddef>
#include <cstring>
#include <iostream>
#include <sstream>

#include "BankElements.h"
#include "HostValues.h"
#include "Plugin.h"
#include "BankWalk.h"
#include "TMidasEvent.h"

namespace {

const char* const kDescriptionHelp =
    "Description how to translate the MIDAS bank data to StrandProperties.";

template <class T>
void* newVector() {
  return new std::vector<T>();
}
void* newText() {
  return new std::string();
}

template <class T>
void pushElement(void* c, const char* at) {
  static_cast<std::vector<T>*>(c)->push_back(bankElement<T>(at, 0));
}
void pushBool(void* c, const char* at) {
  static_cast<std::vector<bool>*>(c)->push_back(at[0] != 0);
}
// A BITFIELD element is one byte; it is kept in a 16-bit list.
void pushBitfield(void* c, const char* at) {
  static_cast<std::vector<uint16_t>*>(c)->push_back(static_cast<unsigned char>(at[0]));
}
// CHAR elements are text; BYTE and SBYTE elements are numbers, written in
// decimal and separated by one blank.
void pushChar(void* c, const char* at) {
  static_cast<std::string*>(c)->push_back(at[0]);
}
void appendNumber(std::string& s, int v) {
  if (!s.empty()) s.push_back(' ');
  s += std::to_string(v);
}
void pushByte(void* c, const char* at) {
  appendNumber(*static_cast<std::string*>(c), static_cast<unsigned char>(at[0]));
}
void pushSbyte(void* c, const char* at) {
  appendNumber(*static_cast<std::string*>(c), static_cast<signed char>(at[0]));
}

template <class T>
void clearVector(void* c) {
  static_cast<std::vector<T>*>(c)->clear();
}
void clearText(void* c) {
  static_cast<std::string*>(c)->clear();
}

// Bank types whose containers are of one class share the lowest such type.
unsigned containerKind(unsigned type) {
  switch (type) {
    case TID_SBYTE:
    case TID_CHAR: return TID_BYTE;
    case TID_BITFIELD: return TID_WORD;
    default: return type;
  }
}

// WORD and DWORD lists (and BITFIELD's, kept as WORDs) go out under the signed
// list types of their width; a host that asks is told the elements are unsigned.
bool unsignedKind(unsigned kind) { return kind == TID_WORD || kind == TID_DWORD; }

void freeContainer(unsigned kind, void* c) {
  if (unsignedKind(kind)) tellHostValuesAreUnsigned(c, false);
  switch (kind) {
    case TID_BYTE: delete static_cast<std::string*>(c); break;
    case TID_WORD: delete static_cast<std::vector<uint16_t>*>(c); break;
    case TID_SHORT: delete static_cast<std::vector<int16_t>*>(c); break;
    case TID_DWORD: delete static_cast<std::vector<uint32_t>*>(c); break;
    case TID_INT: delete static_cast<std::vector<int32_t>*>(c); break;
    case TID_BOOL: delete static_cast<std::vector<bool>*>(c); break;
    case TID_FLOAT: delete static_cast<std::vector<float>*>(c); break;
    case TID_DOUBLE: delete static_cast<std::vector<double>*>(c); break;
    default: break;
  }
}

uint32_t nameKey(const char* name4) {
  uint32_t k;
  std::memcpy(&k, name4, sizeof k);
  return k;
}

// Only the first four characters of a name count; shorter names are NUL-padded.
uint32_t nameKey(const std::string& name) {
  char four[4] = {0, 0, 0, 0};
  std::memcpy(four, name.data(), name.size() < 4 ? name.size() : 4);
  return nameKey(four);
}

}  // namespace

// clang-format off
const int BankTranslator::TID_SIZE[kTypes] = {0, 1, 1, 1, 2, 2, 4, 4, 4, 4, 8, 1, 0, 0, 0, 0, 0};

const tarn_type BankTranslator::mtypes[kTypes] = {
    TARN_NONE,
    TARN_STRING,   TARN_STRING,   TARN_STRING,   // BYTE, SBYTE, CHAR
    TARN_SHORT_V,  TARN_SHORT_V,                 // WORD, SHORT
    TARN_INT_V,    TARN_INT_V,                   // DWORD, INT
    TARN_BOOL_V,   TARN_FLOAT_V,  TARN_DOUBLE_V,
    TARN_SHORT_V,                                // BITFIELD
    TARN_CSTRING,  TARN_ARRAY,    TARN_STRUCT,   TARN_CSTRING,  // STRING, ARRAY, STRUCT, KEY
    TARN_NONE};                                  // LINK

const BankTranslator::InitFct BankTranslator::initfct[kTypes] = {
    nullptr,
    newText,               newText,               newText,
    newVector<uint16_t>,   newVector<int16_t>,
    newVector<uint32_t>,   newVector<int32_t>,
    newVector<bool>,       newVector<float>,      newVector<double>,
    newVector<uint16_t>,
    nullptr, nullptr, nullptr, nullptr, nullptr};

const BankTranslator::PushBackFct BankTranslator::pushbackfct[kTypes] = {
    nullptr,
    pushByte,              pushSbyte,             pushChar,
    pushElement<uint16_t>, pushElement<int16_t>,
    pushElement<uint32_t>, pushElement<int32_t>,
    pushBool,              pushElement<float>,    pushElement<double>,
    pushBitfield,
    nullptr, nullptr, nullptr, nullptr, nullptr};

const BankTranslator::ClearFct BankTranslator::clearfct[kTypes] = {
    nullptr,
    clearText,             clearText,             clearText,
    clearVector<uint16_t>, clearVector<int16_t>,
    clearVector<uint32_t>, clearVector<int32_t>,
    clearVector<bool>,     clearVector<float>,    clearVector<double>,
    clearVector<uint16_t>,
    nullptr, nullptr, nullptr, nullptr, nullptr};
// clang-format on

BankTranslator::BankTranslator(std::string& n)
    : TarnBase(nullptr, "NoName"), event(nullptr), ownEvent(new StrandEvent), adopting(false) {
  event = ownEvent;
  name = n;
  description = "Transform MIDAS event to StrandEvent";
  inputs.push_back(Input("fevent", static_cast<Handler>(&BankTranslator::setStrandEvent),
                         TARN_STRANDEVENT,
                         "Alternative strand event, generated by StrandEventGenerator."));
  inputs.push_back(Input("mevent", static_cast<Handler>(&BankTranslator::processEvent), TARN_OBJECT,
                         "Midas event"));
  inputs.push_back(Input("banks", static_cast<Handler>(&BankTranslator::setBanknames),
                         TARN_STRING_V, "Bank names affected"));
  outputs.push_back(Output("fevent", TARN_STRANDEVENT,
                           "The StrandEvent with StrandProperties as defined in the inputs."));
  std::cout << name << " instantiated" << std::endl;
}

BankTranslator::~BankTranslator() {
  std::cout << name << " deleted" << std::endl;
  delete ownEvent;
  // Containers in an event of another plug-in stay: its owner may still show them.
  for (const auto& m : made)
    if (m.second.inOwnEvent) freeContainer(m.second.kind, m.first);
}

bool BankTranslator::AddReceiver(int output, TarnBase* receiver, int input) {
  if (!TarnBase::AddReceiver(output, receiver, input)) return false;
  // Deliver as the host does; the receiver may rebuild its inputs meanwhile.
  const Input& in = receiver->inputs[input];
  const Handler h = in.handler, h2 = in.handler2;
  TarnBase* target = in.target;
  StrandEvent* shown = event;
  shown->layout = true;
  receiver->currentInput = input;
  if (h == h2) {
    if (h) (receiver->*h)(shown);
  } else if (target && h2) {
    target->currentInput = input;
    (target->*h2)(shown);
  }
  shown->layout = false;
  return true;
}

void BankTranslator::setStrandEvent(void* value) {
  if (!value) return;
  StrandEvent* received = static_cast<StrandEvent*>(value);
  // A graph that leads our output back here would hand the event round for ever.
  if (!received->layout || adopting) return;
  adopting = true;
  event = received;
  // The bank table points into the previous event: apply the bank list again,
  // after which the host delivers each description again.
  const std::string banksText = GetInputString(2);
  if (!banksText.empty()) {
    SetInput(2, banksText);
  } else {
    // The list came from a connection, not a setting: re-apply what it made.
    std::vector<std::string> names;
    for (size_t i = 3; i < inputs.size(); ++i) names.push_back(inputs[i].name);
    SetInput(2, static_cast<void*>(&names));
  }
  SendOutput(0, event);
  adopting = false;
}

void BankTranslator::setBanknames(void* value) {
  if (!value) return;
  std::vector<std::string> names = *static_cast<std::vector<std::string>*>(value);
  banks.clear();
  replaceInputs(Input("dummy", static_cast<Handler>(&BankTranslator::setBankstrand), TARN_STRING,
                      kDescriptionHelp),
                names, 3, 0);
}

void BankTranslator::setBankstrand(void* value) {
  if (!value || currentInput < 0 || currentInput >= static_cast<int>(inputs.size())) return;
  bkpropsstruct& entry = banks[nameKey(inputs[currentInput].name)];
  std::istringstream words(*static_cast<const std::string*>(value));
  std::string w;
  while (words >> w) {
    if (w == ".")
      entry.cyclic = false;
    else if (w == "*")
      entry.props.push_back(nullptr);
    else
      entry.props.push_back(&(*event)[w]);
  }
}

bool BankTranslator::ownsProperty(const StrandProperty* p) {
  for (const auto& kv : *ownEvent)
    if (&kv.second == p) return true;
  return false;
}

void* BankTranslator::containerFor(StrandProperty* p, unsigned type, bool& created) {
  if (!p->value) {
    p->type = mtypes[type];
    p->value = initfct[type]();
    made[p->value] = Made{containerKind(type), ownsProperty(p)};
    if (unsignedKind(containerKind(type))) tellHostValuesAreUnsigned(p->value, true);
    created = true;
    return p->value;
  }
  // Another plug-in's value, or a list of another bank type, is left alone:
  // appending to it as this type would corrupt it.
  auto m = made.find(p->value);
  if (m == made.end() || m->second.kind != containerKind(type)) return nullptr;
  return p->value;
}

void BankTranslator::translateBank(uint32_t key, uint32_t type, const char* data, uint32_t size,
                                   bool& created, std::vector<Filled>& filled) {
  auto entry = banks.find(key);
  if (entry == banks.end()) return;
  const unsigned t = type < kTypes ? type : 0;
  const size_t elementSize = static_cast<size_t>(TID_SIZE[t]);
  if (elementSize == 0) return;
  const bkpropsstruct& e = entry->second;
  const size_t m = e.props.size();
  if (m == 0) return;
  size_t n = size / elementSize;
  if (!e.cyclic && n > m) n = m;
  // Positions that some element reaches get their container first.
  const size_t reached = n < m ? n : m;
  targets.assign(reached, nullptr);
  for (size_t j = 0; j < reached; ++j) {
    if (!e.props[j]) continue;
    targets[j] = containerFor(e.props[j], t, created);
    if (targets[j]) filled.push_back(Filled{targets[j], clearfct[t]});
  }
  const PushBackFct push = pushbackfct[t];
  for (size_t i = 0, j = 0; i < n; ++i) {
    if (targets[j]) push(targets[j], data + i * elementSize);
    if (++j == m) j = 0;
  }
}

void BankTranslator::processEvent(void* value) {
  if (!value) return;
  const TMidasEvent& midas = *static_cast<const TMidasEvent*>(value);
  StrandEvent* out = event;  // stays the one sent and reset, whatever receivers do
  bool created = false;
  std::vector<Filled> filled;
  forEachBank(midas, [&](const char* name4, uint32_t type, const char* data, uint32_t size) {
    const uint32_t key = nameKey(name4);
    translateBank(key, type, data, size, created, filled);
  });
  if (created) {
    out->layout = true;
    SendOutput(0, out);
    out->layout = false;
  }
  SendOutput(0, out);
  out->Reset();
  for (const Filled& f : filled) f.clear(f.container);
}

TARN_PLUGIN(BankTranslator)
