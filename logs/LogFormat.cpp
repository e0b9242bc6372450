#include "logs/LogFormat.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/FollowIKEv1Log.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "ikev2/FollowIKEv2Log.h"
#include "ikev2/LogLineReader.h"
#include "ikev2/ReadIKEv2Log.h"
#include "logs/Compressed.h"

namespace quillon {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// `line` at the start of the text or of a line (leading blanks allowed).
bool HasLineStarting(std::string_view text, std::string_view line) {
  for (std::size_t at = text.find(line); at != std::string_view::npos; at = text.find(line, at + 1)) {
    std::size_t before = at;
    while (before > 0 && (text[before - 1] == ' ' || text[before - 1] == '\t')) --before;
    if (before == 0 || text[before - 1] == '\n' || text[before - 1] == '\r') return true;
  }
  return false;
}

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  return line;
}

// The lines of `tail` from the last one up, and whether the last one is whole; a first line
// cut by the tail's start is not looked at.
std::vector<std::string_view> TailLines(std::string_view tail, bool& lastLineComplete) {
  lastLineComplete = !tail.empty() && tail.back() == '\n';
  std::vector<std::string_view> lines;
  for (std::size_t end = tail.size(); end > 0;) {
    const std::size_t start = tail.rfind('\n', end - 1);
    if (start == std::string_view::npos) break;
    lines.push_back(tail.substr(start + 1, end - start - 1));
    end = start;
  }
  if (!lastLineComplete && !tail.empty()) {
    // The text after the last line end is a line of its own, cut.
    const std::size_t start = tail.rfind('\n');
    if (start != std::string_view::npos) lines.insert(lines.begin(), tail.substr(start + 1));
  }
  return lines;
}

bool EndsInsideExchange(std::string_view tail) {
  bool lastLineComplete = false;
  const std::vector<std::string_view> lines = TailLines(tail, lastLineComplete);
  // The XML log's elements each stand on a line: after a whole exchange comes its closing tag
  // or the log's own.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = Trimmed(lines[i]);
    if (line.empty()) continue;
    if (i == 0 && !lastLineComplete) return true;
    return !(line.starts_with("</Exchange>") || line.starts_with("</IKEv2Log>") || line.starts_with("<IKEv2Log") ||
             line.starts_with("<?xml"));
  }
  return false;
}

bool EndsInsideIKEv1Packet(std::string_view tail) {
  bool lastLineComplete = false;
  const std::vector<std::string_view> lines = TailLines(tail, lastLineComplete);
  // A debug log's packet is a run of blocks, each a label line ("debugSAPayload:") and its
  // field lines, which start with a tab; a packet-debug record runs from its BEGIN line to its
  // END line. The daemon's other lines between packets say nothing. A log that stops within a
  // line of a block, after a label before its fields, or inside a record ends inside a packet.
  // (One that stops between two blocks of a packet cannot be told from a complete one.)
  const auto inBlock = [](std::string_view line) {
    return line.starts_with('\t') || line.starts_with("debug") || line.starts_with("#####");
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (Trimmed(line).empty() || !inBlock(line)) continue;
    if (i == 0 && !lastLineComplete) return true;
    if (!line.starts_with('\t')) return !line.starts_with("##### END PACKET DEBUG");
    for (std::size_t up = i + 1; up < lines.size(); ++up) {
      if (lines[up].starts_with('\t')) continue;
      return lines[up].starts_with("##### BEGIN PACKET DEBUG");
    }
    return false;  // the tail holds no label: nothing to tell
  }
  return false;
}

void ReadIKEv1(LogFile& root, const std::shared_ptr<ByteSource>& source, const ReadProgress& progress) {
  DebugLogReader reader(source, 0);
  reader.SetProgress(progress);
  ReadIKEv1Log(root, reader);
}

void ReadIKEv2(LogFile& root, const std::shared_ptr<ByteSource>& source, const ReadProgress& progress) {
  LogLineReader reader(source);
  reader.SetProgress(progress);
  ReadIKEv2Log(root, reader);
  // An empty file read as an IKEv2 log is an empty IKEv2 log: saved, it gets the XML head that
  // loads again, not a debug log's.
  root.SetIKEv2(true);
}

bool DeclaresNothing(std::string_view) { return false; }

// Whether a line of `head` begins with `start` (and, with `whole`, is nothing else).
bool HasLine(std::string_view head, std::string_view start, bool whole) {
  for (std::size_t at = head.find(start); at != std::string_view::npos; at = head.find(start, at + 1)) {
    const std::size_t after = at + start.size();
    const bool lineStart = at == 0 || head[at - 1] == '\n';
    const bool lineEnd = after == head.size() || head[after] == '\r' || head[after] == '\n';
    if (lineStart && (lineEnd || !whole)) return true;
  }
  return false;
}

// Standard input has no name to choose a reader by: an IKEv2 log is recognised by a line that
// opens an exchange, anything else is read as a debug log.
bool LooksLikeIKEv2(std::string_view head) { return HasLine(head, "<Exchange", true); }

// The daemon's XML log opens with its root element, "<IKEv2Log ...>", before any exchange: a
// log with that element and no exchange (a daemon that has negotiated nothing yet, or a log
// saved with every peer deleted) is an empty IKEv2 log, not some other kind of file.
bool DeclaresIKEv2Log(std::string_view head) { return HasLine(head, "<IKEv2Log", false); }

std::unique_ptr<FormatFollower> FollowIKEv1(LogFile& root) { return std::make_unique<IKEv1Follower>(root); }
std::unique_ptr<FormatFollower> FollowIKEv2(LogFile& root) { return std::make_unique<IKEv2Follower>(root); }

const LogFormat kIKEv1{"IKEv1", &HoldsIKEv1Packets, &DeclaresNothing, &ReadIKEv1, &FollowIKEv1, &EndsInsideIKEv1Packet};
const LogFormat kIKEv2{"IKEv2", &HoldsIKEv2Exchanges, &DeclaresIKEv2Log, &ReadIKEv2, &FollowIKEv2, &EndsInsideExchange};

}  // namespace

const LogFormat& IKEv1LogFormat() { return kIKEv1; }
const LogFormat& IKEv2LogFormat() { return kIKEv2; }

const LogFormat& FormatOfPath(const std::string& path) { return IsIKEv1LogPath(path) ? kIKEv1 : kIKEv2; }

const LogFormat& FormatOfStream(std::string_view head) { return LooksLikeIKEv2(head) ? kIKEv2 : kIKEv1; }

const LogFormat& OtherFormat(const LogFormat& format) { return &format == &kIKEv1 ? kIKEv2 : kIKEv1; }

bool IsIKEv1LogPath(const std::string& path) {
  const std::string name = Lower(WithoutCompressionSuffix(path));
  return name.find(".ilx") != std::string::npos || name.find(".ikev1trace") != std::string::npos;
}

bool HoldsIKEv1Packets(std::string_view head) {
  if (HasLineStarting(head, "##### BEGIN PACKET DEBUG")) return true;
  return HasLineStarting(head, "debugIsakmpHdr:") && head.find(" peer: ") != std::string_view::npos;
}

bool HoldsIKEv2Exchanges(std::string_view head) {
  for (std::size_t at = head.find("<Exchange"); at != std::string_view::npos; at = head.find("<Exchange", at + 1)) {
    const bool lineStart = at == 0 || head[at - 1] == '\n' || head[at - 1] == '\r';
    const std::size_t after = at + 9;
    const bool lineEnd = after < head.size() && (head[after] == '\n' || head[after] == '\r');
    if (lineStart && lineEnd) return head.find("<peerIP>", after) != std::string_view::npos;
  }
  return false;
}

}  // namespace quillon
