// Writing a loaded IKEv2 tree back as an IKEv2 XML log in the daemon's line layout, so that the
// saved file loads again as the same tree.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "ikev2/LineScan.h"
#include "model/ByteSink.h"
#include "model/LogFile.h"

namespace quillon {

// The line pieces of the layout: <tag>value</tag> without indent and line end; the same as a
// line of its own behind `indent` tabs; the opening line of a payload of the log's `type`.
void AppendElement(std::string& out, std::string_view tag, std::string_view value);
void ElementLine(std::string& out, int indent, std::string_view tag, std::string_view value);
void PayloadOpeningLine(std::string& out, std::string_view type);
// An opening line with its attributes, behind `indent` tabs: `opening` (such as "<prop"), then
// name="value" for each attribute that fits such a line, then ">". The attributes that do not
// fit (or hold one of `ends`, texts the reader looks for on this line) are the caller's to write
// as element lines after it.
void AttributeLine(std::string& out, std::string_view opening, const AttributeMap& attributes, int indent,
                   std::span<const std::string_view> ends = {});

// Every exchange of every peer, peer by peer, in the layout the IKEv2 reader reads. False when
// the sink failed.
bool WriteIKEv2Log(const LogFile& root, ByteSink& sink);

}  // namespace quillon
