// The command line's jobs without a window: "Publish" of a picture file, or
// of standard input, the way of a capture through the designed export and
// publishing flow; and the test of the saved publishing settings.
#pragma once

#include <string>

// Publishes the PNG, JPEG or BMP picture in file ("-": standard input) and
// returns the exit code: ExitOk once the URL is printed on standard output,
// else ExitFailed with the reasons on standard error.
int PublishFromCommandLine(const std::string& file);

// Captures the screen as "Capture screen" does (region: a region the user
// chooses), publishes the picture under a generated name and prints its URL;
// ExitOk once it is printed, ExitFailed when the capture was cancelled or
// failed, or the publish failed.
int CaptureAndPublishFromCommandLine(bool region);

// Tries the saved publishing settings, each step on standard output;
// ExitOk when publishing works, else ExitFailed.
int TestFromCommandLine();

// Prints every row of the history, newest first: time, URL and name,
// tab-separated. ExitFailed when the history cannot be read.
int HistoryFromCommandLine();

// Deletes the picture the history has at url from its server and the
// history; ExitOk once the server no longer has it.
int DeleteFromCommandLine(const std::string& url);
