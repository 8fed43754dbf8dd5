#include "GraphFile.h"

#include <gtest/gtest.h>

namespace {

TEST(GraphFile, ParsesEachStatementKind) {
  std::vector<GraphProblem> problems;
  auto st = parseGraph(
      "# a comment\n"
      "\n"
      "   # indented comment\n"
      "node src RunFile\n"
      "set src.file   run 42.mid  \t\n"
      "set src.#3\n"
      "connect src.event dump.#0\n"
      "node dump EventDumper\n"
      "start src\n",
      problems);
  ASSERT_TRUE(problems.empty()) << problems[0].message;
  ASSERT_EQ(st.size(), 6u);
  EXPECT_EQ(st[0].kind, GraphStatement::Node);
  EXPECT_EQ(st[0].line, 4);
  EXPECT_EQ(st[0].type, "RunFile");
  EXPECT_EQ(st[1].kind, GraphStatement::Set);
  EXPECT_EQ(st[1].port, "file");
  EXPECT_EQ(st[1].text, "run 42.mid");
  EXPECT_EQ(st[2].port, "#3");
  EXPECT_EQ(st[2].text, "");
  EXPECT_EQ(st[3].kind, GraphStatement::Connect);
  EXPECT_EQ(st[3].toNode, "dump");
  EXPECT_EQ(st[3].toPort, "#0");
  EXPECT_EQ(st[5].kind, GraphStatement::Start);
  EXPECT_EQ(st[5].line, 9);
}

TEST(GraphFile, ReportsEveryMistakeWithItsLine) {
  std::vector<GraphProblem> problems;
  parseGraph(
      "node a Probe\n"
      "nod b Probe\n"
      "node a Probe\n"
      "node c\n"
      "set a\n"
      "connect a.echo\n"
      "connect a.echo zz.int\n"
      "start\n"
      "node bad.name Probe\n"
      "set ghost.int 1\n",
      problems);
  std::vector<std::pair<int, std::string>> seen;
  for (auto& p : problems) seen.emplace_back(p.line, p.message);
  ASSERT_EQ(seen.size(), 9u);
  EXPECT_EQ(seen[0], std::make_pair(2, std::string("unknown statement 'nod' (node, set, connect, start)")));
  EXPECT_EQ(seen[1].first, 3);
  EXPECT_EQ(seen[1].second, "node 'a' is already defined");
  EXPECT_EQ(seen[2].first, 4);
  EXPECT_EQ(seen[3].first, 5);
  EXPECT_EQ(seen[4].first, 6);
  EXPECT_EQ(seen[5].first, 8);
  EXPECT_EQ(seen[6].first, 9);
  EXPECT_EQ(seen[7], std::make_pair(7, std::string("no node 'zz'")));
  EXPECT_EQ(seen[8], std::make_pair(10, std::string("no node 'ghost'")));
}

TEST(GraphFile, SplitPortRefAtFirstDot) {
  std::string n, p;
  EXPECT_TRUE(splitPortRef("a.b.c", n, p));
  EXPECT_EQ(n, "a");
  EXPECT_EQ(p, "b.c");
  EXPECT_FALSE(splitPortRef(".b", n, p));
  EXPECT_FALSE(splitPortRef("a.", n, p));
  EXPECT_FALSE(splitPortRef("ab", n, p));
}

}  // namespace
