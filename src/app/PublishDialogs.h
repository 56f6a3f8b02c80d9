// A publish as the user follows it: the name prompt and the export, a
// progress window with Cancel while the publisher runs, the question about a
// certificate that does not verify, and the result in the designed boxes.
// The window and the command line (with its console dialogs) share it.
#pragma once

#include "Publisher.h"

#include <optional>
#include <string>

// Reloads the settings, asks for the name (a generated one proposed) and
// exports the capture in the BMP file source as that JPEG; the name, or
// nothing when the user cancelled.
std::optional<std::string> ExportForPublish(const std::string& source);

// Exports the capture in the BMP file source under a generated name, without
// asking; the name.
std::string ExportUnderGeneratedName(const std::string& source);

// The caption of the box that shows a published picture's URL for copying.
inline constexpr const char* PublishedUrlCaption = "Transfer succeeded!";
// Puts the URL on the clipboard first where the settings ask for that, then
// shows it in its box.
void ShowPublishedUrl(const std::string& url);

// Runs publisher on the exported file of name, then shows the result:
// "Publishing cancelled.", or each message with its details, and the URL at
// its place among them.
TPublishResult PublishWithDialogs(TPublisher& publisher, const std::string& name);

// The notification of a publish made without a box.
std::string PublishedNoticeText(const std::string& url);
// Runs publisher on the exported file of name like PublishWithDialogs, but
// a clean publish shows no box: the URL goes on the clipboard and a desktop
// notification says so. What went wrong is a notification too; without a
// notification service, everything is shown in the boxes as ever.
TPublishResult PublishQuietly(TPublisher& publisher, const std::string& name);
