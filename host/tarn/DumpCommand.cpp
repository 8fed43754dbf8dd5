// `tarn dump RUN`: a run's events and banks as a person reads them, every
// element by its MIDAS type, or a summary of the run.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CommandOptions.h"
#include "Commands.h"
#include "OdbTypeName.h"
#include "RunSearch.h"
#include "TMidasEvent.h"
#include "TRunFile.h"

namespace {

const char kDumpUsage[] =
    "usage: tarn dump RUN [--events N] [--id ID] [--banks NAME,...] [--summary]\n"
    "Prints each event of the run: its header with the time, and each bank's name,\n"
    "type, length and every element by its type. --events N stops after N events\n"
    "printed, --id ID (decimal or 0x hex) prints only events of that id, --banks\n"
    "only the banks named. --summary prints counts of events per id and of banks\n"
    "per name with their sizes, the time span and the rate instead.\n";

std::string typeName(uint32_t type) {
  const char* name = odbTypeName(type);
  return name ? name : "type " + std::to_string(type);
}

// Bytes as text, those that are not printable as \xNN.
std::string escaped(const char* bytes, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

std::string utcTime(uint32_t t) {
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

template <typename T>
T load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// One element of a bank as text: integers by their signedness, floats in
// full, flags as words, bytes and anything else in hex.
std::string element(uint32_t type, const char* p) {
  char text[48];
  switch (type) {
    case TID_SBYTE: std::snprintf(text, sizeof text, "%d", load<int8_t>(p)); break;
    case TID_WORD: std::snprintf(text, sizeof text, "%u", load<uint16_t>(p)); break;
    case TID_SHORT: std::snprintf(text, sizeof text, "%d", load<int16_t>(p)); break;
    case TID_DWORD: std::snprintf(text, sizeof text, "%" PRIu32, load<uint32_t>(p)); break;
    case TID_INT: std::snprintf(text, sizeof text, "%" PRId32, load<int32_t>(p)); break;
    case TID_BOOL: return load<uint32_t>(p) ? "true" : "false";
    case TID_FLOAT: std::snprintf(text, sizeof text, "%.9g", load<float>(p)); break;
    case TID_DOUBLE: std::snprintf(text, sizeof text, "%.17g", load<double>(p)); break;
    case 17: std::snprintf(text, sizeof text, "%" PRId64, load<int64_t>(p)); break;
    case 18: std::snprintf(text, sizeof text, "%" PRIu64, load<uint64_t>(p)); break;
    default: std::snprintf(text, sizeof text, "%02x", load<uint8_t>(p)); break;
  }
  return text;
}

size_t elementSize(uint32_t type) {
  switch (type) {
    case TID_WORD: case TID_SHORT: return 2;
    case TID_DWORD: case TID_INT: case TID_BOOL: case TID_FLOAT: return 4;
    case TID_DOUBLE: case 17: case 18: return 8;
    default: return 1;
  }
}

void printBank(const char* name, uint32_t type, const char* data, size_t size) {
  const size_t each = elementSize(type);
  std::printf("  bank %s  %s  %zu bytes", escaped(name, 4).c_str(), typeName(type).c_str(), size);
  if (type == TID_CHAR || type == TID_STRING) {
    std::printf("\n    \"%s\"\n", escaped(data, type == TID_STRING ? strnlen(data, size) : size).c_str());
    return;
  }
  const size_t count = size / each;
  if (each > 1) std::printf(", %zu elements", count);
  std::printf("\n");
  const size_t perLine = each == 1 ? 16 : 8;
  for (size_t i = 0; i < count; ++i) {
    std::printf("%s%s", i % perLine == 0 ? "    " : " ", element(type, data + i * each).c_str());
    if (i % perLine == perLine - 1 || i + 1 == count) std::printf("\n");
  }
  if (size % each) std::printf("    (%zu bytes left over)\n", size % each);
}

struct Bank {
  std::string name;
  uint32_t type;
  const char* data;
  size_t size;
};

// The banks of an ordinary event, within its data area.
std::vector<Bank> banksOf(TMidasEvent& event) {
  std::vector<Bank> out;
  const char* begin = event.GetData();
  const char* end = begin + event.GetDataSize();
  char* data = nullptr;
  if (event.IsBank32()) {
    Bank32_t* b = nullptr;
    for (int n = event.IterateBank32(&b, &data); b && data; n = event.IterateBank32(&b, &data))
      if (data >= begin && data <= end && size_t(n) <= size_t(end - data))
        out.push_back({std::string(b->fName, 4), b->fType, data, size_t(n)});
  } else {
    Bank_t* b = nullptr;
    for (int n = event.IterateBank(&b, &data); b && data; n = event.IterateBank(&b, &data))
      if (data >= begin && data <= end && size_t(n) <= size_t(end - data))
        out.push_back({std::string(b->fName, 4), b->fType, data, size_t(n)});
  }
  return out;
}

bool isTextEvent(uint16_t id) { return id == 0x8000 || id == 0x8001 || id == 0x8002; }

void printEvent(TMidasEvent& event, long number, const std::set<std::string>& only) {
  const uint16_t id = event.GetEventId();
  std::printf("event %ld  id 0x%04x  mask 0x%04x  serial %u  time %s  size %u\n", number, id,
              event.GetTriggerMask(), event.GetSerialNumber(), utcTime(event.GetTimeStamp()).c_str(),
              event.GetDataSize());
  if (isTextEvent(id)) {
    const char* text = event.GetData();
    const size_t n = strnlen(text, event.GetDataSize());
    const char* first = text + std::strspn(text, " \t\r\n");
    if (id == 0x8002)
      std::printf("  message \"%s\"\n", escaped(text, n).c_str());
    else
      std::printf("  %s of run %u: ODB dump, %zu bytes of %s\n", id == 0x8000 ? "begin" : "end",
                  event.GetSerialNumber(), n, *first == '{' ? "JSON" : "XML");
    return;
  }
  const std::vector<Bank> banks = banksOf(event);
  if (banks.empty()) std::printf("  no banks\n");
  for (const Bank& b : banks)
    if (only.empty() || only.count(b.name)) printBank(b.name.c_str(), b.type, b.data, b.size);
}

struct BankTally {
  long count = 0;
  unsigned long long bytes = 0;
  size_t smallest = SIZE_MAX, largest = 0;
};

// What --summary prints: the events of each id, the banks of each name and
// the span of the events' times.
struct RunSummary {
  long events = 0;
  std::map<uint16_t, long> perId;
  std::map<std::string, BankTally> perBank;
  uint32_t firstTime = 0, lastTime = 0;

  void add(TMidasEvent& event, const std::set<std::string>& only) {
    ++events;
    ++perId[event.GetEventId()];
    if (events == 1) firstTime = event.GetTimeStamp();
    lastTime = event.GetTimeStamp();
    if (isTextEvent(event.GetEventId())) return;
    for (const Bank& b : banksOf(event)) {
      if (!only.empty() && !only.count(b.name)) continue;
      BankTally& t = perBank[escaped(b.name.data(), 4)];
      ++t.count;
      t.bytes += b.size;
      t.smallest = std::min(t.smallest, b.size);
      t.largest = std::max(t.largest, b.size);
    }
  }

  void print(const std::string& file) const {
    std::printf("%s: %ld events\n", file.c_str(), events);
    for (const auto& e : perId) std::printf("  id 0x%04x  %ld events\n", e.first, e.second);
    for (const auto& b : perBank)
      std::printf("  bank %s  %ld banks, %llu bytes, %zu to %zu bytes each\n", b.first.c_str(), b.second.count,
                  b.second.bytes, b.second.smallest, b.second.largest);
    if (events == 0) return;
    const long span = long(lastTime) - long(firstTime);
    std::printf("  time %s to %s, %ld s", utcTime(firstTime).c_str(), utcTime(lastTime).c_str(), span);
    if (span > 0) std::printf(", %.3g events/s", double(events) / double(span));
    std::printf("\n");
  }
};

struct DumpOptions {
  std::string run;
  long limit = -1, id = -1;
  bool summary = false;
  std::set<std::string> only;
};

int dumpUsageError(const std::string& message) {
  std::fprintf(stderr, "tarn dump: %s\n%s", message.c_str(), kDumpUsage);
  return 2;
}

// -1 when the run is to be dumped, else the exit status.
int parseDumpOptions(int argc, char** argv, DumpOptions& o) {
  enum { kSummary = 256, kEvents, kId, kBanks };
  static const option longOptions[] = {{"help", no_argument, nullptr, 'h'},
                                       {"summary", no_argument, nullptr, kSummary},
                                       {"events", required_argument, nullptr, kEvents},
                                       {"id", required_argument, nullptr, kId},
                                       {"banks", required_argument, nullptr, kBanks},
                                       {nullptr, 0, nullptr, 0}};
  startOptions();
  for (int c; (c = getopt_long(argc, argv, ":h", longOptions, nullptr)) != -1;) {
    char* end = nullptr;
    if (c == 'h') {
      std::printf("%s", kDumpUsage);
      return 0;
    } else if (c == kSummary) {
      o.summary = true;
    } else if (c == kEvents || c == kId) {
      const long n = std::strtol(optarg, &end, 0);
      if (*end != '\0' || n < 0 || (c == kId && n > 0xffff))
        return dumpUsageError(std::string(c == kId ? "--id" : "--events") + " needs a number, not '" + optarg + "'");
      (c == kEvents ? o.limit : o.id) = n;
    } else if (c == kBanks) {
      const std::string list = optarg;
      for (size_t at = 0; at <= list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        if (comma > at) o.only.insert(list.substr(at, comma - at));
        at = comma + 1;
      }
    } else {
      return dumpUsageError((c == ':' ? "" : "unknown option ") + refusedOption(argv) +
                            (c == ':' ? " needs a value" : ""));
    }
  }
  for (int i = optind; i < argc; ++i) {
    if (!o.run.empty()) {
      std::fprintf(stderr, "tarn dump: more than one run: %s and %s\n", o.run.c_str(), argv[i]);
      return 2;
    }
    o.run = argv[i];
  }
  return o.run.empty() ? dumpUsageError("no run given") : -1;
}

}  // namespace

int dumpCommand(int argc, char** argv) {
  DumpOptions o;
  // argv[0] stands for the subcommand's own name, as getopt_long expects.
  const int parsed = parseDumpOptions(argc + 1, argv - 1, o);
  if (parsed >= 0) return parsed;
  const std::string file = findRunFile(o.run);
  TRunFile reader;
  if (file.empty() || !reader.Open(file.c_str())) {
    std::fprintf(stderr, "tarn dump: no such run: %s\n", o.run.c_str());
    return 1;
  }

  TMidasEvent event;
  long read = 0, shown = 0;
  RunSummary summary;
  while ((o.limit < 0 || shown < o.limit) && reader.ReadInPlace(&event)) {
    ++read;
    if (o.id >= 0 && event.GetEventId() != o.id) continue;
    ++shown;
    if (o.summary)
      summary.add(event, o.only);
    else
      printEvent(event, read - 1, o.only);
  }
  if (o.summary) summary.print(file);
  std::fflush(stdout);
  if (reader.GetLastErrno() != 0 && (o.limit < 0 || shown < o.limit)) {
    std::fprintf(stderr, "tarn dump: %s: %s after %ld events\n", file.c_str(), reader.GetLastError(), read);
    return 1;
  }
  return 0;
}
