#include "net/fetcher.h"

#include "support/compressed_body.h"

#include <gtest/gtest.h>

#include <random>

namespace velunor {
namespace {

using testing::Compress;
using testing::kGzipBits;
using testing::kRawDeflateBits;
using testing::kZlibBits;

// Text that compresses only a little, so that its output crosses many buffer sizes.
std::string MixedText(std::size_t size) {
    std::mt19937 random(7);
    std::string text;
    while (text.size() < size) {
        text += "第" + std::to_string(random() % 100000) + "章\r\n";
    }
    return text;
}

TEST(InflateBody, GzipZlibAndRawDeflateGiveTheSameText) {
    for (std::size_t size : {std::size_t{1}, std::size_t{5000}, std::size_t{3000000}}) {
        std::string text = MixedText(size);
        for (int bits : {kGzipBits, kZlibBits, kRawDeflateBits}) {
            SCOPED_TRACE(::testing::Message() << size << " bytes, window bits " << bits);
            std::string out = "old";
            EXPECT_EQ(InflateBody(Compress(text, bits), out), 0);
            EXPECT_TRUE(out == text);
        }
    }
}

TEST(InflateBody, RejectsBodiesThatAreNotCompressed) {
    for (std::string body : {std::string("plain text page"), std::string("<html>\0\0", 8),
                             std::string("\x1F\x8B\x08garbage")}) {
        std::string out = "old";
        EXPECT_EQ(InflateBody(body, out), -1);
        EXPECT_EQ(out, "");
    }
}

TEST(InflateBody, StopsADecompressionBombAtTheLimit) {
    std::string zeros(10 * 1024 * 1024, '\0');
    std::string bomb = Compress(zeros, kGzipBits);
    std::string out;
    EXPECT_EQ(InflateBody(bomb, out, 1024 * 1024), -1);
    EXPECT_EQ(out, "");
    // Exactly at the limit is still a page.
    EXPECT_EQ(InflateBody(bomb, out, zeros.size()), 0);
    EXPECT_EQ(out.size(), zeros.size());
}

TEST(InflateBody, KeepsWhatATruncatedBodyHeld) {
    std::string text = MixedText(200000);
    std::string gzip = Compress(text, kGzipBits);
    std::string out;
    EXPECT_EQ(InflateBody(gzip.substr(0, gzip.size() / 2), out), 0);
    EXPECT_GT(out.size(), 0u);
    EXPECT_LT(out.size(), text.size());
    EXPECT_EQ(text.compare(0, out.size(), out), 0);
    EXPECT_EQ(InflateBody("", out), 0);
    EXPECT_EQ(out, "");
}

TEST(InflateBody, FailsOnDamageInsideTheStream) {
    std::string gzip = Compress(MixedText(100000), kGzipBits);
    for (std::size_t i = 100; i < 200; ++i) {
        gzip[i] = static_cast<char>(~gzip[i]);
    }
    std::string out;
    EXPECT_EQ(InflateBody(gzip, out), -1);
    EXPECT_EQ(out, "");
}

} // namespace
} // namespace velunor
