// The report and the events as their readers take them: the report parsed as HTML (nothing
// outside the file, every failed negotiation in it, a log's markup shown as text), the events
// one parseable JSON object per negotiation and line.
#include <gtest/gtest.h>

#include <set>
#include <string>

// ShellRun.h first: its ::testing must not be taken for quillon::testing of ScratchDir.h.
#include "../cli/ShellRun.h"
#include "../ScratchDir.h"
#include "export/HtmlReport.h"
#include "export/Negotiations.h"
#include "logs/OpenLog.h"
#include "model/TreeCounts.h"
#include "model/TreeRules.h"

namespace quillon {
namespace {

using testing::ExamplePath;
using testing::ScratchPath;
using testing_support::RunShell;

bool HavePython() { return RunShell("command -v python3 >/dev/null").status == 0; }

// Parses the HTML with Python's parser and prints every tag and attribute that reaches outside
// the file, then the text of the document, one line per piece of text.
constexpr const char* kHtmlCheck = R"(python3 -c '
import sys, html.parser
class P(html.parser.HTMLParser):
    def handle_starttag(self, tag, attrs):
        if tag in ("script", "link", "img", "iframe", "object", "embed", "image", "use", "base"):
            print("EXTERNAL tag", tag)
        for name, value in attrs:
            if name in ("src", "href", "xlink:href", "action") or name.startswith("on") or \
               (value and ("url(" in value or "://" in value)):
                print("EXTERNAL attr", tag, name)
    def handle_data(self, data):
        if "://" in data and self.lasttag == "style": print("EXTERNAL style")
        for line in data.split("\n"): print("TEXT", line)
p = P(convert_charrefs=True)
p.feed(open(sys.argv[1], encoding="utf-8").read())
p.close()
')";

std::string Report(const LogFile& root, const std::string& name, const std::string& path) {
  StringSink sink;
  hand_over::ReportSource source{name, path, 1234, "IKEv1", nullptr, 0};
  EXPECT_TRUE(hand_over::WriteHtmlReport(root, source, sink));
  const std::string file = ScratchPath("report-" + std::to_string(std::hash<std::string>{}(name)) + ".html").string();
  testing::WriteFileBytes(file, sink.text);
  const auto run = RunShell(std::string(kHtmlCheck) + " '" + file + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("EXTERNAL"), std::string::npos) << run.out;
  return run.out;
}

// The captions of the failed negotiations of the shown tree.
std::set<std::string> FailedCaptions(const LogFile& log) {
  std::set<std::string> captions;
  for (const LogNode* peer : VisibleChildren(log))
    for (const auto& n : hand_over::NegotiationsOf(*peer))
      if (hand_over::IsFailedNegotiation(*n.exchange)) captions.insert(n.exchange->Caption());
  return captions;
}

// The report holds every failed negotiation and nothing outside the file; --events prints one
// object per negotiation, each with its fields.
TEST(HandOverTest, ReportAndEventsHoldEveryNegotiationOfTheSamples) {
  if (!HavePython()) GTEST_SKIP() << "python3 is not installed";
  for (const char* sample : {"small.ilx", "gateway-day.ilx", "ikev2-remote-access.xml", "ikev2-site-to-site.xml"}) {
    SCOPED_TRACE(sample);
    const std::string path = ExamplePath(sample).string();
    OpenLogResult loaded = OpenLog(path);
    ASSERT_EQ(loaded.status, OpenLogResult::Status::kLoaded);
    const std::string text = Report(*loaded.log, sample, path);
    const std::set<std::string> failed = FailedCaptions(*loaded.log);
    EXPECT_EQ(failed.empty(), CountTree(*loaded.log).failed == 0);
    for (const std::string& caption : failed) EXPECT_NE(text.find(caption), std::string::npos) << caption;
    // The daemon's reason for a transform it did not choose, as the log gives it.
    if (std::string(sample) == "gateway-day.ilx") {
      EXPECT_NE(text.find("Not chosen: proposal 1 transform 2 KEY_IKE - encryption DES-CBC not allowed by policy"),
                std::string::npos);
    }

    const auto run = RunShell(std::string(QUILLON_CLI) + " --events '" + path +
                              "' | python3 -c 'import sys, json\n"
                              "n = 0\n"
                              "for line in sys.stdin:\n"
                              "    e = json.loads(line)\n"
                              "    assert set(e) >= {\"peer\", \"caption\", \"start\", \"end\", \"lines\", \"failed\", \"diagnosis\"}\n"
                              "    assert e[\"lines\"] is None or e[\"lines\"][0] <= e[\"lines\"][1]\n"
                              "    n += 1\n"
                              "print(n)'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::to_string(CountTree(*loaded.log).negotiations) + "\n");
  }
}

TEST(HandOverTest, LogMarkupInTheReportIsText) {
  if (!HavePython()) GTEST_SKIP() << "python3 is not installed";
  // The first packet of the sample alone: a main mode without answer, which fails, its vendor
  // line and its peer's line carrying markup.
  std::string log = testing::ExampleText("small.ilx");
  log = log.substr(0, log.find("debugIsakmpHdr: (Process)"));
  const std::string hostile = "<script>alert(1)</script><img src=http://x/y>&amp;\x1b[2J";
  log.replace(log.find("Morrowvale Gateway"), 18, hostile);
  const std::string path = ScratchPath("hostile.ilx").string();
  testing::WriteFileBytes(path, log);
  OpenLogResult loaded = OpenLog(path);
  ASSERT_EQ(loaded.status, OpenLogResult::Status::kLoaded);
  ASSERT_EQ(CountTree(*loaded.log).failed, 1u);
  const std::string text = Report(*loaded.log, "<b>hostile</b>.ilx", path);
  // The parser sees the markup as text (entities resolved), the escape byte made visible.
  EXPECT_NE(text.find("<script>alert(1)</script><img src=http://x/y>&amp;\\x1b[2J"), std::string::npos) << text;
  EXPECT_NE(text.find("Quillon report: <b>hostile</b>.ilx"), std::string::npos);
}

TEST(HandOverTest, CommandLineWritesSafelyAndSaysWhatItWrote) {
  const std::string cli = QUILLON_CLI;
  const std::string log = ScratchPath("day.ilx").string();
  testing::WriteFileBytes(log, testing::ExampleText("gateway-day.ilx"));
  const std::string capture = ScratchPath("day.pcapng").string();
  auto run = RunShell(cli + " --stats --verify=failed --pcap '" + capture + "' '" + log + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  // As many packets written as the narrowed tree holds (the failed negotiations').
  EXPECT_NE(run.out.find("packets: 19\n"), std::string::npos) << run.out;
  EXPECT_TRUE(run.out.ends_with("packets written: 19 (incomplete: 0)\n")) << run.out;
  EXPECT_EQ(testing::ReadFileBytes(capture).substr(0, 4), std::string("\x0a\x0d\x0d\x0a", 4));

  // Never over the log itself.
  for (const char* option : {"--pcap", "--report"}) {
    run = RunShell(cli + " " + option + " '" + log + "' '" + log + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is currently open."), std::string::npos) << run.err;
  }
  EXPECT_EQ(testing::ReadFileBytes(log), testing::ExampleText("gateway-day.ilx"));
}

// --events --follow --verify=failed: the failures of what is appended come as events too.
TEST(HandOverTest, FollowedEventsTellEveryFailure) {
  if (!HavePython()) GTEST_SKIP() << "python3 is not installed";
  const std::string text = testing::ExampleText("gateway-day.ilx");
  const std::size_t cut = text.rfind("\n+++", text.size() / 2) + 1;
  const std::string log = ScratchPath("followed.ilx").string();
  const std::string rest = ScratchPath("rest.ilx").string();
  testing::WriteFileBytes(log, text.substr(0, cut));
  testing::WriteFileBytes(rest, text.substr(cut));
  // A negotiation left without an answer is told once its grace (one second here) has passed.
  const auto run = RunShell(std::string(QUILLON_CLI) + " --events --follow --grace 1 --verify=failed '" + log +
                            "' > '" + log + ".out' & pid=$!; sleep 0.5; cat '" + rest + "' >> '" + log +
                            "'; sleep 2; kill -TERM $pid; wait $pid; echo $?; python3 -c 'import sys, json\n"
                            "events = [json.loads(line) for line in open(sys.argv[1])]\n"
                            "assert all(e[\"failed\"] and e[\"diagnosis\"] is not None for e in events)\n"
                            "print(\"\\n\".join(sorted({e[\"caption\"] for e in events})))' '" + log + ".out'");
  ASSERT_EQ(run.err, "");
  OpenLogResult whole = OpenLog(ExamplePath("gateway-day.ilx").string());
  ASSERT_EQ(whole.status, OpenLogResult::Status::kLoaded);
  // The events hold every final failure, and no negotiation that was only in progress.
  ASSERT_TRUE(run.out.starts_with("0\n")) << run.out;  // SIGTERM ends it with exit status 0
  for (const std::string& caption : FailedCaptions(*whole.log))
    EXPECT_NE(run.out.find("\n" + caption + "\n"), std::string::npos) << caption;
}

}  // namespace
}  // namespace quillon
