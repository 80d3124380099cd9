// The installed program (scripts/package-test.sh installs the .deb and names
// it in VORTA_INSTALLED_PROGRAM): started from /usr/bin, it finds its own
// pages, signs in to the cloud emulator and syncs the device simulator's
// dives through the automation channel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"

using vorta_test::CloudEmuProcess;

TEST(InstalledProgram, StartsSignsInAndSyncs) {
    const char* program = std::getenv("VORTA_INSTALLED_PROGRAM");
    if (!program || !*program) VORTA_SKIP_OR_FAIL("VORTA_INSTALLED_PROGRAM names no installed program");
    const std::string why = E2eMissing();
    if (!why.empty()) VORTA_SKIP_OR_FAIL(why);

    CloudEmuProcess emu;
    ASSERT_TRUE(emu.Start());
    DevSimProcess sim;
    ASSERT_TRUE(sim.Start({"--firmware", "1.025", "--model", "K7", "--dives", "3"})) << sim.error();

    E2eApp app;
    app.program = program;
    app.UseTestbed(emu, sim.pty_path());
    ASSERT_TRUE(app.Start());

    // The running binary is the installed one, whatever link started it.
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink(("/proc/" + std::to_string(app.pid()) + "/exe").c_str(), exe, sizeof exe - 1), 0);
    EXPECT_EQ(std::string(exe), "/usr/lib/vorta-pc-tool/vorta-pc-tool");

    ASSERT_TRUE(app.SignInDemo());
    emu.Reset();

    ASSERT_TRUE(app.ClickOn("main.htm", "upload"));
    ASSERT_TRUE(app.ui().WaitWindow("progress.htm", 20000));
    std::string message;
    const bool done = E2eApp::WaitFor(
        [&] {
            if (app.Visible("msg.htm")) message = app.TakeMessage(1000);
            return !app.Visible("progress.htm");
        },
        90000);
    ASSERT_TRUE(done) << "the sync did not end";
    EXPECT_EQ(message, "");

    size_t posts = 0;
    for (const auto& r : emu.Log())
        if (r.path.rfind("/api/v2/devices/addDivelogs", 0) == 0) ++posts;
    EXPECT_GT(posts, 0u) << "no dive reached the cloud";
}
