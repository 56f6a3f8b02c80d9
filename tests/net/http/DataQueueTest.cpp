#include "DataQueue.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

void Add(TDataQueue& q, const std::string& s) {
    q.AddData(s.data(), s.size());
}

std::vector<std::string> Lines(TDataQueue& q) {
    std::vector<std::string> out;
    for (std::string l; q.GetLine(l);) out.push_back(l);
    return out;
}

// The queue as first designed: every line taken copies all the rest.
struct ReferenceQueue {
    std::string bytes;
    bool GetLine(std::string& line) {
        line.clear();
        size_t p = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i)
            if ((bytes[i] == '\r' && bytes[i + 1] == '\n') ||
                (bytes[i] == '\n' && bytes[i + 1] == '\r')) {
                p = i + 1;
                break;
            }
        if (p == 0) return false;
        for (char c : bytes.substr(0, p - 1))
            if (c != '\r' && c != '\n') line += c;
        bytes = bytes.substr(p + 1);
        return true;
    }
};

} // namespace

TEST(DataQueue, EmptyOrUnendedTextYieldsNoLine) {
    TDataQueue q;
    std::string line = "stale";
    EXPECT_FALSE(q.GetLine(line));
    EXPECT_EQ(line, "");
    Add(q, "abc");
    line = "stale";
    EXPECT_FALSE(q.GetLine(line));
    EXPECT_EQ(line, "");
    EXPECT_EQ(q.Size(), 3u);
}

TEST(DataQueue, CrLfEndsALineAndTheRestStaysQueued) {
    TDataQueue q;
    Add(q, "ab\r\ncd");
    std::string line;
    ASSERT_TRUE(q.GetLine(line));
    EXPECT_EQ(line, "ab");
    EXPECT_EQ(q.Size(), 2u);
    EXPECT_FALSE(q.GetLine(line));
    Add(q, "\r\n");
    ASSERT_TRUE(q.GetLine(line));
    EXPECT_EQ(line, "cd");
    EXPECT_EQ(q.Size(), 0u);
}

TEST(DataQueue, LfCrAlsoEndsALineButALoneCrOrLfDoesNot) {
    TDataQueue q;
    Add(q, "one\n\rtwo\nthree\rfour\r\n\r\n");
    EXPECT_EQ(Lines(q), (std::vector<std::string>{"one", "twothreefour", ""}));
}

TEST(DataQueue, LineEndSplitAcrossAdditionsIsFound) {
    TDataQueue q;
    Add(q, "x\r");
    std::string line;
    EXPECT_FALSE(q.GetLine(line));
    Add(q, "\ny");
    ASSERT_TRUE(q.GetLine(line));
    EXPECT_EQ(line, "x");
    EXPECT_EQ(q.Size(), 1u);
}

TEST(DataQueue, LfOnlyTextBecomesOneLineOnceAPairArrives) {
    TDataQueue q;
    Add(q, "a\nb\nc\n");
    EXPECT_TRUE(Lines(q).empty());
    Add(q, "\r\n");
    // c LF CR is the first pair; the LF after it stays queued.
    EXPECT_EQ(Lines(q), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(q.Size(), 1u);
}

TEST(DataQueue, BytesPassUnchanged) {
    TDataQueue q;
    const std::string raw("\0\x01\xff\x80 \t", 6);
    Add(q, raw + "\r\n");
    std::string line;
    ASSERT_TRUE(q.GetLine(line));
    EXPECT_EQ(line, raw);
}

TEST(DataQueue, ManyShortLinesComeOutInOrder) {
    TDataQueue q;
    std::string all;
    for (int i = 0; i < 100000; ++i) all += std::to_string(i) + "\r\n";
    // Arrival in odd-sized pieces, lines taken as they complete.
    std::vector<std::string> got;
    for (size_t at = 0; at < all.size(); at += 1777) {
        q.AddData(all.data() + at, std::min<size_t>(1777, all.size() - at));
        for (std::string l; q.GetLine(l);) got.push_back(l);
    }
    ASSERT_EQ(got.size(), 100000u);
    for (int i : {0, 1, 9999, 54321, 99999}) EXPECT_EQ(got[size_t(i)], std::to_string(i));
    EXPECT_EQ(q.Size(), 0u);
}

TEST(DataQueue, AgreesWithTheCopyingQueueOnRandomTraffic) {
    std::mt19937 random(7);
    const char alphabet[] = {'\r', '\n', 'a', 'b', ' '};
    for (int round = 0; round < 300; ++round) {
        TDataQueue q;
        ReferenceQueue ref;
        for (int step = 0; step < 60; ++step) {
            std::string piece(random() % 9, ' ');
            for (char& c : piece) c = alphabet[random() % 5];
            Add(q, piece);
            ref.bytes += piece;
            const int takes = int(random() % 3);
            for (int t = 0; t < takes; ++t) {
                std::string a, b;
                const bool ga = q.GetLine(a), gb = ref.GetLine(b);
                ASSERT_EQ(ga, gb) << "round " << round << " step " << step;
                ASSERT_EQ(a, b);
            }
            ASSERT_EQ(q.Size(), ref.bytes.size());
        }
    }
}
