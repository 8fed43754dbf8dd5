// `tarn run --serve`: the API against the result files of the same run, what
// the server refuses, and clients that misbehave while the graph runs.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "LiveBoard.h"
#include "LiveClient.h"
#include "RepeatedLines.h"
#include "RunState.h"
#include "Site.h"
#include "TarnTest.h"
#include "WebServer.h"

namespace {

using json = nlohmann::json;
using livetest::LiveTarn;
using livetest::bodyOf;
using livetest::request;
using livetest::statusOf;

json getJson(int port, const std::string& path) {
  const std::string r = request(port, "GET", path);
  EXPECT_EQ(statusOf(r), 200) << path << ": " << r.substr(0, 200);
  return json::parse(bodyOf(r), nullptr, false);
}

// A paced generator feeding a Histogrammer that writes DIR/out_NAME.csv.
std::string histogramGraph(const tarntest::TempDir& dir, int steps, double interval) {
  std::ostringstream g;
  g << "node gen StrandEventGenerator\n"
    << "node hist Histogrammer\n"
    << "set gen.steps " << steps << "\n"
    << "set gen.interval " << interval << "\n"
    << "set hist.prefix " << dir.path() << "/out\n"
    << "set hist.bins Weight:40:0.01:0.2\n"  // under- and overflow both filled
    << "set hist.units Weight:kg\n"
    << "connect gen.fevent hist.fevent\n"
    << "start gen\n";
  return dir.write("live.tarn", g.str());
}

struct CsvHistogram {
  std::vector<double> edges;
  std::vector<uint64_t> counts;
  uint64_t underflow = 0, overflow = 0, nan = 0;
};

CsvHistogram readCsv(const std::string& path) {
  std::ifstream in(path);
  CsvHistogram h;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string low, high, count;
    std::getline(row, low, ',');
    std::getline(row, high, ',');
    std::getline(row, count);
    const uint64_t n = std::stoull(count);
    if (low == "nan") h.nan = n;
    else if (low == "-inf") h.underflow = n;
    else if (high == "inf") h.overflow = n;
    else {
      if (h.edges.empty()) h.edges.push_back(std::strtod(low.c_str(), nullptr));
      h.edges.push_back(std::strtod(high.c_str(), nullptr));
      h.counts.push_back(n);
    }
  }
  return h;
}

TEST(LiveApi, StatusGrowsAndHistogramsAreTheNumbersOfTheCsvFiles) {
  tarntest::TempDir dir;
  LiveTarn tarn({"run", histogramGraph(dir, 400, 0.003), "--serve", "0", "--linger"});
  const int port = tarn.port();
  ASSERT_GT(port, 0) << tarn.err();

  json first = getJson(port, "/api/status");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  json second = getJson(port, "/api/status");
  EXPECT_EQ(second["state"], "running");
  EXPECT_GT(second["events"].get<uint64_t>(), first["events"].get<uint64_t>());
  EXPECT_EQ(second["source"], "gen");
  json graph = getJson(port, "/api/graph");
  EXPECT_EQ(graph["nodes"][1]["type"], "Histogrammer");
  EXPECT_EQ(graph["connections"][0], json({{"from", "gen"}, {"output", "fevent"}, {"to", "hist"}, {"input", "fevent"}}));

  json status;
  for (int i = 0; i < 300; ++i) {
    status = getJson(port, "/api/status");
    if (status["state"] == "done") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(status["state"], "done");
  EXPECT_EQ(status["events"], 800);  // the generator sends on two outputs per step
  EXPECT_GT(status["seconds"].get<double>(), 0);
  EXPECT_NEAR(status["rate"].get<double>(), 800 / status["seconds"].get<double>(), 1e-6);

  json list = getJson(port, "/api/histograms");
  ASSERT_EQ(list.size(), 3u) << list;
  std::map<std::string, json> served;
  for (const json& entry : list) {
    EXPECT_EQ(entry["node"], "hist");
    served[entry["property"]] = getJson(port, entry["url"]);
  }
  tarn.interrupt();
  ASSERT_EQ(tarn.wait(), 0) << tarn.err();  // Ctrl-C only ends the lingering

  for (const char* property : {"Serial", "Ramp", "Weight"}) {
    SCOPED_TRACE(property);
    const json& h = served[property];
    const CsvHistogram csv = readCsv(dir.path() + "/out_" + property + ".csv");
    ASSERT_FALSE(csv.counts.empty());
    EXPECT_EQ(h["counts"].get<std::vector<uint64_t>>(), csv.counts);
    EXPECT_EQ(h["edges"].get<std::vector<double>>(), csv.edges);  // bit for bit
    EXPECT_EQ(h["low"].get<double>(), csv.edges.front());
    EXPECT_EQ(h["high"].get<double>(), csv.edges.back());
    EXPECT_EQ(h["underflow"], csv.underflow);
    EXPECT_EQ(h["overflow"], csv.overflow);
    EXPECT_EQ(h["nan"], csv.nan);
    uint64_t sum = csv.underflow + csv.overflow;
    for (uint64_t c : csv.counts) sum += c;
    EXPECT_EQ(h["entries"], sum);
    // The run's own summary line gives entries, mean and RMS.
    std::ostringstream line;
    line << "out_" << property << ".csv, .png: " << sum << " entries, mean " << h["mean"].get<double>()
         << ", RMS " << h["rms"].get<double>();
    EXPECT_NE(tarn.out().find(line.str()), std::string::npos) << line.str() << "\n" << tarn.out();
  }
  EXPECT_EQ(served["Weight"]["unit"], "kg");
  EXPECT_GT(served["Weight"]["underflow"].get<uint64_t>() * served["Weight"]["overflow"].get<uint64_t>(), 0u);
}

// A server over a board holding one histogram whose property needs escaping in a URL.
class LiveServer : public ::testing::Test {
 protected:
  void SetUp() override {
    auto h = std::make_shared<LiveHistogram>();
    h->node = "h";
    h->property = "a b/c";
    h->edges = {0, 1, 2};
    h->counts = {3, 4};
    h->entries = 7;
    LiveBoard::instance().publish(h);
    std::string error;
    ASSERT_TRUE(server.start("127.0.0.1", 0, site, error)) << error;
    port = server.port();
  }
  void TearDown() override {
    server.stop();
    LiveBoard::instance().withdraw("h");
  }

  live::RunState run;
  live::Site site{"{}", run, LiveBoard::instance()};
  live::WebServer server;
  int port = 0;
};

TEST_F(LiveServer, AnswersGetAndHeadOnlyAndNothingOutsideItsPaths) {
  const std::string page = request(port, "GET", "/");
  ASSERT_EQ(statusOf(page), 200);
  EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos);
  EXPECT_NE(bodyOf(page).find("/live.js"), std::string::npos);
  const std::string head = request(port, "HEAD", "/");
  EXPECT_EQ(statusOf(head), 200);
  EXPECT_EQ(bodyOf(head), "");
  EXPECT_NE(head.find("Content-Length: " + std::to_string(bodyOf(page).size()) + "\r\n"), std::string::npos);
  EXPECT_EQ(statusOf(request(port, "GET", "/uPlot.js")), 200);  // the library, or the note of its absence

  for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "PATCH"}) {
    const std::string r = request(port, method, "/api/status");
    EXPECT_EQ(statusOf(r), 405) << method;
    EXPECT_NE(r.find("Allow: GET, HEAD"), std::string::npos) << method;
  }
  for (const char* path : {"/../../../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/..%2f..%2fetc%2fpasswd",
                           "/live.js/../../../etc/passwd", "/api/histograms/..%2F..%2Fetc%2Fpasswd",
                           "/etc/passwd", "/api/histograms/h", "/api/histograms/h/a",
                           "/api/histograms/x/a%20b%2Fc", "/api", "//api/status"})
    EXPECT_EQ(statusOf(request(port, "GET", path)), 404) << path;

  const json list = getJson(port, "/api/histograms");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["url"], "/api/histograms/h/a%20b%2Fc");
  const json h = getJson(port, list[0]["url"]);
  EXPECT_EQ(h["counts"], json({3, 4}));
  EXPECT_EQ(h["property"], "a b/c");
}

// Refused with an error status, or the connection closed without an answer.
bool refused(const std::string& response) {
  const int status = statusOf(response);
  return status == 0 || (status >= 400 && status < 600);
}

TEST_F(LiveServer, RefusesOversizedAndMalformedRequests) {
  const std::string big = "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n";
  EXPECT_TRUE(refused(livetest::exchange(port, big)));
  for (const std::string& junk : {std::string("\x01\x02\xff garbage\r\n\r\n"), std::string("GET\r\n\r\n"),
                                  std::string("GET etc/passwd HTTP/1.1\r\n\r\n"),
                                  std::string("GET / HTTP/9.9\r\n\r\n"), std::string(9000, 'G')})
    EXPECT_TRUE(refused(livetest::exchange(port, junk, 3000))) << junk.substr(0, 40);
  EXPECT_EQ(statusOf(request(port, "GET", "/api/status")), 200);  // still serving
}

TEST_F(LiveServer, AWebSocketUpgradeIsRefusedWithAStatusLine) {
  const std::string r = livetest::exchange(
      port, "GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
  EXPECT_EQ(statusOf(r), 400) << r;
  EXPECT_NE(r.find("Content-Length: " + std::to_string(bodyOf(r).size()) + "\r\n"), std::string::npos) << r;
  EXPECT_NE(r.find("Connection: close\r\n"), std::string::npos) << r;
}

// 16 connections send a GET's head announcing a large body, then a byte at a
// time: another client is answered meanwhile, and each of them is closed once
// the request's 2 s are up (a send fails soon after), long before it would end.
TEST_F(LiveServer, ATricklingBodyGetsTheRequestTimeAndHoldsNoOne) {
  using Clock = std::chrono::steady_clock;
  const std::string head = "GET /api/status HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n";
  std::vector<int> trickling;
  for (int i = 0; i < 16; ++i) {
    trickling.push_back(livetest::openConnection(port));
    ASSERT_GT(::send(trickling.back(), head.data(), head.size(), MSG_NOSIGNAL), 0);
  }
  const auto start = Clock::now();
  EXPECT_EQ(statusOf(livetest::exchange(port, "GET /api/status HTTP/1.1\r\n\r\n", 5000)), 200);
  size_t open = trickling.size();
  while (open > 0 && Clock::now() - start < std::chrono::seconds(20)) {
    for (int& fd : trickling)
      if (fd >= 0 && ::send(fd, "x", 1, MSG_NOSIGNAL) < 0) {
        ::close(fd);
        fd = -1;
        --open;
      }
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 10) << open << " still open";
  for (int fd : trickling)
    if (fd >= 0) ::close(fd);
}

// Past its connection limit the server closes the oldest connection for a newcomer.
TEST_F(LiveServer, ANewcomerPastTheLimitClosesTheOldestConnection) {
  live::WebServer small;
  std::string error;
  ASSERT_TRUE(small.start("127.0.0.1", 0, site, error, live::ServerLimits{4, 60000, 8192})) << error;
  std::vector<int> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(livetest::openConnection(small.port()));
  EXPECT_EQ(statusOf(request(small.port(), "GET", "/api/status")), 200);
  pollfd closed{idle[0], POLLIN, 0};
  char byte;
  EXPECT_EQ(::poll(&closed, 1, 5000), 1);  // at once, not after the minute it has
  EXPECT_EQ(::recv(idle[0], &byte, 1, MSG_DONTWAIT), 0);
  for (int fd : idle) ::close(fd);
}

TEST_F(LiveServer, ABusyPortOrABadAddressStopsTarnBeforeTheRun) {
  tarntest::TempDir dir;
  const std::string graph = histogramGraph(dir, 1, 0);
  auto busy = tarntest::runTarn({"run", graph, "--serve", std::to_string(port)});
  EXPECT_EQ(busy.status, 2);
  EXPECT_NE(busy.err.find("tarn: --serve cannot serve on 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << busy.err;
  EXPECT_EQ(busy.out.find("out_Serial"), std::string::npos);  // nothing ran
  EXPECT_EQ(tarntest::runTarn({"run", graph, "--serve", "nowhere:"}).status, 2);
  EXPECT_EQ(tarntest::runTarn({"run", graph, "--linger"}).status, 2);
}

// Names come from graph files and run files, in any bytes: the answer stays
// JSON a browser parses, the bytes that are not UTF-8 shown as U+FFFD.
TEST(LiveApi, NamesThatAreNotUtf8StillGiveValidJson) {
  LiveHistogram h;
  h.node = "n\xc3";
  h.property = "p\xff\"\n\xe2\x82\xac";
  h.edges = {0, 0.5};
  h.counts = {1};
  h.mean = std::nan("");
  const json j = json::parse(live::histogramJson(h));  // throws on text that is not JSON
  EXPECT_EQ(j["node"], "n\xef\xbf\xbd");
  EXPECT_EQ(j["property"], "p\xef\xbf\xbd\"\n\xe2\x82\xac");
  EXPECT_TRUE(j["mean"].is_null());
  EXPECT_EQ(j["high"], 0.5);
}

TEST(LiveServerAddress, HostAndPort) {
  std::string host;
  int port = -1;
  EXPECT_TRUE(live::parseListenAddress("8080", host, port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 8080);
  EXPECT_TRUE(live::parseListenAddress("0.0.0.0:0", host, port));
  EXPECT_EQ(host, "0.0.0.0");
  EXPECT_TRUE(live::parseListenAddress("[::1]:99", host, port));
  EXPECT_EQ(host, "[::1]");
  for (const char* bad : {"", ":80", "host:", "80000", "12a", "a:b:80", "[::1:80", "x/y:80", "-1"})
    EXPECT_FALSE(live::parseListenAddress(bad, host, port)) << bad;
}

// Stalled clients hold every server thread and its queue; the graph goes on
// and tarn ends as soon as the run has.
TEST(LiveThreads, StalledClientsDoNotHoldTheRun) {
  tarntest::TempDir dir;
  LiveTarn tarn({"run", histogramGraph(dir, 200, 0.005), "--serve", "0"});
  const int port = tarn.port();
  ASSERT_GT(port, 0) << tarn.err();
  std::vector<int> held;
  for (int i = 0; i < 40; ++i) {
    const int fd = livetest::openConnection(port);
    if (fd < 0) continue;
    held.push_back(fd);
    if (i % 2 == 0) {
      const std::string partial = "GET /api/status HTTP/1.1\r\nHost: x\r\nX-Slow: ";
      EXPECT_GT(::send(fd, partial.data(), partial.size(), MSG_NOSIGNAL), 0);
    }
  }
  EXPECT_GE(held.size(), 20u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tarn.wait(60000), 0) << tarn.err();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 20) << "tarn waited for the stalled clients";
  EXPECT_NE(tarn.out().find("out_Serial.csv, .png: 200 entries"), std::string::npos) << tarn.out();
  for (int fd : held) ::close(fd);
}

// A real graph fills its Histogrammer in one thread while clients read the
// snapshots in others (the test ThreadSanitizer runs).
TEST(LiveThreads, SnapshotsPublishedWhileClientsRead) {
  tarntest::Node gen("StrandEventGenerator", "gen"), hist("Histogrammer", "hist");
  tarntest::TempDir dir;
  ASSERT_TRUE(gen->SetInput("steps", "3000"));
  ASSERT_TRUE(hist->SetInput("prefix", dir.path() + "/t"));
  ASSERT_TRUE(gen->AddReceiver("fevent", hist.get(), "fevent"));
  live::RunState run;
  live::Site site("{}", run, LiveBoard::instance());
  live::WebServer server;
  std::string error;
  ASSERT_TRUE(server.start("127.0.0.1", 0, site, error)) << error;

  std::atomic<bool> done{false};
  std::atomic<int> answers{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 3; ++c)
    clients.emplace_back([&] {
      while (!done) {
        const std::string r = request(server.port(), "GET", "/api/histograms/hist/Serial");
        if (statusOf(r) == 200) ++answers;
        request(server.port(), "GET", "/api/status");
      }
    });
  run.sourceStarting(gen.get());
  {
    tarntest::CapturedStdout quiet;
    for (int i = 0; i < 40 && answers < 5; ++i) {
      gen->Start();  // 3000 events each pass, until the clients have seen some
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.sourceEnded();
    LiveBoard::instance().publishAll();
    run.runEnded();
  }
  done = true;
  for (std::thread& t : clients) t.join();
  EXPECT_GE(answers.load(), 5);
  const json last = json::parse(bodyOf(request(server.port(), "GET", "/api/histograms/hist/Serial")));
  const json status = json::parse(bodyOf(request(server.port(), "GET", "/api/status")));
  EXPECT_EQ(status["state"], "done");
  EXPECT_EQ(last["entries"].get<uint64_t>() * 2, status["events"].get<uint64_t>());
}

}  // namespace

// A warning of every event is kept once with its count; other lines keep
// their order, and a line let go for want of room is shown again later.
TEST(LiveOutput, RepeatedLinesAreCountedNotKept) {
  live::RepeatedLines lines(40);
  EXPECT_TRUE(lines.add("a: opened"));
  for (int i = 0; i < 1039; ++i) lines.add("Not valid datum");
  EXPECT_TRUE(lines.add(""));
  EXPECT_TRUE(lines.add(""));  // blank lines separate events; never counted
  EXPECT_FALSE(lines.add("a: opened"));
  EXPECT_EQ(lines.text(), "a: opened\n... and 1 more like it\nNot valid datum\n... and 1,038 more like it\n\n\n");
  EXPECT_EQ(lines.repeats(), "a: opened\n... and 1 more like it\nNot valid datum\n... and 1,038 more like it\n");
  EXPECT_TRUE(lines.add(std::string(30, 'x')));  // pushes the first two out
  EXPECT_EQ(lines.text(), "\n\n" + std::string(30, 'x') + "\n");
  EXPECT_TRUE(lines.add("Not valid datum"));
}
