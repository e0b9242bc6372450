// A loaded log lives in its arena: every chunk goes back when the log goes (also after a
// narrowing, a cancelled load or a Clear), and nothing of the tree stays behind on the heap.
// Under the address sanitizer's leak check a text or list that a node had taken from the heap
// would show up as a leak here, because the tree's nodes are never destroyed one by one.
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <string>

#include "bench/LogGenerator.h"
#include "logs/OpenLog.h"
#include "model/Narrowing.h"
#include "model/NodeArena.h"
#include "model/NodeText.h"
#include "model/LogNode.h"
#include "tests/ScratchDir.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_TEST_ASAN 1
#endif

namespace quillon {
namespace {

// The general heap, counting the chunks out and back.
class CountingChunks final : public ChunkSource {
 public:
  std::size_t outstanding = 0;
  std::size_t taken = 0;
  std::size_t releases = 0;  // calls that gave chunks back together

  void ReleaseChunks(const std::vector<Chunk>& chunks, std::size_t alignment, HelperThreads* helpers) override {
    ++releases;
    ChunkSource::ReleaseChunks(chunks, alignment, helpers);
  }

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    outstanding += bytes;
    ++taken;
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  }
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
    outstanding -= bytes;
    std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

class ArenaTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Larger than one piece, so that worker threads read into lanes of their own.
    bench::WriteDebugLog(Path("pieces.ilx"), 5u << 20, 40);
    bench::WriteIKEv2Log(Path("pieces.xml"), 3u << 20, 40);
  }
  static std::string Path(const char* name) { return testing::ScratchPath(std::string("arena-") + name).string(); }
  static std::string Example(const char* name) { return testing::ExamplePath(name).string(); }
};

TEST_F(ArenaTest, EveryChunkGoesBackWithTheLog) {
  for (const std::string& path : {Path("pieces.ilx"), Path("pieces.xml"), Example("gateway-day.ilx"),
                                  Example("ikev2-remote-access.xml")}) {
    SCOPED_TRACE(path);
    CountingChunks chunks;
    for (const bool narrowed : {false, true}) {
      OpenLogResult result = OpenLog(path, {}, &chunks);
      ASSERT_EQ(result.status, OpenLogResult::Status::kLoaded);
      ASSERT_GT(result.log->ChildCount(), 0u);
      EXPECT_GT(chunks.outstanding, 0u) << "the tree is in the arena";
      if (narrowed) {
        // The viewer names peers by their hosts after the load, outside any scope: the longer
        // names and a list grown there come from the heap and go with the peers all the same,
        // whether a peer stays, is kept aside by a filter or is removed (the leak check).
        for (std::size_t i = 0; i < result.log->ChildCount(); ++i) {
          LogNode& peer = *result.log->Child(i);
          peer.SetName(std::string(peer.Name()) + " (a-host-name-longer-than-any-shared-text.example)");
          if (i % 2 == 0)
            for (int added = 0; added < 12; ++added) peer.AppendChild(std::make_unique<LogNode>("added", nullptr));
        }
        // The log keeps what a filter removes, destroys a deleted peer while the arena stands
        // and lets the rest go.
        FilterCriteria failedOnly;
        failedOnly.failedPeersOn = true;
        ApplyFilter(*result.log, failedOnly, nullptr);
        if (result.log->ChildCount() != 0) result.log->RemovePeer(*result.log->Child(0));
      }
      const std::size_t releases = chunks.releases;
      result.log.reset();
      EXPECT_EQ(chunks.outstanding, 0u);
      EXPECT_EQ(chunks.releases, releases + 1) << "all chunks go back in one call";
    }
  }
}

TEST_F(ArenaTest, ACancelledLoadAndAClearGiveTheArenaBack) {
  CountingChunks chunks;
  int calls = 0;
  const ReadProgress cancelSoon = [&calls](std::uint64_t) {
    if (++calls == 2) throw LoadCancelled();
  };
  for (const char* name : {"pieces.ilx", "pieces.xml"}) {
    calls = 0;
    EXPECT_THROW(OpenLog(Path(name), cancelSoon, &chunks), LoadCancelled) << name;
    EXPECT_EQ(chunks.outstanding, 0u) << name;
  }

  OpenLogResult result = OpenLog(Path("pieces.ilx"), {}, &chunks);
  ASSERT_EQ(result.status, OpenLogResult::Status::kLoaded);
  const std::size_t taken = chunks.taken;
  result.log->Clear();
  EXPECT_EQ(result.log->ChildCount(), 0u);
  EXPECT_EQ(chunks.outstanding, 0u);
  EXPECT_EQ(chunks.taken, taken);
  // The root's own list and name never lay in the arena that went: it takes peers again.
  for (int i = 0; i < 20; ++i) result.log->AppendChild(std::make_unique<LogNode>("peer", nullptr));
  EXPECT_EQ(result.log->ChildCount(), 20u);
  EXPECT_EQ(result.log->Name(), "IKE debugging info");
}

// A text or list reserves room while its node is read and is cut to size afterwards; a scan
// builds and drops a header for every packet-debug block. The lane takes such blocks back for
// the next of their size, but only its own: a block of another lane or arena stays put.
TEST(ArenaLaneTest, ReusesWhatItsOwnThreadGivesBack) {
  NodeArena arena;
  NodeArena other;
  void* foreign = nullptr;
  {
    ArenaScope scope(&other);
    foreign = NodeResource()->allocate(160, 8);
  }
  ArenaScope scope(&arena);
  std::pmr::memory_resource* lane = NodeResource();
  void* reserved = lane->allocate(161, 1);
  EXPECT_NE(lane->allocate(100, 1), nullptr);
  lane->deallocate(reserved, 161, 1);
  EXPECT_EQ(lane->allocate(161, 1), reserved) << "the room a text gave up";
  lane->deallocate(foreign, 160, 8);
  EXPECT_NE(lane->allocate(160, 8), foreign) << "another arena's block";
}

// Nodes of one lane share their fixed names: a shared name outlives the node that first used
// it, a change to one node's name is that node's alone, and a name too long to share is copied.
TEST(ArenaLaneTest, NodesShareTheirNames) {
  NodeArena arena;
  ArenaScope scope(&arena);
  auto first = std::make_unique<LogNode>("Vendor ID", nullptr);
  auto second = std::make_unique<LogNode>("Vendor ID", nullptr);
  EXPECT_EQ(first->Name().data(), second->Name().data());
  auto longName = std::make_unique<LogNode>(std::string(300, 'x'), nullptr);
  EXPECT_EQ(longName->Name(), std::string(300, 'x'));
  first.reset();
  second->SetName(std::string(second->Name()) + " (renamed)");
  auto third = std::make_unique<LogNode>("Vendor ID", nullptr);
  EXPECT_EQ(third->Name(), "Vendor ID");
  EXPECT_EQ(second->Name(), "Vendor ID (renamed)");
  // Placed in the arena: let go with it.
  for (auto* node : {&second, &longName, &third}) (void)node->release();
}

// A text viewing a shared copy takes a block of its own before it changes, and that block holds
// all of it even when the change asks for less room than the text has: the copy and the block
// placed next are left as they were.
TEST(ArenaLaneTest, ASharedTextCopiedForAChangeKeepsAllOfIt) {
  NodeArena arena;
  ArenaScope scope(&arena);
  const std::string text(100, 'v');
  NodeText changed;
  changed.AssignShared(text);
  NodeText same;
  same.AssignShared(text);
  ASSERT_EQ(std::string_view(changed).data(), std::string_view(same).data());
  changed.reserve(40);
  NodeText next;
  next.assign(std::string(60, 'n'));
  EXPECT_EQ(std::string_view(changed), text);
  EXPECT_EQ(std::string_view(same), text);
  EXPECT_EQ(std::string_view(next), std::string(60, 'n'));

  // A replace that shortens a shared text.
  NodeText shortened;
  shortened.AssignShared(text);
  shortened.replace(0, 90, "ab");
  NodeText after;
  after.assign(std::string(40, 'a'));
  EXPECT_EQ(std::string_view(shortened), "ab" + std::string(10, 'v'));
  EXPECT_EQ(std::string_view(same), text);
}

#ifdef QUILLON_TEST_ASAN
// The sanitizer still sees a node that was destroyed while its arena stands (its bytes are
// poisoned) and a node read after its log is gone.
TEST_F(ArenaTest, TheSanitizerSeesNodesThatAreGone) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  for (const bool wholeLog : {false, true}) {
    EXPECT_DEATH(
        {
          OpenLogResult result = OpenLog(Example("small.ilx"));
          const LogNode* peer = result.log->Child(0);
          if (wholeLog) result.log.reset();
          else result.log->RemovePeer(*peer);
          [[maybe_unused]] volatile bool read = peer->IsDeleted();
        },
        "use-after-poison|use-after-free");
  }
}
#endif

}  // namespace
}  // namespace quillon
