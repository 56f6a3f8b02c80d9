// The FTP server fixtures: each one takes an upload by curl, passive and
// active, and stores exactly the bytes sent where Root() says.
#include "FtpPeers.h"
#include "FileContents.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

std::unique_ptr<FtpPeer> StartPeer(const std::string& name) {
    if (name == "pyftpdlib") return std::make_unique<PyFtpdServer>();
    return std::make_unique<VsftpdServer>();
}

} // namespace

TEST(FtpPeers, CurlUploadsArriveByteForByte) {
    struct Case {
        const char* server;
        bool passive;
    };
    const Case cases[] = {
        {"pyftpdlib", true}, {"pyftpdlib", false}, {"vsftpd", true}, {"vsftpd", false}};
    std::string dir = "/tmp/brwk-ftp-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::string data(300000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 131 + i / 977) & 0xFF);
    const std::string local = dir + "/upload.bin";
    std::ofstream(local, std::ios::binary) << data;

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.server) + (c.passive ? " passive" : " active"));
        const bool available = std::string(c.server) == "pyftpdlib" ? PyFtpdServer::Available()
                                                                    : VsftpdServer::Available();
        if (!available) {
            ADD_FAILURE() << c.server << " is not installed or needs root";
            continue;
        }
        auto peer = StartPeer(c.server);
        ASSERT_TRUE(peer->Running()) << peer->Error();
        EXPECT_EQ(peer->Host(), "127.0.0.1");
        EXPECT_LT(peer->PassiveLow(), peer->PassiveHigh());
        const std::string command = "curl -sS --max-time 30 " +
                                    std::string(c.passive ? "" : "--ftp-port 127.0.0.1 ") + "-T " +
                                    local + " " + peer->Url() + "stored.bin";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        const std::string stored = ReadFileText(peer->Root() + "/stored.bin");
        EXPECT_EQ(stored.size(), data.size());
        EXPECT_TRUE(stored == data);
    }
    std::filesystem::remove_all(dir);
}
