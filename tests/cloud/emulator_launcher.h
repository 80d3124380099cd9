// Starts the cloud emulator program on its own data folder and loopback
// address, waits for its "READY" line, and stops it again.
#pragma once

#include <sys/types.h>

#include <string>

class EmulatorLauncher {
public:
    ~EmulatorLauncher();
    // The program built beside the tests, or "" when it is not built.
    static std::string Program();
    bool Start(const std::string& program, const std::string& host, int port = 8443);
    void Stop();
    const std::string& data_dir() const { return data_; }
    std::string ca() const { return data_ + "/ca.pem"; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string data_;
};
