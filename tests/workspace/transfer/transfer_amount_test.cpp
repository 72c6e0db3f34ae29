#include "workspace/transfer/transfer_amount.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

constexpr std::int64_t kMB = 1024 * 1024;

TEST(TransferAmount, BothPartsInTheTotalsUnit) {
    const FormatSettings dot;
    EXPECT_EQ(transferAmountText(13002343, 267386880, dot), "12.4 of 255.0 MB");
    EXPECT_EQ(transferAmountText(0, 267386880, dot), "0.0 of 255.0 MB");
    EXPECT_EQ(transferAmountText(512, 3 * kMB, dot), "0.0 of 3.0 MB");
    EXPECT_EQ(transferAmountText(319488, 819200, dot), "312 of 800 KB");
    EXPECT_EQ(transferAmountText(512, 800, dot), "512 of 800 bytes");
    EXPECT_EQ(transferAmountText(1288490189, 3650722201, dot), "1.2 of 3.4 GB");
}

TEST(TransferAmount, NeverLooksCompleteBeforeItIs) {
    const FormatSettings dot;
    EXPECT_EQ(transferAmountText(255 * kMB - 1, 255 * kMB, dot), "254.9 of 255.0 MB");
    EXPECT_EQ(transferAmountText(255 * kMB, 255 * kMB, dot), "255.0 of 255.0 MB");
}

TEST(TransferAmount, AnUnknownTotalShowsWhatArrived) {
    FormatSettings comma;
    comma.decimalSeparator = ",";
    EXPECT_EQ(transferAmountText(13002343, -1, comma), "12,4 MB");
    EXPECT_EQ(transferAmountText(2048, -1, comma), "2 KB");
    EXPECT_EQ(transferAmountText(0, -1, comma), "0 bytes");
}

}  // namespace
}  // namespace quill
