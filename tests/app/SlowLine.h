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

    // The progress moved with the wire: it reached the whole size only at
    // the end, and the rate it shows three quarters in is the upload's own
    // within 10 %.
    void ExpectHonestProgress(uint64_t size) {
        ASSERT_GT(samples.size(), 20u);
        const Sample& last = samples.back();
        EXPECT_GE(last.sent, size);
        ASSERT_GT(last.ms, 10000) << "the line is slow";
        const Sample* quarter = nullptr;
        for (const Sample& s : samples)
            if (!quarter && s.ms >= last.ms / 4) quarter = &s;
        ASSERT_NE(quarter, nullptr);
        EXPECT_LT(quarter->sent, last.total / 2) << "a quarter of the time in";
        const Sample* threeQuarters = nullptr;
        for (const Sample& s : samples)
            if (!threeQuarters && s.sent >= last.sent * 3 / 4) threeQuarters = &s;
        ASSERT_NE(threeQuarters, nullptr);
        const double shown = double(threeQuarters->sent) / double(threeQuarters->ms);
        const double real = double(last.sent) / double(last.ms);
        EXPECT_NEAR(shown / real, 1.0, 0.1) << shown << " vs " << real << " bytes/ms";
    }
};
