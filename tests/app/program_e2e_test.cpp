// The real program, driven through its automation channel: the sign-in gate
// and the main window's life.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/automation_client.h"

namespace {

class Program {
public:
    // Starts the program with a private home and settings folder and the
    // automation channel on a socket inside it, plus `extra` environment.
    bool Start(const std::vector<std::string>& extra = {}) {
        char tmpl[] = "/tmp/vorta-e2e-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) return false;
        dir_ = tmpl;
        socket_ = dir_ + "/automation.sock";
        std::vector<std::string> env{"HOME=" + dir_, "XDG_CONFIG_HOME=" + dir_ + "/config",
                                     "VORTA_AUTOMATION_SOCKET=" + socket_};
        env.insert(env.end(), extra.begin(), extra.end());
        for (const char* keep : {"DISPLAY", "XAUTHORITY", "PATH", "WEBKIT_DISABLE_COMPOSITING_MODE"}) {
            if (const char* v = getenv(keep)) env.push_back(std::string(keep) + "=" + v);
        }
        const std::string exe = std::string(VORTA_BIN_DIR) + "/vorta-pc-tool";
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            std::vector<char*> envp;
            for (std::string& e : env) envp.push_back(e.data());
            envp.push_back(nullptr);
            char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
            execve(exe.c_str(), argv, envp.data());
            _exit(127);
        }
        return true;
    }

    // Waits for the program to end; its exit code, or -1000 on a signal or
    // when it is still running after `timeout_ms`.
    int WaitExit(int timeout_ms = 60000) {
        for (int waited = 0; waited < timeout_ms; waited += 20) {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1000;
    }

    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    const std::string& socket() const { return socket_; }

private:
    pid_t pid_ = -1;
    std::string dir_, socket_;
};

// Polls an attribute until it has `expected` (the click's handler runs
// after the click is answered); gives up after 10 s and returns the last value.
std::string WaitAttr(AutomationClient& app, const std::string& id, const std::string& name,
                     const std::string& expected) {
    std::string value;
    for (int i = 0; i < 500; ++i) {
        value = app.GetAttr(id, name).value_or("?");
        if (value == expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return value;
}

TEST(ShellProgramTest, LeavingTheSignInPageEndsTheProgramWithZeroAndNoMainWindow) {
    Program program;
    ASSERT_TRUE(program.Start());
    AutomationClient app;
    ASSERT_TRUE(app.Connect(program.socket(), 60000));
    AutomationWindow login;
    ASSERT_TRUE(app.WaitWindow("login.htm", 60000, &login));
    EXPECT_TRUE(login.modal);
    for (const AutomationWindow& w : app.Windows()) EXPECT_NE(w.page, "main.htm");
    ASSERT_TRUE(app.Click("exit"));
    EXPECT_EQ(program.WaitExit(), 0);
}

TEST(ShellProgramTest, MainWindowRunsUntilClosedThenTheProgramEndsWithZero) {
    Program program;
    ASSERT_TRUE(program.Start({"VORTA_SKIP_SIGNIN=1"}));
    AutomationClient app;
    ASSERT_TRUE(app.Connect(program.socket(), 60000));
    ASSERT_TRUE(app.WaitWindow("main.htm", 60000));
    ASSERT_TRUE(app.Click("page2"));
    EXPECT_EQ(WaitAttr(app, "page2", "class", "page_func btnctrl back_gold"), "page_func btnctrl back_gold");
    EXPECT_EQ(app.GetAttr("page1", "class").value_or("?"), "page_func btnctrl back_white");

    ASSERT_TRUE(app.Click("about"));
    AutomationWindow about;
    ASSERT_TRUE(app.WaitWindow("about.htm", 60000, &about));
    EXPECT_TRUE(about.modal);
    ASSERT_TRUE(app.Click("ok"));

    app.SetTargetPage("main.htm");
    ASSERT_TRUE(app.CloseWindow());
    EXPECT_EQ(program.WaitExit(), 0);
}

}  // namespace
