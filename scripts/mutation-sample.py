#!/usr/bin/env python3
"""Mutation sample: how many plausible faults does the test suite catch?

Each mutant below is one small, plausible programming fault (an off-by-one, a wrong
comparison, a dropped field, a wrong table entry) in one product source file. For each, the
script changes the file, builds, runs the suite and puts the file back; a mutant is killed when
the build of the tests still succeeds and some test fails. Not part of the suite: it takes a
build and a suite run per mutant, so run it by hand when the tests change a lot, before and
after, and compare the kill rates.

    scripts/mutation-sample.py [--build-dir build/mut] [--only SUBSTRING] [--jobs 2]

The build directory is configured if it does not exist (release, no benchmarks). A mutant whose
text is not found in its file (the code moved) is reported as "gone" and left out of the rate.
"""
import argparse
import os
import subprocess
import sys
import time

# (file, text as it stands, the fault, what the fault is). Spread over the layers.
MUTANTS = [
    # model: time, addresses, narrowing, timeline, log lines
    ("model/LogNode.cpp", "return theirs.Seconds() - mine.Seconds() < 120;",
     "return theirs.Seconds() - mine.Seconds() <= 120;", "close-in-time window includes 120 s"),
    ("model/CalendarTime.cpp", "std::int64_t{hour} * 3600", "std::int64_t{hour} * 360",
     "hours scaled wrongly"),
    ("model/IPv4.cpp", "result = result * 256 + part;", "result = result * 256 | part;",
     "address parts or-ed (no overflow check)"),
    ("model/IPv4.cpp", "if (byte >= 10) text.push_back", "if (byte > 10) text.push_back",
     "byte 10 printed as one digit"),
    ("model/Narrowing.cpp", "return label == ip || Contains(label, ip + \" \")",
     "return label == ip", "peer caption match loses the address followed by text"),
    ("model/TimelineSvg.cpp", "} else if (byte < 0x20 && c != '\\t' && c != '\\n') {",
     "} else if (byte < 0x1f && c != '\\t' && c != '\\n') {", "control character 0x1f not escaped in SVG"),
    ("model/TimelineSvg.cpp", "if (bucket.failed > 0) {", "if (bucket.failed > 1) {",
     "a single failure not drawn in the histogram"),
    ("model/LogLines.cpp", "range.first = newlinesBefore(offsets[2 * i]) + 1;",
     "range.first = newlinesBefore(offsets[2 * i]);", "first line number off by one"),
    ("model/Summaries.cpp", "return \"Number of failed negotiations\\t\\t\\t\\t\"",
     "return \"Number of failed negotiations\\t\\t\\t\"", "summary label tab run"),
    ("model/Regroup.cpp", "return FormatIPv4(address) + \"  (\" + FormatIPv4(index) + \")\";",
     "return FormatIPv4(index) + \"  (\" + FormatIPv4(address) + \")\";", "merged peer name swapped"),
    # ikev1/log: reader, header, writer
    ("ikev1/log/DebugLogReader.cpp", "for (int c = 'a'; c <= 'f'; ++c)", "for (int c = 'a'; c < 'f'; ++c)",
     "hex digit f not read"),
    ("ikev1/log/DebugLogReader.cpp", "if (t == label || eof_ || count >= 100 || restartSeen_) return;",
     "if (t == label || eof_ || count >= 10 || restartSeen_) return;", "label search gives up too early"),
    ("ikev1/log/Header.cpp", "if (packetKind_ == kConfigReceived) created_ = false;",
     "if (packetKind_ == kConfigReceived) created_ = true;", "received config packet marked created"),
    ("ikev1/log/Header.cpp", "if (tunnel != \"~~\" && !ParseTunnelToken(tunnel, tunnelLocalIP_, tunnelPeerIP_)) tunnelLocalIP_ = tunnelPeerIP_ = 0;",
     "if (tunnel != \"~~\" && !ParseTunnelToken(tunnel, tunnelPeerIP_, tunnelLocalIP_)) tunnelLocalIP_ = tunnelPeerIP_ = 0;",
     "tunnel addresses swapped"),
    ("ikev1/log/RestartStretches.cpp", "if (!IsMarker(*child)) candidates.push_back(child.get());",
     "if (!IsMarker(*child) && !IsMergedPeer(*peer)) candidates.push_back(child.get());",
     "a regrouped peer's negotiations not asked whether they carry a restart"),
    # ikev1/payloads
    ("ikev1/payloads/ByteList.cpp", "if (base == 16 && value <= 0xFFu) {", "if (base == 16 && value <= 0xFFFu) {",
     "three-digit numbers written as a byte"),
    ("ikev1/payloads/ByteList.cpp", "for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];",
     "for (std::size_t i = 0; i < n; ++i) out[i] = digits[i];", "digits written in reverse"),
    ("ikev1/payloads/ByteList.cpp", "if (base == 10 && value < 10) {", "if (base == 10 && value <= 10) {",
     "10 written as one character"),
    ("ikev1/payloads/SAPayload.cpp", "out += \"\\r\\nSituation:\\t\";", "out += \"\\r\\nSituation:\\t\\t\";",
     "SA detail label"),
    ("ikev1/payloads/SAPayload.cpp", "out += \"\\n\\tSituation: \";", "out += \"\\n\\tSituation:\";",
     "SA debug block written without the blank"),
    ("ikev1/payloads/NotifyPayload.cpp", "return type == 14 || type == 9101 || type == 9110 || type == 32772;",
     "return type == 14 || type == 9101 || type == 9110;", "notify data of 32772 not shown as text"),
    ("ikev1/payloads/NotifyPayload.cpp", "if (spiSize_ != 0) spi_ = ReadSubBlockBytes(reader, \"SPI:\");",
     "if (spiSize_ > 1) spi_ = ReadSubBlockBytes(reader, \"SPI:\");", "one-byte SPI not read"),
    ("ikev1/payloads/Dictionaries.cpp", "if (value < N && rows[value].value == value) return &rows[value];",
     "if (value < N) return &rows[value];", "a table row taken by its index without checking its value"),
    ("ikev1/payloads/Dictionaries.cpp", "{130, \"NAT-D\"},", "{129, \"NAT-D\"},", "NAT-D payload type unnamed"),
    ("ikev1/payloads/Dictionaries.cpp", "case 2: return NameOf(kAhTransforms, transformId, \"UNKNOWN AH\");",
     "case 2: return NameOf(kIpcompTransforms, transformId, \"UNKNOWN AH\");", "AH transforms from the wrong table"),
    ("ikev1/payloads/IDPayload.cpp", "((~mask + 1u) & ~mask) == 0", "((~mask + 1u) & mask) == 0",
     "subnet mask contiguity test"),
    ("ikev1/payloads/IDPayload.cpp", "case 17: return \"UDP\";", "case 17: return \"TCP\";", "protocol 17 named TCP"),
    ("ikev1/payloads/IDPayload.cpp", "bool IsPrintable(std::uint32_t e) { return e >= 0x20 && e < 0x7F; }",
     "bool IsPrintable(std::uint32_t e) { return e >= 0x20 && e <= 0x7F; }", "DEL counted printable"),
    ("ikev1/payloads/VendorIDPayload.cpp", "if (c >= 'A' && c <= 'F') return c - 'A' + 10;",
     "if (c >= 'A' && c <= 'F') return c - 'A';", "upper-case hex in vendor IDs"),
    ("ikev1/payloads/IsakmpValue.cpp", "bool IsPhaseOneNamed(std::uint32_t type) { return (type >= 1 && type <= 5) || type == 11; }",
     "bool IsPhaseOneNamed(std::uint32_t type) { return (type >= 1 && type <= 4) || type == 11; }",
     "group description attribute not named"),
    ("ikev1/payloads/IsakmpValue.cpp", "if (wrap && i > 0 && i % 40 == 0) out += \"\\r\\n  \";",
     "if (wrap && i > 0 && i % 41 == 0) out += \"\\r\\n  \";", "wrap column"),
    # ikev1/negotiation
    ("ikev1/negotiation/Tunnel.cpp", "return FormatIPv4(local) + \" <=> \" + FormatIPv4(peer);",
     "return FormatIPv4(peer) + \" <=> \" + FormatIPv4(local);", "tunnel caption swapped"),
    ("ikev1/negotiation/Peer.cpp", "return (otherLocal == 0 && otherPeer == 0) || local < otherLocal || (local == otherLocal && peer < otherPeer);",
     "return (otherLocal == 0 && otherPeer == 0) || local < otherLocal || (local == otherLocal && peer > otherPeer);",
     "tunnel order"),
    ("ikev1/negotiation/Exchange.cpp", "out += \" Failed!\";", "out += \" Failed\";", "failed caption mark"),
    ("ikev1/negotiation/Exchange.cpp", "case kFamilyAggressive: return std::make_unique<Aggresive>(parent);",
     "case kFamilyAggressive: return std::make_unique<MainMode>(parent);", "aggressive mode built as main mode"),
    # ikev2
    ("ikev2/LineScan.cpp", "while (n > 0 && IsBlank(text[n - 1])) --n;", "while (n > 1 && IsBlank(text[n - 1])) --n;",
     "trailing blank trim stops early"),
    ("ikev2/V2Payloads.cpp", "return value >= 1 && value <= kLastErrorNotifyType;",
     "return value > 1 && value <= kLastErrorNotifyType;", "notify error type 1 not an error"),
    ("ikev2/V2Payloads.cpp", "if (type.size() > 5) return false;", "if (type.size() > 4) return false;",
     "five-digit notify types"),
    # logs
    ("logs/Compressed.cpp", "case Compression::kXz: ok = Unxz(reader, output); break;",
     "case Compression::kXz: ok = Unzstd(reader, output); break;", "xz read as zstd"),
    ("logs/Compressed.cpp", "if (EndsWithNoCase(path, suffix)) return path.substr(0, path.size() - suffix.size());",
     "if (EndsWithNoCase(path, suffix)) return path;", "compression suffix kept for the format choice"),
    # platform
    ("platform/SafeFile.cpp", "return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;",
     "return sa.st_ino == sb.st_ino;", "same file by inode only"),
    ("platform/SafeFile.cpp", "if (fd >= 0 || errno != EEXIST) return fd;", "if (fd >= 0) return fd;",
     "temporary name retry on any error"),
    # cli
    ("cli/TreePrinter.cpp", "if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {", "if (c < 0x20 || (c >= 0x80 && c <= 0x9F)) {",
     "DEL printed raw"),
    ("cli/TreePrinter.cpp", "sink.Buffer() += i + 1 < children.size() ? \",\\n\" : \"\\n\";",
     "sink.Buffer() += i < children.size() ? \",\\n\" : \"\\n\";", "JSON trailing comma"),
    ("cli/TreePrinter.cpp", "if (!WriteTextNode(*child, depth + 1, options, sink)) return false;",
     "if (!WriteTextNode(*child, depth, options, sink)) return false;", "children not indented"),
]


def run(cmd, timeout, cwd):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build/mut")
    parser.add_argument("--only", default="")
    parser.add_argument("--jobs", default=str(os.cpu_count() or 2))
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.join(root, args.build_dir)
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run(["cmake", "-S", root, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                        "-DQUILLON_BUILD_BENCH=OFF"], check=True, stdout=subprocess.DEVNULL)
    if run(["cmake", "--build", build, "-j", args.jobs], 3600, root) != 0:
        sys.exit("the unchanged tree does not build")

    killed = survived = gone = invalid = 0
    for path, before, after, what in MUTANTS:
        if args.only and args.only not in path:
            continue
        full = os.path.join(root, path)
        with open(full, encoding="utf-8") as f:
            original = f.read()
        if original.count(before) != 1:
            gone += 1
            print(f"gone      {path}: {what}", flush=True)
            continue
        started = time.time()
        try:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original.replace(before, after, 1))
            if run(["cmake", "--build", build, "-j", args.jobs], 1800, root) != 0:
                invalid += 1
                outcome = "invalid"
            elif run(["ctest", "--test-dir", build, "-j", args.jobs, "--timeout", "300", "--stop-on-failure",
                      "-E", "layers|install"], 3600, root) != 0:
                killed += 1
                outcome = "killed"
            else:
                survived += 1
                outcome = "SURVIVED"
        finally:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original)
        print(f"{outcome:9} {path}: {what} ({time.time() - started:.0f} s)", flush=True)
    run(["cmake", "--build", build, "-j", args.jobs], 3600, root)
    counted = killed + survived
    rate = 100.0 * killed / counted if counted else 0.0
    print(f"\n{killed} killed, {survived} survived, {gone} gone, {invalid} invalid: kill rate {rate:.1f}%")


if __name__ == "__main__":
    main()
