// Turns the banks of a MIDAS event into strand-event value lists without
// knowing any module: each bank of interest has a description, a list of
// property names, and the bank's elements are dealt out over them in turn.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "StrandEvent.h"
#include "TarnBase.h"

class BankTranslator : public TarnBase {
 public:
  struct bkpropsstruct {
    bool cyclic = true;                  // elements wrap around the property list
    std::vector<StrandProperty*> props;  // in order; null is a skipped position
  };

  // What a value container of one bank type can do.
  typedef void* (*InitFct)();  // a new, empty container
  typedef void (*PushBackFct)(void* container, const char* element);
  typedef void (*ClearFct)(void* container);

  // Indexed by the MIDAS type id; ids from kTypes on have no element size.
  static const unsigned kTypes = 17;
  static const int TID_SIZE[kTypes];
  static const tarn_type mtypes[kTypes];
  static const InitFct initfct[kTypes];
  static const PushBackFct pushbackfct[kTypes];
  static const ClearFct clearfct[kTypes];

  explicit BankTranslator(std::string& name);
  ~BankTranslator() override;

  // Shows the new receiver the layout of the strand event at once.
  bool AddReceiver(int output, TarnBase* receiver, int input) override;
  using TarnBase::AddReceiver;

  void setStrandEvent(void* value);  // StrandEvent*
  void processEvent(void* value);    // TMidasEvent*
  void setBanknames(void* value);    // std::vector<std::string>*
  void setBankstrand(void* value);   // std::string*

 private:
  // A value container this translator made, and how to treat it.
  struct Made {
    unsigned kind;  // the bank type whose container class it is
    bool inOwnEvent;
  };
  struct Filled {
    void* container;
    ClearFct clear;
  };

  // The container that elements of bank type `type` go to for `p`: made when
  // p has none yet (and `created` set), null when p holds someone else's value
  // or a container of another class.
  void* containerFor(StrandProperty* p, unsigned type, bool& created);
  void translateBank(uint32_t key, uint32_t type, const char* data, uint32_t size, bool& created,
                     std::vector<Filled>& filled);
  bool ownsProperty(const StrandProperty* p);

  StrandEvent* event;                       // the event filled and sent
  StrandEvent* ownEvent;                    // ours; `event` until another one is handed to us
  std::map<uint32_t, bkpropsstruct> banks;  // by the bank name as one 32-bit word
  std::unordered_map<void*, Made> made;
  std::vector<void*> targets;  // per position of the bank being dealt out
  bool adopting;               // inside setStrandEvent
};
