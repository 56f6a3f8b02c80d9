// The pieces of an HTTP publish that need no window: the posting URL's
// target, the form body the upload script reads, its Base64 text, and the
// client that posts it.
#pragma once

#include "HttpUrl.h"
#include "kwHTTPUnit.h"

#include <memory>
#include <string>

// Standard alphabet with "=" padding and no line breaks.
std::string Base64Encode(const std::string& bytes);

// A client ready to post body to postUrl at target, accepting a certificate
// that does not verify only when it has this fingerprint.
std::unique_ptr<kwHTTP> NewPost(const std::string& postUrl, const TPostTarget& target,
                                const std::string& trustedFingerprint, std::string body);

// "filename=" + name + "&key=" + key + "&size=" + bytes + "&sizeenc=" +
// encoded length + "&data=" + Base64 text. Nothing is escaped: the upload
// scripts expect the values as typed.
std::string BuildPostForm(const std::string& name, const std::string& key, const std::string& jpeg);

// The text holds the marker.
bool Contains(const std::string& text, const char* marker);
// Nothing but spaces and control characters: no host to post to.
bool IsBlank(const std::string& text);
// A control character in the posting URL (a line break, say) would add lines
// to the request's head, and one in the publish URL to what the user copies:
// the message that says which holds one, or "" when neither does.
std::string UrlControlCharacterProblem(const std::string& postUrl, const std::string& publishUrl);

// The whole file; empty when it cannot be opened.
std::string ReadWholeFile(const std::string& path);

// The reply markers of the upload script.
inline constexpr const char* MarkerTransferOk = "##TRANSFER_OK##";
inline constexpr const char* MarkerAuthFail = "##AUTHFAIL##";
inline constexpr const char* MarkerSizeDiff = "##SIZEDIFF##";
inline constexpr const char* MarkerNotFound = "404 Not Found";
// The answer to a check request when the key is right and a picture could be stored.
inline constexpr const char* MarkerCheckOk = "##CHECK_OK##";
// The key was right, but the script cannot store pictures; its words follow.
inline constexpr const char* MarkerCheckFailed = "##CHECK_FAILED##";
