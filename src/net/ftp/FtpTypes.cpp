#include "FtpTypes.h"

const char* FtpStateName(TFtpClientState state) {
    switch (state) {
    case ftpStNotConnected:
        return "ftpStNotConnected";
    case ftpStReady:
        return "ftpStReady";
    case ftpStStepDone:
        return "ftpStStepDone";
    case ftpStDnsLookup:
        return "ftpStDnsLookup";
    case ftpStConnected:
        return "ftpStConnected";
    case ftpStAbort:
        return "ftpStAbort";
    case ftpStWaitingBanner:
        return "ftpStWaitingBanner";
    case ftpStWaitingReply:
        return "ftpStWaitingReply";
    case ftpStPasvReply:
        return "ftpStPasvReply";
    }
    return "?";
}
