// The runs of header fields that daemon builds log in either order: the versions, whose first
// label may come a token late, and the flags, whose last label says which end of the run it is.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"

namespace quillon {
namespace {

// Major and minor version, reserved, commit and encryption flag.
using Fields = std::array<std::uint32_t, 5>;

Fields Read(const std::string& versionsAndFlags) {
  auto reader = DebugLogReader::FromText("InitCookie: 01 \nRspCookie: 02 \nNextPld: 01 " + versionsAndFlags +
                                         " MsgID: 00 \nLength: 00 00 00 1c (28) next");
  Header h;
  h.ReadHeaderFields(reader);
  EXPECT_EQ(reader.ReadToken(), "next") << versionsAndFlags;
  return {h.MajorVersion(), h.MinorVersion(), h.ResFlag(), h.CommitFlag(), h.EncFlag()};
}

TEST(HeaderFieldOrderTest, RunsReadInEitherOrderWithTheirTolerances) {
  struct Case {
    const char* text;
    Fields expected;
  };
  const Case cases[] = {
      {"MjVer: 1 MnVer: 2 ExcType: 5 ResFlag: 3 CommitFlag: 4 EncFlag: 6", {1, 2, 3, 4, 6}},
      {"MnVer: 2 MjVer: 1 ExcType: 5 EncFlag: 6 CommitFlag: 4 ResFlag: 3", {1, 2, 3, 4, 6}},
      // One stray token before the versions is passed over.
      {"x MnVer: 2 MjVer: 1 ExcType: 5 ResFlag: 3 CommitFlag: 4 EncFlag: 6", {1, 2, 3, 4, 6}},
      // The last flag is the encryption flag only by its label; any other label is the
      // reserved flag, whichever order the run opened in.
      {"MjVer: 1 MnVer: 2 ExcType: 5 ResFlag: 3 CommitFlag: 4 Flag: 6", {1, 2, 6, 4, 0}},
      {"MjVer: 1 MnVer: 2 ExcType: 5 EncFlag: 6 CommitFlag: 4 EncFlag: 7", {1, 2, 0, 4, 7}},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace quillon
