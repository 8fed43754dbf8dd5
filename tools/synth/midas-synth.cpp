// midas-synth: writes a synthetic MIDAS run file for demos and tests.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MidasSynth.h"
#include "Pace.h"
#include "Random.h"

namespace {

const char* kUsage =
    "usage: midas-synth [options] OUTPUT\n"
    "Writes a MIDAS run file: a begin-of-run event with an ODB dump, N events\n"
    "with banks of several types, and an end-of-run event. OUTPUT ending in .gz,\n"
    ".lz4, .bz2 or .zst is written in that compressed form. The same options\n"
    "always give the same file.\n"
    "\n"
    "  --events N     ordinary events to write (default 10)\n"
    "  --run R        run number (default 1)\n"
    "  --seed S       seed of the event contents (default 1)\n"
    "  --bank32       32-bit bank headers instead of 16-bit ones\n"
    "  --modules      add module banks: TDC0, ADC0, IO32, MADC, SIS0..SIS3, holding\n"
    "                 valid data only\n"
    "  --noise RATE   with --modules: a fraction RATE (0 to 1) of the events also\n"
    "                 holds unusual module words (error, not-valid and undefined\n"
    "                 words, buffer and TDC overflows) that the unpackers warn of\n"
    "  --vf48 N       add one VF48 bank per module 0..N-1 (N up to 100)\n"
    "  --vf48-layout KIND  standard (banks VF00..) or meridax (banks VM00..,\n"
    "                 module in the channel headers); default standard\n"
    "  --swapped      data areas in reversed byte order, as from a big-endian host\n"
    "  --odb FORM     the begin- and end-of-run ODB dumps as xml (default) or json\n"
    "  --damage KIND  damage the last event: truncated-header, truncated-data,\n"
    "                 zero-size or oversize; inside its banks: truncated-bank-area,\n"
    "                 truncated-bank-header, truncated-bank-data, garbage-bank-header,\n"
    "                 bank-past-event, bank-area-past-event or bit-flips\n"
    "  --damage-at I  damage event I instead (0 is the begin of run); a cut ends\n"
    "                 the file there, other damage leaves the events after it\n"
    "  --fill BYTES   pad each ordinary event with a DWORD bank FILL of 12-bit\n"
    "                 values until its data area holds at least BYTES (at most 65536)\n"
    "  --compress-member-size BYTES  end each gzip member, lz4 or zstd frame or\n"
    "                 bzip2 stream after BYTES bytes of the run (default: one)\n"
    "  --rate R       write R events per second, each handed to the file as it\n"
    "                 is written, as the logger of a running experiment does\n"
    "  --describe     print each event written and its banks (also --list)\n"
    "  --help         show this text\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "midas-synth: %s\n%s", message.c_str(),
               "Try 'midas-synth --help' for more information.\n");
  return 2;
}

// A whole decimal number in 0..2^32-1, nothing before or after it.
bool parseCount(const char* text, uint32_t& value) {
  if (!text || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno || *end || v > 0xffffffffull) return false;
  value = uint32_t(v);
  return true;
}

bool parseDamage(const std::string& text, synth::Damage& damage) {
  if (text == "truncated-header") damage = synth::Damage::TruncatedHeader;
  else if (text == "truncated-data") damage = synth::Damage::TruncatedData;
  else if (text == "zero-size") damage = synth::Damage::ZeroSize;
  else if (text == "oversize") damage = synth::Damage::OversizeData;
  else if (text == "truncated-bank-area") damage = synth::Damage::TruncatedBankAreaHeader;
  else if (text == "truncated-bank-header") damage = synth::Damage::TruncatedBankHeader;
  else if (text == "truncated-bank-data") damage = synth::Damage::TruncatedBankData;
  else if (text == "garbage-bank-header") damage = synth::Damage::GarbageBankHeader;
  else if (text == "bank-past-event") damage = synth::Damage::BankPastEvent;
  else if (text == "bank-area-past-event") damage = synth::Damage::BankAreaPastEvent;
  else if (text == "bit-flips") damage = synth::Damage::BitFlips;
  else return false;
  return true;
}

// Brings an ordinary event's data area up to at least `bytes` with one bank of
// digitiser-like values (12 bits in each 32-bit word), so that runs of a chosen
// event size compress like recorded data rather than like zeros or noise.
void fill(synth::Event& e, uint32_t bytes, uint32_t seed) {
  if (bytes == 0 || !e.raw.empty()) return;
  const size_t header = e.bank32 ? 12 : 8;
  size_t size = 8;
  for (const synth::Bank& b : e.banks) size += header + ((b.data.size() + 7) & ~size_t(7));
  if (size + header >= bytes) return;
  const size_t words = (bytes - size - header + 3) / 4;
  synth::Random r((uint64_t(seed) << 32) ^ e.serial);
  std::vector<uint32_t> values(words);
  for (uint32_t& v : values) v = uint32_t(r.next() & 0xfff);
  e.banks.push_back(synth::dwordBank("FILL", values));
}

void describe(const synth::Event& e, size_t bytes) {
  std::printf("id 0x%04x mask 0x%04x serial %u time %u size %zu", unsigned(e.id),
              unsigned(e.triggerMask), unsigned(e.serial), unsigned(e.timeStamp), bytes - 16);
  if (!e.raw.empty()) std::printf(e.raw[0] == '{' ? " odb-json" : " odb-xml");
  for (const synth::Bank& b : e.banks)
    std::printf(" %s:%u:%zu", b.name.c_str(), unsigned(b.type), b.data.size());
  std::printf("\n");
}

struct Options {
  synth::RunSpec spec;
  synth::Damage damage = synth::Damage::None;
  bool listing = false;
  uint32_t fillTo = 0;
  bool damageAtGiven = false;
  uint32_t damageAt = 0;
  uint32_t memberSize = 0;
  double rate = 0;  // events per second; 0: as fast as it goes
  std::string output;
};

enum OptionId {
  kEvents = 256, kRun, kSeed, kVf48, kVf48Layout, kFill, kNoise, kOdb, kModules, kBank32, kSwapped,
  kDamage, kDamageAt, kMemberSize, kRate, kDescribe
};

const option kLongOptions[] = {{"help", no_argument, nullptr, 'h'},
                               {"events", required_argument, nullptr, kEvents},
                               {"run", required_argument, nullptr, kRun},
                               {"seed", required_argument, nullptr, kSeed},
                               {"vf48", required_argument, nullptr, kVf48},
                               {"vf48-layout", required_argument, nullptr, kVf48Layout},
                               {"fill", required_argument, nullptr, kFill},
                               {"noise", required_argument, nullptr, kNoise},
                               {"odb", required_argument, nullptr, kOdb},
                               {"modules", no_argument, nullptr, kModules},
                               {"bank32", no_argument, nullptr, kBank32},
                               {"swapped", no_argument, nullptr, kSwapped},
                               {"damage", required_argument, nullptr, kDamage},
                               {"damage-at", required_argument, nullptr, kDamageAt},
                               {"compress-member-size", required_argument, nullptr, kMemberSize},
                               {"rate", required_argument, nullptr, kRate},
                               {"describe", no_argument, nullptr, kDescribe},
                               {"list", no_argument, nullptr, kDescribe},
                               {nullptr, 0, nullptr, 0}};

// Takes one option that has a value; an empty string when it is right, else the complaint.
std::string takeValue(int id, const std::string& name, const char* text, Options& o) {
  uint32_t n = 0;
  double fraction = -1;
  char* end = nullptr;
  switch (id) {
    case kEvents: case kRun: case kSeed:
      if (!parseCount(text, n)) return name + ": not a number in 0..4294967295: '" + text + "'";
      (id == kEvents ? o.spec.events : id == kRun ? o.spec.run : o.spec.seed) = n;
      return "";
    case kVf48:
      if (!parseCount(text, n) || n > 100) return std::string("--vf48: not a number in 0..100: '") + text + "'";
      o.spec.vf48Modules = n;
      return "";
    case kVf48Layout:
      if (std::strcmp(text, "standard") != 0 && std::strcmp(text, "meridax") != 0)
        return "--vf48-layout needs standard or meridax";
      o.spec.vf48Meridax = std::strcmp(text, "meridax") == 0;
      return "";
    case kFill:
      if (!parseCount(text, o.fillTo) || o.fillTo > 65536) return std::string("--fill: not a number in 0..65536: '") + text + "'";
      return "";
    case kNoise:
      fraction = std::strtod(text, &end);
      if (end == text || *end || !(fraction >= 0 && fraction <= 1)) return "--noise needs a fraction of events from 0 to 1";
      o.spec.noise = fraction;
      return "";
    case kOdb:
      if (std::strcmp(text, "json") != 0 && std::strcmp(text, "xml") != 0) return "--odb needs json or xml";
      o.spec.odb = std::strcmp(text, "json") == 0 ? synth::OdbForm::Json : synth::OdbForm::Xml;
      return "";
    case kDamage:
      return parseDamage(text, o.damage) ? "" : std::string("unknown damage '") + text + "'";
    case kDamageAt:
      o.damageAtGiven = true;
      return parseCount(text, o.damageAt) ? "" : "--damage-at needs an event index";
    case kMemberSize:
      return parseCount(text, o.memberSize) && o.memberSize > 0 ? "" : "--compress-member-size needs a number of bytes above 0";
    default:  // kRate
      return synth::parseRate(text, o.rate) ? "" : "--rate needs a number of events per second above 0, at most 1e7";
  }
}

// What a value left out would have been.
std::string missingValue(int id) {
  switch (id) {
    case kEvents: return "--events needs a number";
    case kRun: return "--run needs a number";
    case kSeed: return "--seed needs a number";
    case kFill: return "--fill needs a number";
    case kVf48: return "--vf48 needs a number of modules";
    case kDamage: return "--damage needs a kind";
    case kDamageAt: return "--damage-at needs an event index";
    default: {
      Options scratch;  // the others say what an empty value lacks
      return takeValue(id, "", "", scratch);
    }
  }
}

// -1 when the run is to be written, else the exit status.
int parseOptions(int argc, char** argv, Options& o) {
  opterr = 0;  // our own messages, with the usage
  int index = -1;
  for (int c; (index = -1, c = getopt_long(argc, argv, ":h", kLongOptions, &index)) != -1;) {
    const std::string typed = argv[optind - 1];
    const std::string name = index >= 0 ? std::string("--") + kLongOptions[index].name : typed;
    if (c == 'h') {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (c == ':') {
      return usageError(missingValue(optopt));
    } else if (c == '?') {
      return usageError("unknown option " + (optopt ? std::string("-") + char(optopt) : typed));
    } else if (c == kModules || c == kBank32 || c == kSwapped || c == kDescribe) {
      (c == kModules ? o.spec.modules : c == kBank32 ? o.spec.bank32 : c == kSwapped ? o.spec.swapped : o.listing) = true;
    } else {
      const std::string complaint = takeValue(c, name, optarg, o);
      if (!complaint.empty()) return usageError(complaint);
    }
  }
  for (int i = optind; i < argc; ++i) {
    if (!o.output.empty()) return usageError("more than one output file: " + o.output + ", " + argv[i]);
    o.output = argv[i];
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const int parsed = parseOptions(argc, argv, o);
  if (parsed >= 0) return parsed;
  synth::RunSpec& spec = o.spec;
  const synth::Damage damage = o.damage;
  const bool listing = o.listing, damageAtGiven = o.damageAtGiven;
  const uint32_t fillTo = o.fillTo, damageAt = o.damageAt, memberSize = o.memberSize;
  const double rate = o.rate;
  const std::string& output = o.output;
  if (output.empty()) return usageError("no output file given");

  // Streamed event by event: long runs need no memory for the whole file.
  synth::RunWriter writer;
  std::string error;
  if (!writer.open(output, error, memberSize, rate > 0)) {
    std::fprintf(stderr, "midas-synth: %s\n", error.c_str());
    return 1;
  }
  const uint64_t total = uint64_t(spec.events) + 2;
  if (damageAtGiven && damageAt >= total)
    return usageError("--damage-at: the run has events 0.." + std::to_string(total - 1));
  const uint64_t damaged = damageAtGiven ? damageAt : total - 1;
  const synth::Pacer pacer(rate > 0 ? rate : 1);
  for (uint64_t i = 0; i < total; ++i) {
    if (rate > 0) pacer.wait(i);
    synth::Event e = i == 0 ? synth::makeBeginOfRun(spec)
                     : i + 1 == total ? synth::makeEndOfRun(spec)
                                      : synth::makeEvent(spec, uint32_t(i - 1));
    if (i > 0 && i + 1 < total) fill(e, fillTo, spec.seed);
    std::vector<uint8_t> bytes = synth::encodeEvent(e, spec.swapped);
    if (listing) describe(e, bytes.size());
    if (i == damaged) bytes = synth::damageEvent(std::move(bytes), damage);
    if (!writer.write(bytes, error)) {
      std::fprintf(stderr, "midas-synth: %s\n", error.c_str());
      return 1;
    }
    if (rate > 0 && !writer.flush(error)) {
      std::fprintf(stderr, "midas-synth: %s\n", error.c_str());
      return 1;
    }
    if (i == damaged && synth::damageEndsFile(damage)) break;
  }
  if (!writer.close(error)) {
    std::fprintf(stderr, "midas-synth: %s\n", error.c_str());
    return 1;
  }
  if (listing && std::fflush(stdout) != 0) return 1;
  return 0;
}
