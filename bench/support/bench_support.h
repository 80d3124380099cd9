// What the benchmarks' mains share: the figures' arithmetic and the start of
// the testbed they measure against (cloud emulator, the program signed in,
// the device simulator and a bare descriptor on its port). Failures are
// said on stderr, so that a main only returns.
#pragma once

#include <chrono>
#include <string>
#include <vector>

class AppProcess;
class AutomationClient;
class DevSimProcess;
namespace vorta_test {
class CloudEmuProcess;
}

namespace vorta_bench {

using Clock = std::chrono::steady_clock;

// Milliseconds of `d`, or from `from` to `to`.
double Ms(Clock::duration d);
double Ms(Clock::time_point from, Clock::time_point to);

// The middle sample; of an even count the upper of the two middle ones. 0
// without samples.
double Median(std::vector<double> v);
// The median proper: of an even count the mean of the two middle samples.
// 0 without samples.
double MedianMean(std::vector<double> v);

// Starts the cloud emulator.
bool StartCloud(vorta_test::CloudEmuProcess& emu);

// Starts `program` (pointed at the testbed by the caller), connects `ui` to
// it, signs in the emulator's demo account and waits for the calendar of the
// main window; `ui` is left aimed at main.htm.
bool StartSignedIn(AppProcess& program, AutomationClient& ui);

// Starts the device simulator with no dives and no trace, for transfers
// timed against it.
bool StartQuietSimulator(DevSimProcess& sim);

// A tty opened for reading and writing, not as the controlling terminal: the
// descriptor, or -1. MakeRaw then sets it raw (no echo, no line editing).
int OpenTty(const std::string& path);
void MakeRaw(int fd);

}  // namespace vorta_bench
