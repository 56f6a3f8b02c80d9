// Helpers for the tests that drive the main window: a working capture file
// and the enabled state of the buttons.
#pragma once

#include "BmpBuilder.h"
#include "mainFormUnit.h"

#include <QPushButton>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

// Writes a 24-bit picture of colour(x, y) (0xRRGGBB, y from the top) as the
// capture file at path; by default an asymmetric two-colour one.
inline void WriteCapture(
    const std::string& path, int width = 4, int height = 3,
    const std::function<uint32_t(int, int)>& colour = [](int x, int y) {
        return x == 0 && y == 0 ? 0xFF0000u : 0x0000FFu;
    }) {
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bits = 24;
    b.pixels = PackPixels(width, height, 24, true, colour);
    b.WriteTo(path);
}

// Enabled state per button caption.
using ButtonStates = std::map<std::string, bool>;

inline ButtonStates Buttons(const TfrmMain& w) {
    return {{"Configure", w.btnConfig->isEnabled()},
            {"Capture screen", w.btnCaptureScreen->isEnabled()},
            {"Capture region", w.btnCaptureRegion->isEnabled()},
            {"Take image from clipboard", w.btnTakeFromClip->isEnabled()},
            {"Crop", w.btnCrop->isEnabled()},
            {"Save", w.btnSaveLocal->isEnabled()},
            {"Publish", w.btnPublish->isEnabled()},
            {"Copy to clipboard", w.btnCopyToClip->isEnabled()},
            {"About", w.btnAbout->isEnabled()}};
}

// About is always enabled; sources are the buttons that make a capture (and
// Configure), outputs the ones that use it.
inline ButtonStates ExpectedButtons(bool sources, bool outputs) {
    return {{"Configure", sources},
            {"Capture screen", sources},
            {"Capture region", sources},
            {"Take image from clipboard", sources},
            {"Crop", outputs},
            {"Save", outputs},
            {"Publish", outputs},
            {"Copy to clipboard", outputs},
            {"About", true}};
}
