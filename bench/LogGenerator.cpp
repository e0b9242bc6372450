#include "LogGenerator.h"

#include <cstdio>
#include <random>
#include <string>

namespace quillon::bench {

namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

void Hex(std::string& out, std::mt19937& rng, int count, int perLine) {
  static const char* digits = "0123456789abcdef";
  for (int i = 0; i < count; ++i) {
    if (i > 0 && i % perLine == 0) out += "\n\t";
    const unsigned v = rng() & 0xFF;
    out.push_back(digits[v >> 4]);
    out.push_back(digits[v & 15]);
    out.push_back(' ');
  }
  out += '\n';
}

void PacketLine(std::string& out, const char* keyword, unsigned peer, unsigned second) {
  char line[256];
  std::snprintf(line, sizeof line, "%s peer: %x TunnelLocalIP:c0a80001,TunnelPeerIP:%x %s Nov %02u %02u:%02u:%02u 2006\n",
                keyword, peer, peer, kDays[second / 86400 % 7], 1 + second / 86400 % 28, second / 3600 % 24,
                second / 60 % 60, second % 60);
  out += std::string(70, '+') + "\n" + line + std::string(70, '+') + "\n";
}

void HeaderBlock(std::string& out, std::mt19937& rng, bool created, const std::string& cookie, unsigned msgId) {
  out += created ? "debugIsakmpHdr: (Creation)\n" : "debugIsakmpHdr: (Process)\n";
  out += "\tInitCookie: " + cookie + "\n\tRspCookie: ";
  Hex(out, rng, 8, 16);
  char rest[256];
  std::snprintf(rest, sizeof rest,
                "\tNextPld: 01\n\tMjVer: 01\n\tMnVer: 00\n\tExcType: 02\n\tResFlag: 00\n\tCommitFlag: 00\n"
                "\tEncFlag: 00\n\tMsgID: %02x %02x %02x %02x \n\tLength: 00 00 01 2c (300)\n",
                msgId >> 24, (msgId >> 16) & 255, (msgId >> 8) & 255, msgId & 255);
  out += rest;
}

void Payloads(std::string& out, std::mt19937& rng) {
  out += "debugKeyPayload:\n\tNextPld: 0a\n\tReserved: 00\n\tLength: 00 84 (132)\n\tKeyData:\n\t";
  Hex(out, rng, 128, 16);
  out += "debugNoncePayload:\n\tNextPld: 0d\n\tReserved: 00\n\tLength: 00 18 (24)\n\tNonceData: ";
  Hex(out, rng, 20, 32);
  out += "gxIsakmp: computing shared secret for the exchange\n";
  out += "debugVendorIDPayload:\n\tNextPld: 00\n\tReserved: 00\n\tLength: 00 14 (20)\n\tVendorID: ";
  Hex(out, rng, 16, 32);
}

}  // namespace

std::uint64_t WriteDebugLog(const std::string& path, std::uint64_t bytes, unsigned peers) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::mt19937 rng(42);
  std::uint64_t written = 0;
  std::string out = "IKE logging started\r\n\r\n";
  unsigned second = 0;
  for (unsigned n = 0; written + out.size() < bytes; ++n) {
    const unsigned peer = 0x0a000000u + 1 + n % peers;
    std::string cookie;
    Hex(cookie, rng, 8, 16);
    cookie.pop_back();
    for (int packet = 1; packet <= 6; ++packet) {
      const bool created = (packet % 2) == 1;
      char keyword[64];
      std::snprintf(keyword, sizeof keyword, "%s_packet%dphase1:", created ? "create" : "process", packet);
      if (created) {
        PacketLine(out, keyword, peer, second);
        HeaderBlock(out, rng, true, cookie, 0);
      } else {
        out += "\r\n##### BEGIN PACKET DEBUG #####\n\tReceived:\n\tPeer: ";
        char p[16];
        std::snprintf(p, sizeof p, "%x", peer);
        out += p;
        out += "\n\tInitCookie: " + cookie + "\n\tMsgID: 00 00 00 00\n\tPacket size: 300 bytes\n##### END PACKET DEBUG #####\r\n\r\n";
        HeaderBlock(out, rng, false, cookie, 0);
        PacketLine(out, keyword, peer, second);
      }
      Payloads(out, rng);
      if (created) out += "debugIsakmpHdrLen:\n\tLength: 00 00 01 2c (300)\n\n";
      out += "gxIsakmp: packet handled, state machine advanced\n";
    }
    second += 7;
    if (out.size() > (1u << 20)) {
      written += std::fwrite(out.data(), 1, out.size(), f);
      out.clear();
    }
  }
  written += std::fwrite(out.data(), 1, out.size(), f);
  std::fclose(f);
  return written;
}

std::uint64_t WriteHexDump(const std::string& path, std::uint64_t bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::mt19937 rng(7);
  std::uint64_t written = 0;
  std::string out;
  while (written < bytes) {
    out.clear();
    // Dumps of 256 bytes behind a label, as a key or certificate block carries them.
    for (int block = 0; block < 256; ++block) {
      out += "\tKeyData:\n";
      for (int line = 0; line < 16; ++line) {
        out.push_back('\t');
        Hex(out, rng, 16, 16);
      }
    }
    written += std::fwrite(out.data(), 1, out.size(), f);
  }
  std::fclose(f);
  return written;
}

}  // namespace quillon::bench
