// vorta-cloudemu: the cloud emulator of the testbed.
//
//   vorta-cloudemu --data DIR [--host 127.0.0.1] [--port 8443] [--seed N]
//                  [--sync-plan logs|bulk] [--firmware-version 1026]
//                  [--oauth-auto allow|deny|wrong_state|hostile] [--profile-image TEXT]
//
// Prints "READY <host>:<port>" once listening; SIGTERM or SIGINT stop it.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "server.h"

namespace {

int Usage(const char* why) {
    std::fprintf(stderr,
                 "vorta-cloudemu: %s\n"
                 "usage: vorta-cloudemu --data DIR [--host 127.0.0.1] [--port 8443] [--seed N]\n"
                 "                      [--sync-plan logs|bulk] [--firmware-version DIGITS]\n"
                 "                      [--oauth-auto allow|deny|wrong_state|hostile] [--profile-image TEXT]\n",
                 why);
    return 2;
}

bool ParseInt(const char* s, long lo, long hi, long& out) {
    char* end = nullptr;
    out = std::strtol(s, &end, 10);
    return end && *end == '\0' && end != s && out >= lo && out <= hi;
}

}  // namespace

int main(int argc, char** argv) {
    cloudemu::Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return Usage(("missing value after " + a).c_str());
        const char* v = argv[++i];
        long n = 0;
        if (a == "--data") {
            opt.data_dir = v;
        } else if (a == "--host") {
            opt.host = v;
        } else if (a == "--port") {
            if (!ParseInt(v, 1, 65535, n)) return Usage("bad --port");
            opt.port = static_cast<int>(n);
        } else if (a == "--seed") {
            if (!ParseInt(v, 0, 0xFFFFFFFFL, n)) return Usage("bad --seed");
            opt.seed = static_cast<uint32_t>(n);
        } else if (a == "--sync-plan") {
            if (std::strcmp(v, "logs") == 0) opt.sync_plan = cloudemu::SyncPlan::kLogs;
            else if (std::strcmp(v, "bulk") == 0) opt.sync_plan = cloudemu::SyncPlan::kBulk;
            else return Usage("--sync-plan is logs or bulk");
        } else if (a == "--firmware-version") {
            opt.firmware_version = v;
            if (opt.firmware_version.size() < 2 || opt.firmware_version.size() > 6 ||
                opt.firmware_version.find_first_not_of("0123456789") != std::string::npos)
                return Usage("--firmware-version is 2 to 6 digits");
        } else if (a == "--oauth-auto") {
            opt.oauth_auto = v;
            if (opt.oauth_auto != "allow" && opt.oauth_auto != "deny" && opt.oauth_auto != "wrong_state" &&
                opt.oauth_auto != "hostile")
                return Usage("--oauth-auto is allow, deny, wrong_state or hostile");
        } else if (a == "--profile-image") {
            opt.profile_image = v;
        } else {
            return Usage(("unknown option " + a).c_str());
        }
    }
    if (opt.data_dir.empty()) return Usage("--data is required");

    // Signals are taken by one thread with sigwait; every other thread
    // (the server's pool included) inherits the blocked mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    cloudemu::Emulator emu(opt);
    std::string error;
    if (!emu.Prepare(error)) {
        std::fprintf(stderr, "vorta-cloudemu: %s\n", error.c_str());
        return 3;
    }
    std::mutex mu;
    std::condition_variable cv;
    bool finished = false;
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stop_signals, &sig);
        emu.Stop();
        // The server ends when its workers do; a client holding an idle
        // keep-alive connection would delay that, so give it a moment only.
        // Every store write is a committed transaction, so leaving is safe.
        std::unique_lock<std::mutex> lock(mu);
        if (!cv.wait_for(lock, std::chrono::seconds(2), [&] { return finished; })) {
            std::fflush(nullptr);
            _exit(0);
        }
    });
    std::cout << "READY " << opt.host << ":" << opt.port << std::endl;
    const bool ok = emu.Run();
    {
        std::lock_guard<std::mutex> lock(mu);
        finished = true;
    }
    cv.notify_all();
    // Run also returns when listening fails; wake the waiter so it can end.
    kill(getpid(), SIGTERM);
    waiter.join();
    return ok ? 0 : 1;
}
