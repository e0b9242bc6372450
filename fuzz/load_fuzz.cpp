// libFuzzer target: arbitrary bytes through the IKEv1 debug-log loader and the IKEv2 XML
// reader. Every input must load to the end without crash, hang, leak or undefined behaviour,
// and an IKEv1 log read in pieces on worker threads must give the tree one reader gives (a
// difference aborts).
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
#include <string>

#include "cli/TreePrinter.h"
#include "ikev1/log/DebugLogReader.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "model/LogFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  {
    const auto tree = [&text](const quillon::IKEv1ReadOptions& options) {
      quillon::LogFile root;
      auto reader = quillon::DebugLogReader::FromText(text);
      root.ReadIKEv1Log(reader, options);
      return quillon::cli::TextTree(root, {false, true}) + reader.RestartText();
    };
    // Some sixteen pieces, whatever the input's size.
    const std::size_t pieceSize = std::max<std::size_t>(text.size() / 16, 32);
    if (tree({0, 1}) != tree({pieceSize, 2})) std::abort();
  }
  {
    // Small pieces, so that the cutting at exchange start lines and the in-place reading of
    // stretches without one are exercised on every input.
    quillon::LogFile root;
    auto reader = quillon::LogLineReader::FromText(text);
    quillon::ReadIKEv2Log(root, reader, {64, 1024, 2});
    for (const auto& peer : root.Children()) (void)peer->DetailText();
  }
  return 0;
}
