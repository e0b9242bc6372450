// Writing a loaded IKEv1 tree back as a debug log in the daemon's format, so that the saved file
// loads again as the same tree: every packet with its header block, payload blocks, length
// blocks and packet-debug record, the transform-match lines, and the daemon restarts.
#pragma once

#include <string>
#include <string_view>

#include "model/ByteSink.h"
#include "model/LogNode.h"

namespace quillon {

class LogFile;

// The first line of a saved log.
inline constexpr std::string_view kSavedLogHead = "IKE logging started (file saved by Quillon)\r\n\r\n";

// The walk: the node's own block, its children's blocks in order, then its trailing block.
void WriteTree(const LogNode& node, std::string& out);

// The whole log: the head, then every negotiation of every peer. The walk goes peer by peer,
// but a daemon restart is one line of the log that ends every open negotiation of every peer at
// once; so the negotiations are written in the stretches between the restarts they lie between
// (told by the restart markers), each stretch in tree order, with one restart line between two
// stretches. False when the sink failed.
bool WriteIKEv1Log(const LogFile& root, ByteSink& sink);

// What a saved debug log could not carry of the tree it was written from; read back, the tree
// differs there. All come only from logs whose restart words stand inside packets' text (a
// daemon writes its restart line between packets).
struct IKEv1SaveLosses {
  // A restart whose peers were told texts that no restart line tells them: the first peer the
  // word after "daemon", the others what the reader kept of a version banner run into the
  // next packet's "+" line (a written restart line tells every peer after the first the
  // same); or a restart that a packet's "started" carries, which tells every peer the text of
  // the restart before it, where the tree has another text.
  bool restartTexts = false;
  // Negotiations the placing between restarts could not put where the tree needs them
  // (RestartStretches::Unsettled): a restart left without a packet before it to be read in, two
  // negotiations that each restart the daemon in one stretch, a peer whose first negotiation
  // lies after restarts it has markers of, two of one cookie and message ID in one tunnel
  // with no restart between them, or two regrouped peers of one address that the regrouping
  // would make in the other order. The orders the tree allows (a tunnel's negotiations in time
  // order, a regrouped peer's in the order the regrouping moves them) left none.
  bool restartStretches = false;
  // Damaged lines that no text reads back as (CarriedLines):
  // - A packet's start line ends with the date and time, read as the tokens that follow, across
  //   line ends; a packet-debug line's label runs over up to eight tokens until one holds a
  //   colon, and its value is read from the next character that is no blank. Where the end of
  //   the input cut either short, the saved log must end there too: the writer puts the packet's
  //   negotiation last. Not possible when the packet is not the last of its negotiation, or the
  //   negotiation not the last of its tunnel, or the regrouping moved it to a merged peer; nor
  //   for a cut record in a log with restarts (its packet may lie before restarts the record
  //   follows).
  // - A vendor's fields block is read as "VIDData:", "Product:", "Version:" (each searched for
  //   over a bounded run of words), then free lines: free lines with one of the three missing
  //   mean the search ran past its bound, and the words it passed over are in no node.
  // - A restart word met inside a packet-debug label ends the record there, the label keeping
  //   the word; written back, the line restarts the daemon at another place.
  bool damagedLines = false;
  bool Any() const { return restartTexts || restartStretches || damagedLines; }
};
// As WriteIKEv1Log, also telling what the saved log cannot carry.
bool WriteIKEv1Log(const LogFile& root, ByteSink& sink, IKEv1SaveLosses& losses);

}  // namespace quillon
