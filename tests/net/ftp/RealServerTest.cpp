// The publish chain against real servers, passive and active: the stored
// file is byte-identical to the local one.
#include "FileContents.h"
#include "FtpPeers.h"
#include "FtpTestUtil.h"

#include <cstring>
#include <memory>
#include <random>
#include <sstream>

namespace {

// Noise, so that no block of a large file repeats another.
std::string RandomBytes(size_t n) {
    std::mt19937_64 random(n);
    std::string s(n, '\0');
    for (size_t i = 0; i + 8 <= n; i += 8) {
        const uint64_t v = random();
        std::memcpy(&s[i], &v, 8);
    }
    return s;
}

TEST(FtpRealServers, UploadsArriveByteForByte) {
    TempDirScope dir;
    const size_t sizes[] = {0, 1460, 1 << 20, 50'000'000};
    for (const char* name : {"pyftpdlib", "vsftpd"}) {
        const bool py = std::string(name) == "pyftpdlib";
        if (!(py ? PyFtpdServer::Available() : VsftpdServer::Available())) {
            ADD_FAILURE() << name << " is not installed or needs root";
            continue;
        }
        std::unique_ptr<FtpPeer> peer;
        if (py)
            peer = std::make_unique<PyFtpdServer>();
        else
            peer = std::make_unique<VsftpdServer>();
        ASSERT_TRUE(peer->Running()) << peer->Error();
        for (bool passive : {true, false}) {
            for (size_t size : sizes) {
                SCOPED_TRACE(std::string(name) + (passive ? " passive " : " active ") +
                             std::to_string(size));
                FtpClientRecorder r;
                r.Client.SetTimeoutMs(15000);
                r.Client.SetPort(std::to_string(peer->Port()));
                r.Client.SetUserName(peer->User());
                r.Client.SetPassWord(peer->Password());
                r.Client.SetPassive(passive);
                const std::string content =
                    size > (1 << 20) ? RandomBytes(size) : Bytes(size, unsigned(size % 251));
                const std::string file = "up" + std::to_string(size) + ".bin";
                r.Client.SetLocalFileName(WriteFile(dir, file, content));
                const std::string sub = passive ? "pasv" : "actv";
                ASSERT_TRUE(r.Client.Connect()) << r.Client.LastResponse();
                r.Client.SetHostFileName(sub);
                // The directory exists after the first size: refused, and the chain goes on.
                const bool made = r.Client.Mkd();
                EXPECT_EQ(made, size == 0) << r.Client.LastResponse();
                r.Client.SetHostDirName(sub);
                ASSERT_TRUE(r.Client.Cwd()) << r.Client.LastResponse();
                ASSERT_TRUE(r.Client.TypeSet()) << r.Client.LastResponse();
                r.Client.SetHostFileName(file);
                ASSERT_TRUE(r.Client.Put()) << r.Client.LastResponse() << "\n"
                                            << ::testing::PrintToString(r.Trace);
                EXPECT_TRUE(r.Client.Quit()) << r.Client.LastResponse();
                EXPECT_FALSE(r.Client.Connected());
                const std::string stored = ReadFileText(peer->Root() + "/" + sub + "/" + file);
                EXPECT_EQ(stored.size(), content.size());
                EXPECT_TRUE(stored == content);
                EXPECT_TRUE(r.Errors.empty());
            }
        }
    }
}

TEST(FtpRealServers, RefusedPasswordIsReportedWithTheServersLine) {
    if (!PyFtpdServer::Available()) GTEST_SKIP() << "pyftpdlib is not installed";
    PyFtpdServer peer;
    ASSERT_TRUE(peer.Running()) << peer.Error();
    FtpClientRecorder r;
    r.Client.SetTimeoutMs(15000);
    r.Client.SetPort(std::to_string(peer.Port()));
    r.Client.SetUserName(peer.User());
    r.Client.SetPassWord("wrong");
    EXPECT_FALSE(r.Client.Connect());
    EXPECT_EQ(r.Client.LastResponse().rfind("530 ", 0), 0u) << r.Client.LastResponse();
    EXPECT_EQ(r.Client.ErrorMessage(), r.Client.LastResponse());
}

} // namespace
