// Pictures served by a cloud whose certificate chains to the configured CA
// file load in pages once that certificate is trusted, and only then.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "tests/support/cloudemu_process.h"
#include "tests/support/skip_or_fail.h"
#include "tests/ui_engine/gui_fixture.h"
#include "ui_engine/tls_trust.h"

namespace {

class TlsTrustTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (HasFatalFailure()) return;
        if (!cloud.Start()) VORTA_SKIP_OR_FAIL("cloud emulator not available");
        ui::WindowOptions o;
        o.title = "trust";
        o.width = 320;
        o.height = 240;
        win = std::make_unique<ui::HostWindow>(o);
        ASSERT_TRUE(win->LoadPage(Page("events.htm")));
    }

    // Loads the emulator's picture into a fresh <img> and reports its width
    // once the load has ended either way ("0" when refused).
    std::string LoadPicture(const std::string& tag) {
        std::string url = "https://" + cloud.host() + ":8443/static/avatar.png?" + tag;
        win->Evaluate("var i=document.createElement('img');i.id='" + tag + "';i.src='" + url +
                      "';document.body.appendChild(i);'';");
        std::string state;
        ui::RunLoopUntil(
            [&] {
                state =
                    win->Evaluate("var i=document.getElementById('" + tag + "');i.complete?String(i.naturalWidth):'';");
                return !state.empty();
            },
            10000);
        return state;
    }

    bool Trust(const std::string& ca_file) {
        int result = -1;
        ui::TrustServerCertificate(cloud.host(), 8443, ca_file, [&](bool ok) { result = ok ? 1 : 0; });
        ui::RunLoopUntil([&] { return result >= 0; }, 10000);
        return result == 1;
    }

    vorta_test::CloudEmuProcess cloud;
    std::unique_ptr<ui::HostWindow> win;
};

TEST_F(TlsTrustTest, PicturesLoadOnlyAfterTheCertificateVerifiesAgainstTheCaFile) {
    EXPECT_EQ(LoadPicture("before"), "0");

    // A CA file that the server's certificate does not chain to changes nothing.
    vorta_test::CloudEmuProcess other;
    ASSERT_TRUE(other.Start());
    EXPECT_FALSE(Trust(other.ca_file()));
    EXPECT_FALSE(Trust(""));
    EXPECT_FALSE(Trust("/nonexistent/ca.pem"));
    EXPECT_EQ(LoadPicture("wrong_ca"), "0");

    ASSERT_TRUE(Trust(cloud.ca_file()));
    // The acceptance reaches the engine's network process on its own
    // channel: a load in the same instant may still be refused, so try a few
    // times over a couple of seconds.
    std::string width;
    for (int attempt = 0; attempt < 20; ++attempt) {
        width = LoadPicture("after" + std::to_string(attempt));
        if (width != "0") break;
        Settle(100);
    }
    EXPECT_NE(width, "0");
    EXPECT_NE(width, "");
}

// A CA file named by the configuration that is not a regular file is refused
// at once: a FIFO would block the UI thread until something writes to it.
class TlsTrustFileTest : public GuiTest {};

TEST_F(TlsTrustFileTest, CaFilesThatAreNotRegularFilesAreRefusedAtOnce) {
    std::string fifo = ::testing::TempDir() + "ui_trust_fifo_" + std::to_string(getpid());
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), ::testing::TempDir()}) {
        int result = -1;
        ui::TrustServerCertificate("127.0.0.1", 8443, path, [&](bool ok) { result = ok ? 1 : 0; });
        EXPECT_EQ(result, 0) << path;  // answered before returning
    }
    ::unlink(fifo.c_str());
}

}  // namespace
