// The base class of every plug-in: ports, connections and value delivery.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tarn_type.h"

class pluginHandle;  // the host's record of a loaded module; opaque to plug-ins
class TarnManager;   // the host's graph; opaque to plug-ins

class TarnBase {
 public:
  typedef void (TarnBase::*Handler)(void*);

  class Input {
   public:
    Input(const std::string& name, Handler handler, tarn_type type,
          const std::string& description);
    virtual ~Input();

    std::string name;
    Handler handler;
    Handler handler2;  // equal to `handler` unless the call goes to `target`
    tarn_type type;
    std::string description;
    std::string setting;  // the last setting text delivered through SetInput
    int hostWord;
    TarnBase* target;
    int hostWord2;
  };

  class Output {
   public:
    Output(const std::string& name, tarn_type type, const std::string& description);

    std::string name;
    tarn_type type;
    std::string description;
    std::vector<TarnBase*> receivers;
    std::vector<unsigned> receiverInputs;
    std::vector<TarnBase*> receivers2;
    std::vector<Handler> handlers;
  };

  TarnBase(pluginHandle* handle, const std::string& name);
  virtual ~TarnBase();

  TarnBase(const TarnBase&) = delete;
  TarnBase& operator=(const TarnBase&) = delete;

  virtual void Init();
  virtual void Reset();

  // Connect output `output` of this node to input `input` of `receiver`.
  // False when a port does not exist or the pair is already connected.
  virtual bool AddReceiver(const std::string& output, TarnBase* receiver, const std::string& input);
  virtual bool AddReceiver(int output, TarnBase* receiver, int input);
  virtual bool RemoveReceiver(const std::string& output, TarnBase* receiver, const std::string& input);
  virtual bool RemoveReceiver(int output, TarnBase* receiver, int input);
  // Tell every receiver of output k again who feeds it (after the output's type changed).
  virtual void RefreshReceivers(int output);
  // Called on the receiving side by AddReceiver and RefreshReceivers.
  virtual void SetSender(const std::string& input, TarnBase* sender, const std::string& output);
  virtual void SetSender(int input, TarnBase* sender, int output);

  // Deliver a setting text: converted to the input's type, kept as the input's
  // setting, then handed to its handler. False (and nothing delivered) when the
  // port does not exist or the text does not convert.
  virtual bool SetInput(const std::string& input, const std::string& text);
  virtual bool SetInput(int input, const std::string& text);
  // Deliver a value of the input's own type, as a connected sender would.
  virtual bool SetInput(int input, void* value);

  // Call the handler of every input connected to output k; returns after all ran.
  virtual void SendOutput(unsigned int output, void* value);

  virtual void Start();
  virtual void Stop();

  virtual void SetPosition(float x, float y);
  virtual void GetPosition(float& x, float& y) const;
  virtual void SetSize(float width, float height);
  virtual void GetSize(float& width, float& height) const;
  virtual float GetEntryHeight() const;
  virtual void GetFullSize(float& width, float& height) const;
  virtual void GetActualSize(float& width, float& height) const;
  virtual void SetCollapsed(bool collapsed);
  virtual bool IsCollapsed() const;

  virtual void SetName(const std::string& name);
  virtual const std::string& GetName() const;
  virtual void SetHandle(pluginHandle* handle);
  virtual pluginHandle* GetHandle() const;
  virtual void SetManager(TarnManager* manager);
  virtual TarnManager* GetManager() const;

  virtual void SendOutput(Output& output, void* value);
  virtual std::vector<Output>& GetOutputs();
  virtual std::vector<Output*> GetOutputPointers();
  virtual std::vector<int> GetConOutputs() const;  // numbers of outputs with a receiver

  // Text conversions used by SetInput. The first form reports success; the
  // second gives the value, or the type's zero when the text does not convert.
  virtual bool convertToShort(const std::string& text, short& value) const;
  virtual short convertToShort(const std::string& text) const;
  virtual bool convertToInt(const std::string& text, int& value) const;
  virtual int convertToInt(const std::string& text) const;
  virtual bool convertToInt64(const std::string& text, int64_t& value) const;
  virtual int64_t convertToInt64(const std::string& text) const;
  virtual bool convertToFloat(const std::string& text, float& value) const;
  virtual float convertToFloat(const std::string& text) const;
  virtual bool convertToDouble(const std::string& text, double& value) const;
  virtual double convertToDouble(const std::string& text) const;
  virtual bool convertToString(const std::string& text, std::string& value) const;
  virtual std::string convertToString(const std::string& text) const;
  virtual bool convertToCString(const std::string& text, std::vector<char>& value) const;
  virtual std::vector<char> convertToCString(const std::string& text) const;
  virtual bool convertToIntV(const std::string& text, std::vector<int>& value) const;
  virtual std::vector<int> convertToIntV(const std::string& text) const;
  virtual bool convertToStringV(const std::string& text, std::vector<std::string>& value) const;
  virtual std::vector<std::string> convertToStringV(const std::string& text) const;
  virtual bool convertToShortV(const std::string& text, std::vector<short>& value) const;
  virtual std::vector<short> convertToShortV(const std::string& text) const;
  virtual bool convertToFloatV(const std::string& text, std::vector<float>& value) const;
  virtual std::vector<float> convertToFloatV(const std::string& text) const;
  virtual bool convertToDoubleV(const std::string& text, std::vector<double>& value) const;
  virtual std::vector<double> convertToDoubleV(const std::string& text) const;

  virtual std::vector<Input>& GetInputs();
  virtual std::vector<Input*> GetInputPointers();
  virtual std::vector<int> GetConInputs() const;  // numbers of inputs with a sender

  // The number of the first output connected to `receiver`, or -1.
  virtual int FindReceiver(const TarnBase* receiver) const;
  // The number of the first input named `name`, or -1.
  virtual int GetNumberForInput(const std::string& name) const;
  virtual std::string GetInputString(int input) const;
  virtual void GetInputPosition(int input, float& x, float& y) const;
  virtual void GetOutputPosition(int output, float& x, float& y) const;

  // Events sent so far on any output (read by the runner's progress line).
  uint64_t SentCount() const { return sentCount.load(std::memory_order_relaxed); }

 public:
  // Drop inputs from number `first` on, then append a copy of `model` per name.
  // Inputs that come back under a name they had keep their setting text, and
  // SetInput delivers it again once the handler that replaced them returns.
  void replaceInputs(Input model, std::vector<std::string>& names, int first, int last);

  std::string name;
  std::string description;
  pluginHandle* handle;
  std::vector<Input> inputs;
  std::vector<Output> outputs;
  int currentInput;
  std::atomic<bool> running;

 private:
  struct Sender {
    TarnBase* node;
    int output;
    int input;
  };

  void deliver(int input, void* value);
  bool deliverText(int input, const std::string& text);
  void redeliverReplacedSettings();
  void forgetSender(TarnBase* sender, int output, int input);
  void forgetReceiver(TarnBase* receiver);

  std::vector<Sender> senders;       // who feeds this node
  std::vector<TarnBase*> fedNodes;   // whom this node feeds (outputs may be rebuilt by hand)
  std::vector<int> pendingSettings;  // replaced inputs whose setting text is due again
  TarnManager* manager;
  float posX, posY, width, height;
  bool collapsed;
  std::atomic<uint64_t> sentCount;
};
