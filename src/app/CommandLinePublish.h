// The command line's jobs without a window: "Publish" of a picture file, or
// of standard input, the way of a capture through the designed export and
// publishing flow; and the test of the saved publishing settings.
#pragma once

#include <string>

// Publishes the PNG, JPEG or BMP picture in file ("-": standard input) and
// returns the exit code: ExitOk once the URL is printed on standard output,
// else ExitFailed with the reasons on standard error.
int PublishFromCommandLine(const std::string& file);

// Tries the saved publishing settings, each step on standard output;
// ExitOk when publishing works, else ExitFailed.
int TestFromCommandLine();
