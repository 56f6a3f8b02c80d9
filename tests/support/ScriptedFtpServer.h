// An FTP server on 127.0.0.1 that answers each command as a test says and
// records every command line it received, so a test can check both the
// outcome and the exact bytes the client sent. It runs on its own thread
// with blocking calls, serves control connections one after the other
// (the transcript runs on across them), and has a data side
// for passive (its listener's port goes into the 227 reply) and active
// (it connects to the PORT address) transfers.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedFtpServer {
public:
    // What happens on the data connection of STOR (and RETR/LIST).
    enum class Data {
        Normal,               // read to the end (or send DownloadBytes), then the final reply
        CutAfterFirstBlock,   // read one block, close the data connection, then the final reply
        ResetAfterFirstBlock, // read one block, reset the data connection, close the control
        Stall,                // never read the data connection, never answer
        NeverConnect,         // active: never connect; the final reply follows at once
    };

    struct Rule {
        // Raw bytes sent as the reply (may hold several lines, or none);
        // "{p1}" and "{p2}" become the data listener's port bytes.
        std::string reply;
        bool closeAfter = false; // close the control connection after the reply
        bool stall = false;      // send nothing and stop answering
        bool reset = false;      // reset the control connection after the reply
    };

    // banner: raw bytes sent on connect; "" sends no banner at all.
    explicit ScriptedFtpServer(std::string banner = "220 Scripted FTP ready\r\n");
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    // Overrides the default reply of a verb (USER, PASS, STOR, ...).
    void On(const std::string& verb, Rule rule);
    void On(const std::string& verb, std::string reply) { On(verb, Rule{std::move(reply)}); }
    // Final reply of a transfer (default "226 Transfer complete\r\n").
    std::string FinalReply = "226 Transfer complete\r\n";
    Data DataMode = Data::Normal;
    // Active mode: connect before the 150 reply instead of after it.
    bool ConnectBeforeFirstReply = false;
    // Active mode: connect as soon as PORT is answered.
    bool ConnectOnPort = false;
    // Send replies one byte at a time.
    bool Trickle = false;
    // Upload: stop reading the data connection (and answering) once this
    // many bytes are in; 0 reads to the end.
    size_t StopReadingAfter = 0;
    // SO_RCVBUF of the data connection (0 keeps the default).
    int DataReceiveBuffer = 0;
    // Sent on the data connection of RETR, LIST and NLST.
    std::string DownloadBytes;

    uint16_t Port() const { return ListenPort; }
    std::string PortText() const { return std::to_string(ListenPort); }
    // Command lines received so far, without their CR LF.
    std::vector<std::string> Commands();
    // Everything received on the control connection.
    std::string ControlBytes();
    // Bytes the last upload delivered.
    std::string Stored();
    // Waits up to ms for the client to close the control connection.
    bool WaitClosed(unsigned ms);

private:
    void Run();
    void Serve();
    void Handle(const std::string& line);
    void Reply(const std::string& bytes);
    void Transfer(const std::string& verb, const Rule& rule);
    int OpenDataConnection();
    std::string Expand(std::string text) const;

    std::string Banner;
    std::map<std::string, Rule> Rules;
    int ListenFd = -1;
    int ControlFd = -1;
    int DataListenFd = -1;
    int EarlyDataFd = -1;
    uint16_t DataListenPort = 0;
    uint32_t ActiveAddr = 0;
    uint16_t ActivePort = 0;
    bool Silent = false;
    uint16_t ListenPort = 0;
    std::mutex Lock;
    std::vector<std::string> Lines;
    std::string Raw;
    std::string StoredBytes;
    std::vector<int> StallFds;
    bool Closed = false;
    std::atomic<bool> Stopping{false};
    std::thread Worker;
};
