// Which reader a log needs: by its name first, by what it holds when the name misleads.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

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
