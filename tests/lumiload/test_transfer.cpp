// The transfer engine alone: one transfer on the stand-in platform, its
// datagrams played by a virtual fixture and its deadlines on the test's
// clock, no socket; the events it tells its sink, in their order.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>

#include "fake_platform.h"
#include "harness.h"
#include "transfer.h"

namespace {

std::string told;  // the events so far, one letter and the block each

void record(const TransferEvent &e)
{
    const char letters[] = "SrsxaUWCNJXVQ--EZPulRTnMwc";
    told += (told.empty() ? "" : " ") + std::string(1, letters[static_cast<int>(e.kind)]) +
            (e.kind == TransferEventKind::AttemptFailed && e.send_error ? "!" : "") +
            (e.block && e.kind != TransferEventKind::Started && e.block <= e.block_count ? std::to_string(e.block) : "");
}

TEST(Transfer, EventsOfOneTransfer)
{
    const TempDir dir;
    const std::string path = dir.path + "/fw.alf";
    const std::vector<uint8_t> image = write_image(path, 1, 5, 600);  // 1.0.5, 3 blocks
    const std::vector<uint8_t> cut(image.begin(), image.end() - 100);  // shorter than its header says
    const std::string upload = "S r1 s1 a1 r2 s2 a2 r3 s3 a3 U";
    const struct {
        std::string fault;  // of the fixture at 2.0.0.10
        bool confirm, cut;
        int failing_to;     // the sends before it fail
        std::string events;
        TransferResult result;
        uint64_t end_ms;
    } rows[] = {
        {"", false, false, 0, upload, TransferResult::Uploaded, 153},
        {",fault=middle:drop", false, false, 0, "S r1 s1 a1 r2 s2 x2 s2 a2 r3 s3 a3 U", TransferResult::Uploaded, 204},
        {",fault=middle:oversize=40", false, false, 0, "S r1 s1 a1 r2 s2 Z2 x2 s2 a2 r3 s3 a3 U", TransferResult::Uploaded, 154},
        {",fault=middle:proto=13", false, false, 0, "S r1 s1 a1 r2 s2 P2 x2 s2 a2 r3 s3 a3 U", TransferResult::Uploaded, 204},
        {"", false, false, 3, "S r1 E1 E1 E1 x!1 s1 a1 r2 s2 a2 r3 s3 a3 U", TransferResult::Uploaded, 154},
        {",fault=first:drop*all", false, false, 0, "S r1 s1 x1 s1 x1 s1 x1 N1", TransferResult::Failed, 6003},
        {",fault=middle:type=allgood", false, false, 0, "S r1 s1 a1 r2 s2 J2", TransferResult::Failed, 52},
        {"", false, true, 0, "S r1 s1 a1 r2 s2 a2 X3", TransferResult::Failed, 102},
        {",reboot=1500", true, false, 0, upload + " W C", TransferResult::Confirmed, 2153},
        {",fault=reboot:old", true, false, 0, upload + " W V", TransferResult::Failed, 1153},
        {",fault=reboot:never", true, false, 0, upload + " W Q", TransferResult::Failed, 3153},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.fault + (row.cut ? " cut" : "") + (row.confirm ? " confirmed" : ""));
        fake_reset({"bind=2.0.0.10" + row.fault});
        fake.failing_from = 0;
        fake.failing_to = row.failing_to;
        told.clear();
        AlfHeader header;
        decode_alf_header(image.data(), &header);
        Transfer transfer;
        Transfer *transfers[] = {&transfer};
        start_transfer(&transfer, row.cut ? cut : image, header, inet_addr("2.0.0.10"), 0, {record, row.confirm, 3});
        ArtSocket socket;
        run_transfers(&socket, transfers, 1);
        EXPECT_EQ(told, row.events);
        EXPECT_TRUE(transfer.result == row.result);
        EXPECT_EQ(transfer.ended_us / 1000, row.end_ms);
        EXPECT_EQ(fake_times("error"), std::vector<uint64_t>());
    }
}

// Late and lost replies on a longer image (seven blocks): the attempts that
// failed, by block, and how it ends. A lost copy costs its block and at
// most the next one an attempt; a late reply never answers a later block,
// and a refusal is final whichever send it answers.
TEST(Transfer, LateAndLostReplies)
{
    const TempDir dir;
    const std::vector<uint8_t> image = write_image(dir.path + "/fw.alf", 1, 5, 2600);
    const struct {
        std::string fault;
        std::string failed_attempts;  // the block of each failed attempt
        TransferResult result;
    } rows[] = {
        {"fault=1:drop", "2 3", TransferResult::Uploaded},
        {"fault=1:lost", "2 3", TransferResult::Uploaded},
        {"fault=1:drop,fault=3:drop", "2 3 4 5", TransferResult::Uploaded},
        // The late reply lands in the next block's window, whose copy is lost.
        {"fault=1:delay=120,fault=2:drop", "2 3", TransferResult::Uploaded},
        // The sixth block's first reply comes in the last block's window, the refusal after it.
        {"fault=5:delay=160,fault=last:type=fail,fault=last:delay=100", "6", TransferResult::Failed},
        // ... and the refusal before the late FirmBlockGood.
        {"fault=5:delay=180,fault=last:type=fail,fault=last:delay=10", "6", TransferResult::Failed},
        {"fault=all:delay=70*all", "", TransferResult::Uploaded},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.fault);
        fake_reset({"bind=2.0.0.10," + row.fault});
        told.clear();
        AlfHeader header;
        decode_alf_header(image.data(), &header);
        Transfer transfer;
        Transfer *transfers[] = {&transfer};
        start_transfer(&transfer, image, header, inet_addr("2.0.0.10"), 0, {record});
        ArtSocket socket;
        run_transfers(&socket, transfers, 1);
        std::string failed;
        for (size_t at = told.find('x'); at != std::string::npos; at = told.find('x', at + 1))
            failed += (failed.empty() ? "" : " ") + told.substr(at + 1, told.find(' ', at) - at - 1);
        EXPECT_EQ(failed, row.failed_attempts) << told;
        EXPECT_TRUE(transfer.result == row.result) << told;
    }
}

}  // namespace
