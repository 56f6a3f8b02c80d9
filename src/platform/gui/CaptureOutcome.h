// What a capture of the screen gave: the picture, nothing (the user said
// no), or the reason it failed, in words for the user and in technical
// detail for "Show Details...".
#pragma once

#include <QImage>

#include <string>

namespace platform {

enum TCaptureResult { crCaptured, crCancelled, crFailed };

struct CaptureOutcome {
    TCaptureResult Result = crFailed;
    QImage Picture;      // crCaptured
    std::string Message; // crFailed: what went wrong, for the user
    std::string Details; // crFailed: what the system said, if anything

    static CaptureOutcome Captured(QImage picture) {
        return {crCaptured, std::move(picture), {}, {}};
    }
    static CaptureOutcome Cancelled() { return {crCancelled, {}, {}, {}}; }
    static CaptureOutcome Failed(std::string message, std::string details = {}) {
        return {crFailed, {}, std::move(message), std::move(details)};
    }
};

// The texts of failed captures.
extern const char* const NoPortalText;
extern const char* const PortalFailedText;
extern const char* const PortalTimeoutText;
extern const char* const PortalRefusedText;
extern const char* const PortalPictureText;
extern const char* const NoScreenText;
extern const char* const NoPictureText;

} // namespace platform
