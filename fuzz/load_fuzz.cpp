// libFuzzer target: arbitrary bytes through the IKEv1 debug-log loader and the IKEv2 XML
// reader. Every input must load to the end without crash, hang, leak or undefined behaviour,
// an IKEv1 log read in pieces on worker threads must give the tree one reader gives, and what
// either loader read, saved, must load again to the same tree, and a log followed while it grows
// in parts (cut where the input's bytes say) must end as the tree of one load (a difference
// aborts, printing the node where the trees part).
//
// Build and run (clang):
//   cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DQUILLON_BUILD_FUZZ=ON \
//         -DQUILLON_BUILD_TESTS=OFF -DQUILLON_BUILD_BENCH=OFF -DQUILLON_BUILD_APP=OFF
//   cmake --build build-fuzz --target load_fuzz
//   mkdir -p /tmp/corpus && build-fuzz/fuzz/load_fuzz -max_total_time=600 -timeout=10 \
//         /tmp/corpus examples/
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <string>

#include <cstdio>

#include "cli/TreePrinter.h"
#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/FollowIKEv1Log.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev2/FollowIKEv2Log.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "logs/SaveLog.h"
#include "model/LogFile.h"
#include "tests/model/TreeCompare.h"

namespace {

// The tree saved and read back with `read` must be the tree that was saved.
template <typename Read>
void CheckSaved(const quillon::LogFile& root, Read read) {
  quillon::StringSink saved;
  if (!quillon::WriteLog(root, saved)) std::abort();
  quillon::LogFile again;
  read(again, saved.text);
  const std::string difference = quillon::testing::FirstTreeDifference(again, root);
  if (!difference.empty()) {
    std::fprintf(stderr, "saved log reads back differently:\n%s\n", difference.c_str());
    std::abort();
  }
}

// Follows `text` appended in parts, pausing after some, as a viewer would; a follower that
// cannot go on is replaced by a fresh one given everything so far. The tree must be the one
// `whole` holds.
template <typename Follower>
void CheckFollowed(const std::string& text, const quillon::LogFile& whole) {
  auto root = std::make_unique<quillon::LogFile>();
  auto follower = std::make_unique<Follower>(*root);
  std::size_t from = 0;
  std::uint32_t mix = 2166136261u;
  for (unsigned char c : text) mix = (mix ^ c) * 16777619u;
  for (int part = 0; from < text.size(); ++part) {
    mix = mix * 1103515245u + 12345u;
    const std::size_t to = part == 5 ? text.size() : std::min(text.size(), from + 1 + (mix >> 8) % (text.size() / 3 + 1));
    if (follower->Append(std::string_view(text).substr(from, to - from)) == Follower::Result::kReload) {
      root = std::make_unique<quillon::LogFile>();
      follower = std::make_unique<Follower>(*root);
      follower->Append(std::string_view(text).substr(0, to));
    }
    if ((mix & 0x10000) != 0) follower->Settle();
    from = to;
  }
  follower->Settle();
  const std::string difference = quillon::testing::FirstTreeDifference(*root, whole);
  if (!difference.empty()) {
    std::fprintf(stderr, "followed log differs from one load:\n%s\n", difference.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // A followed log places its last line once the line is complete.
  const std::string lined = text.empty() || text.back() == '\n' ? text : text + '\n';
  {
    const auto tree = [&text](const quillon::IKEv1ReadOptions& options) {
      quillon::LogFile root;
      auto reader = quillon::DebugLogReader::FromText(text);
      quillon::ReadIKEv1Log(root, reader, options);
      if (options.pieceSize == 0) {
        CheckSaved(root, [](quillon::LogFile& again, const std::string& saved) {
          auto savedReader = quillon::DebugLogReader::FromText(saved);
          quillon::ReadIKEv1Log(again, savedReader, {0, 1});
        });
      }
      return quillon::cli::TextTree(root, {false, true}) + reader.RestartText();
    };
    // Some sixteen pieces, whatever the input's size.
    const std::size_t pieceSize = std::max<std::size_t>(text.size() / 16, 32);
    if (tree({0, 1}) != tree({pieceSize, 2})) std::abort();
    quillon::LogFile whole;
    auto reader = quillon::DebugLogReader::FromText(lined);
    quillon::ReadIKEv1Log(whole, reader, {0, 1});
    CheckFollowed<quillon::IKEv1Follower>(lined, whole);
  }
  {
    // Small pieces, so that the cutting at exchange start lines and the in-place reading of
    // stretches without one are exercised on every input.
    quillon::LogFile root;
    auto reader = quillon::LogLineReader::FromText(text);
    quillon::ReadIKEv2Log(root, reader, {64, 1024, 2});
    for (const auto& peer : root.Children()) (void)peer->DetailText();
    quillon::LogFile whole;
    auto wholeReader = quillon::LogLineReader::FromText(lined);
    quillon::ReadIKEv2Log(whole, wholeReader, {64, 1024, 2});
    CheckFollowed<quillon::IKEv2Follower>(lined, whole);
    CheckSaved(root, [](quillon::LogFile& again, const std::string& saved) {
      auto savedReader = quillon::LogLineReader::FromText(saved);
      quillon::ReadIKEv2Log(again, savedReader, {64, 1024, 2});
    });
  }
  return 0;
}
