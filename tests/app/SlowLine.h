// Progress as a slow line shows it: the transfer's reports with their times,
// and the check that they followed the wire rather than the system's buffers.
#pragma once

#include "PublishFixture.h"

#include <QElapsedTimer>

#include <vector>

inline constexpr int LineRate = 30 * 1024;

// About 1.5 MB of JPEG: noise does not compress.
inline void WriteNoisyCapture() {
    WriteCapture(WorkingFilePath(), 1300, 1300, [](int x, int y) {
        uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        return (h ^ (h >> 15)) & 0xFFFFFFu;
    });
}

struct Sample {
    qint64 ms;
    uint64_t sent, total;
};

struct SlowLinePublish : PublishFixture {
    std::vector<Sample> samples;
    QElapsedTimer clock;

    void SetUp() override {
        PublishFixture::SetUp();
        WriteNoisyCapture();
        // Progress of the transfer only, timed from its first report.
        dialogs->whileProgress = [this](ScriptedDialogs::Progress&) {
            if (dialogs->progressTotal == 0) return;
            if (!clock.isValid()) clock.start();
            samples.push_back({clock.elapsed(), dialogs->progressSent, dialogs->progressTotal});
        };
    }

    // The progress moved with the wire: in steps (a server that reads in
    // bursts opens its window a burst at a time), still short of the whole a
    // tenth of the time in, and the whole only at the end.
    void ExpectHonestProgress(uint64_t size) {
        ASSERT_GT(samples.size(), 10u);
        const Sample& last = samples.back();
        EXPECT_GE(last.sent, size);
        ASSERT_GT(last.ms, 15000) << "the line is slow";
        for (const Sample& s : samples)
            if (s.ms >= last.ms / 10) {
                EXPECT_LT(s.sent, last.total * 9 / 10) << "a tenth of the time in";
                break;
            }
    }
};
