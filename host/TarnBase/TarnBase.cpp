// Ports, connections and synchronous delivery of the plug-in base class.
#include "TarnBase.h"

#include <algorithm>
#include <map>

#include "BaseStart.h"
#include "DeliveryRound.h"

TarnBase::Input::Input(const std::string& name_, Handler handler_, tarn_type type_,
                       const std::string& description_)
    : name(name_),
      handler(handler_),
      handler2(handler_),
      type(type_),
      description(description_),
      hostWord(0),
      target(nullptr),
      hostWord2(0) {}

TarnBase::Input::~Input() {}

TarnBase::Output::Output(const std::string& name_, tarn_type type_,
                         const std::string& description_)
    : name(name_), type(type_), description(description_) {}

TarnBase::TarnBase(pluginHandle* handle_, const std::string& name_)
    : name(name_),
      handle(handle_),
      currentInput(-1),
      running(false),
      manager(nullptr),
      posX(0),
      posY(0),
      width(120),
      height(48),
      collapsed(false),
      sentCount(0) {}

TarnBase::~TarnBase() {
  // Unlink both ways so that no node is left holding a pointer to this one,
  // whatever order the host destroys the graph in.
  std::vector<Sender> feeding = senders;
  for (const Sender& s : feeding) s.node->forgetReceiver(this);
  std::vector<TarnBase*> fed = fedNodes;
  for (TarnBase* r : fed) r->forgetSender(this, -1, -1);
}

void TarnBase::Init() {}
void TarnBase::Reset() {}

static int findOutput(const std::vector<TarnBase::Output>& outputs, const std::string& name) {
  for (size_t i = 0; i < outputs.size(); ++i)
    if (outputs[i].name == name) return static_cast<int>(i);
  return -1;
}

bool TarnBase::AddReceiver(const std::string& output, TarnBase* receiver,
                           const std::string& input) {
  if (!receiver) return false;
  int out = findOutput(outputs, output);
  int in = receiver->GetNumberForInput(input);
  if (out < 0 || in < 0) return false;
  return AddReceiver(out, receiver, in);
}

bool TarnBase::AddReceiver(int output, TarnBase* receiver, int input) {
  if (!receiver || output < 0 || output >= static_cast<int>(outputs.size())) return false;
  if (input < 0 || input >= static_cast<int>(receiver->inputs.size())) return false;
  Output& o = outputs[output];
  for (size_t i = 0; i < o.receivers.size(); ++i)
    if (o.receivers[i] == receiver && o.receiverInputs[i] == static_cast<unsigned>(input))
      return false;
  o.receivers.push_back(receiver);
  o.receiverInputs.push_back(static_cast<unsigned>(input));
  o.receivers2.push_back(receiver);
  o.handlers.push_back(receiver->inputs[input].handler);
  fedNodes.push_back(receiver);
  receiver->SetSender(input, this, output);
  return true;
}

bool TarnBase::RemoveReceiver(const std::string& output, TarnBase* receiver,
                              const std::string& input) {
  if (!receiver) return false;
  int out = findOutput(outputs, output);
  int in = receiver->GetNumberForInput(input);
  if (out < 0 || in < 0) return false;
  return RemoveReceiver(out, receiver, in);
}

bool TarnBase::RemoveReceiver(int output, TarnBase* receiver, int input) {
  if (!receiver || output < 0 || output >= static_cast<int>(outputs.size())) return false;
  Output& o = outputs[output];
  for (size_t i = 0; i < o.receivers.size(); ++i) {
    if (o.receivers[i] != receiver || o.receiverInputs[i] != static_cast<unsigned>(input))
      continue;
    o.receivers.erase(o.receivers.begin() + i);
    o.receiverInputs.erase(o.receiverInputs.begin() + i);
    o.receivers2.erase(o.receivers2.begin() + i);
    o.handlers.erase(o.handlers.begin() + i);
    auto f = std::find(fedNodes.begin(), fedNodes.end(), receiver);
    if (f != fedNodes.end()) fedNodes.erase(f);
    receiver->forgetSender(this, output, input);
    return true;
  }
  return false;
}

void TarnBase::RefreshReceivers(int output) {
  if (output < 0 || output >= static_cast<int>(outputs.size())) return;
  Output o = outputs[output];  // a receiver may reconnect while being told
  for (size_t i = 0; i < o.receivers.size(); ++i)
    o.receivers[i]->SetSender(static_cast<int>(o.receiverInputs[i]), this, output);
}

void TarnBase::SetSender(const std::string& input, TarnBase* sender, const std::string& output) {
  if (!sender) return;
  int in = GetNumberForInput(input);
  int out = findOutput(sender->outputs, output);
  if (in >= 0 && out >= 0) SetSender(in, sender, out);
}

void TarnBase::SetSender(int input, TarnBase* sender, int output) {
  for (const Sender& s : senders)
    if (s.node == sender && s.output == output && s.input == input) return;
  senders.push_back(Sender{sender, output, input});
}

void TarnBase::forgetSender(TarnBase* sender, int output, int input) {
  // output and input -1: forget every link from that sender.
  for (size_t i = senders.size(); i-- > 0;) {
    const Sender& s = senders[i];
    if (s.node != sender) continue;
    if (output >= 0 && (s.output != output || s.input != input)) continue;
    senders.erase(senders.begin() + i);
    if (output >= 0) return;
  }
}

void TarnBase::forgetReceiver(TarnBase* receiver) {
  for (Output& o : outputs) {
    for (size_t i = o.receivers.size(); i-- > 0;) {
      if (o.receivers[i] != receiver) continue;
      o.receivers.erase(o.receivers.begin() + i);
      o.receiverInputs.erase(o.receiverInputs.begin() + i);
      o.receivers2.erase(o.receivers2.begin() + i);
      o.handlers.erase(o.handlers.begin() + i);
    }
  }
  fedNodes.erase(std::remove(fedNodes.begin(), fedNodes.end(), receiver), fedNodes.end());
}

bool TarnBase::SetInput(const std::string& input, const std::string& text) {
  int in = GetNumberForInput(input);
  return in >= 0 && SetInput(in, text);
}

bool TarnBase::SetInput(int input, const std::string& text) {
  if (input < 0 || input >= static_cast<int>(inputs.size())) return false;
  return deliverText(input, text);
}

bool TarnBase::SetInput(int input, void* value) {
  if (input < 0 || input >= static_cast<int>(inputs.size())) return false;
  deliver(input, value);
  return true;
}

void TarnBase::deliver(int input, void* value) {
  if (input < 0 || input >= static_cast<int>(inputs.size())) return;
  // Copy what the call needs: the handler may rebuild the input list.
  Handler h = inputs[input].handler;
  Handler h2 = inputs[input].handler2;
  TarnBase* target = inputs[input].target;
  currentInput = input;
  if (h == h2) {
    if (h) (this->*h)(value);
  } else if (target && h2) {
    target->currentInput = input;
    (target->*h2)(value);
  }
  if (!pendingSettings.empty()) redeliverReplacedSettings();
}

void TarnBase::redeliverReplacedSettings() {
  std::vector<int> due;
  due.swap(pendingSettings);
  for (int k : due)
    if (k < static_cast<int>(inputs.size()) && !inputs[k].setting.empty())
      deliverText(k, inputs[k].setting);
}

void TarnBase::replaceInputs(Input model, std::vector<std::string>& names, int first, int) {
  if (first < 0) first = 0;
  if (first > static_cast<int>(inputs.size())) first = static_cast<int>(inputs.size());
  // Settings of the dropped inputs, by name, in order of appearance.
  std::map<std::string, std::vector<std::string>> kept;
  for (size_t i = first; i < inputs.size(); ++i) kept[inputs[i].name].push_back(inputs[i].setting);
  inputs.erase(inputs.begin() + first, inputs.end());
  pendingSettings.clear();
  for (const std::string& n : names) {
    Input in = model;
    in.name = n;
    in.setting.clear();
    auto k = kept.find(n);
    if (k != kept.end() && !k->second.empty()) {
      in.setting = k->second.front();
      k->second.erase(k->second.begin());
      if (!in.setting.empty()) pendingSettings.push_back(static_cast<int>(inputs.size()));
    }
    inputs.push_back(in);
  }
}

void TarnBase::SendOutput(unsigned int output, void* value) {
  if (output >= outputs.size()) return;
  SendOutput(outputs[output], value);
}

namespace {
// Initial-exec: one load off the thread pointer, where the general model
// calls into the loader on every send (this library is loaded with the
// program that runs the graph, never opened later).
struct Rounds {
  unsigned depth = 0;
  uint64_t round = 0;
};
__attribute__((tls_model("initial-exec"))) thread_local Rounds rounds;

// Marks one send, and those it leads to, as one round.
struct RoundGuard {
  RoundGuard() {
    if (rounds.depth++ == 0) ++rounds.round;
  }
  ~RoundGuard() { --rounds.depth; }
};
}  // namespace

uint64_t currentDeliveryRound() { return rounds.round; }

void TarnBase::SendOutput(Output& output, void* value) {
  const RoundGuard inRound;
  // Only the thread running this node sends on it; the progress line merely
  // reads the count. A plain store spares a locked instruction per value.
  sentCount.store(sentCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  // Receivers may connect or disconnect while handling the value: the value
  // goes to those connected when it was sent. The usual few are noted on the
  // stack, so that a send costs no allocation.
  const size_t n = output.receivers.size();
  if (n == 1) {
    output.receivers[0]->deliver(static_cast<int>(output.receiverInputs[0]), value);
    return;
  }
  const size_t kOnStack = 8;
  if (n <= kOnStack) {
    TarnBase* receivers[kOnStack];
    unsigned receiverInputs[kOnStack];
    for (size_t i = 0; i < n; ++i) {
      receivers[i] = output.receivers[i];
      receiverInputs[i] = output.receiverInputs[i];
    }
    for (size_t i = 0; i < n; ++i) receivers[i]->deliver(static_cast<int>(receiverInputs[i]), value);
    return;
  }
  std::vector<TarnBase*> receivers = output.receivers;
  std::vector<unsigned> receiverInputs = output.receiverInputs;
  for (size_t i = 0; i < n; ++i) receivers[i]->deliver(static_cast<int>(receiverInputs[i]), value);
}

namespace {
thread_local const TarnBase* lastBaseStart = nullptr;
}

void clearBaseStart() { lastBaseStart = nullptr; }
bool startWasBase(const TarnBase* node) { return node && lastBaseStart == node; }

void TarnBase::Start() { lastBaseStart = this; }
void TarnBase::Stop() { running = false; }

void TarnBase::SetPosition(float x, float y) { posX = x, posY = y; }
void TarnBase::GetPosition(float& x, float& y) const { x = posX, y = posY; }
void TarnBase::SetSize(float w, float h) { width = w, height = h; }
void TarnBase::GetSize(float& w, float& h) const { w = width, h = height; }
float TarnBase::GetEntryHeight() const { return 20.0f; }

void TarnBase::GetFullSize(float& w, float& h) const {
  size_t ports = std::max(inputs.size(), outputs.size());
  w = width;
  h = std::max(height, static_cast<float>(ports) * GetEntryHeight() + 28.0f);
}

void TarnBase::GetActualSize(float& w, float& h) const {
  if (collapsed) {
    w = width;
    h = GetEntryHeight();
  } else {
    GetFullSize(w, h);
  }
}

void TarnBase::SetCollapsed(bool c) { collapsed = c; }
bool TarnBase::IsCollapsed() const { return collapsed; }
void TarnBase::SetName(const std::string& n) { name = n; }
const std::string& TarnBase::GetName() const { return name; }
void TarnBase::SetHandle(pluginHandle* h) { handle = h; }
pluginHandle* TarnBase::GetHandle() const { return handle; }
void TarnBase::SetManager(TarnManager* m) { manager = m; }
TarnManager* TarnBase::GetManager() const { return manager; }

std::vector<TarnBase::Output>& TarnBase::GetOutputs() { return outputs; }

std::vector<TarnBase::Output*> TarnBase::GetOutputPointers() {
  std::vector<Output*> p;
  for (Output& o : outputs) p.push_back(&o);
  return p;
}

std::vector<int> TarnBase::GetConOutputs() const {
  std::vector<int> n;
  for (size_t i = 0; i < outputs.size(); ++i)
    if (!outputs[i].receivers.empty()) n.push_back(static_cast<int>(i));
  return n;
}

std::vector<TarnBase::Input>& TarnBase::GetInputs() { return inputs; }

std::vector<TarnBase::Input*> TarnBase::GetInputPointers() {
  std::vector<Input*> p;
  for (Input& i : inputs) p.push_back(&i);
  return p;
}

std::vector<int> TarnBase::GetConInputs() const {
  std::vector<int> n;
  for (size_t i = 0; i < inputs.size(); ++i)
    for (const Sender& s : senders)
      if (s.input == static_cast<int>(i)) {
        n.push_back(static_cast<int>(i));
        break;
      }
  return n;
}

int TarnBase::FindReceiver(const TarnBase* receiver) const {
  for (size_t i = 0; i < outputs.size(); ++i)
    for (TarnBase* r : outputs[i].receivers)
      if (r == receiver) return static_cast<int>(i);
  return -1;
}

int TarnBase::GetNumberForInput(const std::string& n) const {
  for (size_t i = 0; i < inputs.size(); ++i)
    if (inputs[i].name == n) return static_cast<int>(i);
  return -1;
}

std::string TarnBase::GetInputString(int input) const {
  if (input < 0 || input >= static_cast<int>(inputs.size())) return std::string();
  return inputs[input].setting;
}

// Ports are drawn one entry high down the node's left (inputs) and right
// (outputs) edges, below a title entry.
void TarnBase::GetInputPosition(int input, float& x, float& y) const {
  x = posX;
  y = posY + (static_cast<float>(input) + 1.5f) * GetEntryHeight();
}

void TarnBase::GetOutputPosition(int output, float& x, float& y) const {
  x = posX + width;
  y = posY + (static_cast<float>(output) + 1.5f) * GetEntryHeight();
}
