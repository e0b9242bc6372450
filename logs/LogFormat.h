// The log formats the loader and the follower know, and which one a log needs: by its name
// first, by what it holds when the name misleads.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "model/ByteSource.h"
#include "model/FormatFollower.h"
#include "model/LogFile.h"
#include "model/ReadProgress.h"

namespace quillon {

// One log format: how its start is recognised, its reader and its follower. The loader and the
// follower of a file ask the format for these and know nothing of either format themselves.
struct LogFormat {
  const char* name;  // "IKEv1" or "IKEv2": the reader --stats names
  // The start of a file clearly holds a log of this format.
  bool (*holds)(std::string_view head);
  // The start of a file declares a log of this format, which may hold nothing yet.
  bool (*declares)(std::string_view head);
  // Reads a whole log of this format from the start of `source` into an empty `root`.
  void (*read)(LogFile& root, const std::shared_ptr<ByteSource>& source, const ReadProgress& progress);
  // A follower that builds an empty `root` from the bytes of a growing log.
  std::unique_ptr<FormatFollower> (*follow)(LogFile& root);
  // Whether a log's last bytes (`tail`, the end of the text) end inside a packet or exchange.
  bool (*endsInside)(std::string_view tail);
};

const LogFormat& IKEv1LogFormat();
const LogFormat& IKEv2LogFormat();
// The format a log's name chooses (IsIKEv1LogPath), and the other one: the one tried when the
// reader the name chose finds nothing in a file that clearly holds the other kind of log.
const LogFormat& FormatOfPath(const std::string& path);
const LogFormat& OtherFormat(const LogFormat& format);
// Standard input has no name to choose a reader by: an IKEv2 log is recognised by a line that
// opens an exchange ("<Exchange" alone on it), anything else is read as a debug log.
const LogFormat& FormatOfStream(std::string_view head);

// The IKEv1 debug logs are named with ".ilx" or ".ikev1trace" (in any case) anywhere in the
// path; everything else is taken for an IKEv2 XML log. A compression suffix is not part of the
// name that counts.
bool IsIKEv1LogPath(const std::string& path);

// The start of a file clearly holds an IKEv1 debug log: a header block ("debugIsakmpHdr:" at
// the start of a line) and a packet line ("peer:"), or a packet-debug block.
bool HoldsIKEv1Packets(std::string_view head);
// ... an IKEv2 XML log: an exchange start line ("<Exchange" alone on its line) and a peer
// element.
bool HoldsIKEv2Exchanges(std::string_view head);

// How much of a file the tests above look at.
constexpr std::size_t kSniffBytes = 64 * 1024;

}  // namespace quillon
