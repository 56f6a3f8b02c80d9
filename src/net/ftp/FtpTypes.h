// Types of the FTP client: states, request kinds, sequence steps, options,
// share modes, event signatures, its exception and its window messages.
#pragma once

#include "Messages.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

class TCustomFtpCli;

enum TFtpClientState : uint8_t {
    ftpStNotConnected = 0,
    ftpStReady = 1,
    ftpStStepDone = 2,
    ftpStDnsLookup = 3,
    ftpStConnected = 4,
    ftpStAbort = 5,
    ftpStWaitingBanner = 7,
    ftpStWaitingReply = 8,
    ftpStPasvReply = 9
};
const char* FtpStateName(TFtpClientState state);

enum TFtpRequest : uint8_t {
    ftpNone,
    ftpOpenAsync,
    ftpUserAsync,
    ftpPassAsync,
    ftpCwdAsync,
    ftpConnectAsync,
    ftpReceiveAsync,
    ftpDirAsync,
    ftpLsAsync,
    ftpPortAsync,
    ftpGetAsync,
    ftpDirectoryAsync,
    ftpListAsync,
    ftpSystemAsync,
    ftpSystAsync,
    ftpQuitAsync,
    ftpAbortXferAsync,
    ftpSizeAsync,
    ftpPutAsync,
    ftpAppendAsync,
    ftpFileSizeAsync,
    ftpRqAbort,
    ftpMkdAsync,
    ftpRmdAsync,
    ftpRenameAsync,
    ftpDeleAsync,
    ftpRenAsync,
    ftpRenToAsync,
    ftpRenFromAsync,
    ftpDeleteAsync,
    ftpMkdirAsync,
    ftpRmdirAsync,
    ftpPwdAsync,
    ftpQuoteAsync,
    ftpCDupAsync,
    ftpDoQuoteAsync,
    ftpTransmitAsync,
    ftpTypeSetAsync,
    ftpRestAsync,
    ftpRestGetAsync,
    ftpRestartGetAsync,
    ftpRestPutAsync,
    ftpRestartPutAsync
};
static_assert(ftpRestartPutAsync == 42);

enum TFtpStep : uint8_t {
    ftpStepNone,
    ftpStepOpen,
    ftpStepUser,
    ftpStepPass,
    ftpStepCwd,
    ftpStepSize,
    ftpStepMkd,
    ftpStepRmd,
    ftpStepRenFrom,
    ftpStepRenTo,
    ftpStepGet,
    ftpStepDir,
    ftpStepQuit,
    ftpStepSyst,
    ftpStepDele,
    ftpStepPwd,
    ftpStepQuote,
    ftpStepPut,
    ftpStepTypeSet,
    ftpStepRest,
    ftpStepCDup,
    ftpStepLs,
    ftpStepAppend,
    ftpStepPort,
    ftpStepAbortXfer
};

// A set of steps: bit n stands for step n.
class TFtpStepSet {
public:
    TFtpStepSet() = default;
    TFtpStepSet(std::initializer_list<TFtpStep> steps) {
        for (TFtpStep s : steps) Bits |= Bit(s);
    }
    bool Contains(TFtpStep s) const { return (Bits & Bit(s)) != 0; }
    void Remove(TFtpStep s) { Bits &= ~Bit(s); }
    TFtpStepSet With(TFtpStep s) const {
        TFtpStepSet r = *this;
        r.Bits |= Bit(s);
        return r;
    }
    bool Empty() const { return Bits == 0; }
    bool operator==(const TFtpStepSet&) const = default;

private:
    static uint32_t Bit(TFtpStep s) { return uint32_t(1) << unsigned(s); }
    uint32_t Bits = 0;
};

enum TFtpOption : uint8_t { ftpAcceptLF, ftpNoAutoResumeAt };

class TFtpOptions {
public:
    TFtpOptions() = default;
    TFtpOptions(std::initializer_list<TFtpOption> options) {
        for (TFtpOption o : options) Bits |= Bit(o);
    }
    bool Contains(TFtpOption o) const { return (Bits & Bit(o)) != 0; }
    bool operator==(const TFtpOptions&) const = default;

private:
    static uint8_t Bit(TFtpOption o) { return uint8_t(1u << unsigned(o)); }
    uint8_t Bits = 0;
};

enum TFtpShareMode : uint8_t {
    ftpShareCompat,
    ftpShareExclusive,
    ftpShareDenyWrite,
    ftpShareDenyRead,
    ftpShareDenyNone
};

enum TFtpConnectionType : uint8_t { ftpDirect, ftpProxy, ftpSocks4, ftpSocks4A, ftpSocks5 };

// TLS for the session: none; explicit (AUTH TLS after the greeting, data
// connections in TLS); implicit (TLS from the first byte, port 990 for a
// port left at 21).
enum TFtpEncryption : uint8_t { ftpEncNone, ftpEncExplicit, ftpEncImplicit };

// Which way a transfer's data goes. An upload's progress counts what the
// peer acknowledged, not what was queued; a download's what arrived.
enum TFtpDirection : uint8_t { ftpUpload, ftpDownload };

// The local usage errors ReportError raises when no OnError handler is set.
class FtpException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using TFtpDisplay = std::function<void(TCustomFtpCli* Sender, std::string& Msg)>;
using TFtpCommand = std::function<void(TCustomFtpCli* Sender, std::string& Cmd)>;
using TFtpNotifyEvent = std::function<void(TCustomFtpCli* Sender)>;
using TFtpSessionConnected = std::function<void(TCustomFtpCli* Sender, uint16_t Error)>;
using TFtpSessionClosed = std::function<void(TCustomFtpCli* Sender, uint16_t Error)>;
using TFtpRequestDone =
    std::function<void(TCustomFtpCli* Sender, TFtpRequest RqType, uint16_t Error)>;
using TFtpProgress = std::function<void(TCustomFtpCli* Sender, int Count, bool& Abort)>;
using TFtpReadyToTransmit = std::function<void(TCustomFtpCli* Sender, bool& bCancel)>;
using TFtpBgException =
    std::function<void(TCustomFtpCli* Sender, const std::exception& E, bool& CanClose)>;

// Messages of the client's hidden window.
constexpr unsigned WM_FTPCLI_DONE = platform::WM_USER + 1;
constexpr unsigned WM_FTPCLI_SEND = platform::WM_USER + 2;

// Share flags stored for each share mode when the local file is opened.
constexpr uint16_t ftpShareFlags[] = {0x0000, 0x0010, 0x0020, 0x0030, 0x0040};
