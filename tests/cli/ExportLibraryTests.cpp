#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "authoring/SampleGame.h"
#include "export/Exporter.h"
#include "export/SpriteSheet.h"
#include "support/FolderSnapshot.h"
#include "support/TempFolder.h"
#include "util/Error.h"
#include "util/Text.h"

namespace varek::test {
namespace {

namespace fs = std::filesystem;

// Counts the export's calls to it and requests a stop at call number stopAt, or
// at once for 0; keeps every failure.
class StoppingListener final : public ExportListener {
public:
    explicit StoppingListener(std::size_t stopAt = SIZE_MAX) : m_stopAt(stopAt)
    {
        if (stopAt == 0) {
            stop.request_stop();
        }
    }

    void FileStarted(std::size_t, std::size_t, const std::string&) override { Count(); }
    void FrameWritten(std::size_t, std::size_t, const std::string&, std::size_t,
                      std::size_t) override
    {
        Count();
    }
    void FileFinished(std::size_t, std::size_t, const std::string&, std::size_t) override
    {
        Count();
    }
    void Failed(const std::string& name, const std::string& reason) override
    {
        failures.push_back(name + ": " + reason);
    }

    std::stop_source stop;
    std::vector<std::string> failures;

private:
    void Count()
    {
        if (++m_calls == m_stopAt) {
            stop.request_stop();
        }
    }

    std::size_t m_stopAt;
    std::size_t m_calls = 0;
};

// A game folder of two walls and the animations ANIM.FLI and ZOOM.FLI, exported
// in that order, and the images the whole-folder export writes for it.
class ExportLibraryTest : public ::testing::Test {
protected:
    static constexpr std::size_t kFrames = 40;  // of ANIM.FLI; ZOOM.FLI has 3

    void SetUp() override
    {
        m_work.Write("game/PALETTE.PAL", ByteArray(768, 7));
        m_work.Write("game/CELS3/A.CEL", ByteArray(4096, 1));
        m_work.Write("game/CELS3/B.CEL", ByteArray(4096, 2));
        fs::create_directories(m_work / "game/STILLCEL");
        m_work.Write("game/FLI/ANIM.FLI", MakeSampleAnimation(kFrames));
        m_work.Write("game/FLI/ZOOM.FLI", MakeSampleAnimation(3));
        StoppingListener listener;
        ExportGameFolder(Game(), m_work / "whole", {}, listener);
        m_whole = TakeSnapshot(m_work / "whole");
        ASSERT_EQ(m_whole.size(), 2 + kFrames + 3);
    }

    GameFolder Game() const { return GameFolder::Open(m_work / "game"); }

    TempFolder m_work;
    Snapshot m_whole;
};

// Wherever the stop comes, the export starts no further file and writes nothing
// after it but the images already being written, each whole, and no temporary
// file; it is counted cancelled only when something was left unwritten.
TEST_F(ExportLibraryTest, StopsSoonLeavingOnlyWholeFiles)
{
    // Calls: A started and finished, B the same, ANIM started, its frames written...
    // After a stop each of up to 8 writer threads finishes the frame it holds.
    const struct {
        std::size_t stopAt;
        std::size_t filesRead;
        std::size_t fewest, most;  // images written
        bool cancelled;
    } cases[] = {
        {0, 0, 0, 0, true},                                // before the export
        {3, 2, 1, 1, true},                                // as B starts
        {8, 3, 2 + 3, 2 + 3 + 7, true},                    // at ANIM's third frame
        {51, 4, 2 + kFrames + 3, 2 + kFrames + 3, false},  // at the very last call
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopAt);
        TempFolder out;
        StoppingListener listener(c.stopAt);
        ExportOptions options;
        options.stop = listener.stop.get_token();
        const ExportSummary summary = ExportGameFolder(Game(), out.path(), options, listener);

        EXPECT_EQ(summary.cancelled, c.cancelled);
        EXPECT_EQ(summary.filesRead, c.filesRead);
        EXPECT_EQ(summary.failures, 0u);
        EXPECT_TRUE(listener.failures.empty());
        const Snapshot written = TakeSnapshot(out.path());
        EXPECT_EQ(written.size(), summary.imagesWritten);
        EXPECT_GE(written.size(), c.fewest);
        EXPECT_LE(written.size(), c.most);
        for (const auto& [name, bytes] : written) {
            EXPECT_FALSE(IsHiddenName(fs::path(name).filename().string())) << name;
            EXPECT_TRUE(m_whole.count(name) == 1 && m_whole.at(name) == bytes) << name;
        }
    }

    // A sheet stopped at its animation's third picture leaves nothing of itself;
    // the walls' sheet, finished before, stays.
    TempFolder out;
    StoppingListener listener(8);
    ExportOptions options;
    options.sheet = true;
    options.stop = listener.stop.get_token();
    const ExportSummary summary = ExportGameFolder(Game(), out.path(), options, listener);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.imagesWritten, 1u);
    Snapshot written = TakeSnapshot(out.path());
    EXPECT_EQ(written.size(), 2u);
    EXPECT_EQ(written.count("CELS3/walls.png") + written.count("CELS3/walls.json"), 2u);
}

// One animation, named in any case, gives the very files the whole-folder export
// gives for it; a name the folder does not hold is one failure and no file.
TEST_F(ExportLibraryTest, OneAnimationAsTheWholeExportWritesIt)
{
    Snapshot expected;
    for (const auto& [name, bytes] : m_whole) {
        if (name.starts_with("FLI/ANIM-")) {
            expected[name] = bytes;
        }
    }
    StoppingListener listener;
    const ExportSummary summary = ExportAnimation(Game(), "anim.fli", m_work / "one", {}, listener);
    EXPECT_EQ(TakeSnapshot(m_work / "one"), expected);
    EXPECT_EQ(summary, (ExportSummary{1, kFrames, 0, false}));

    const ExportSummary missing =
        ExportAnimation(Game(), "GONE.FLI", m_work / "none", {}, listener);
    EXPECT_EQ(missing, (ExportSummary{0, 0, 1, false}));
    ASSERT_EQ(listener.failures.size(), 1u);
    EXPECT_EQ(listener.failures[0].rfind("FLI/GONE.FLI: Missing: ", 0), 0u) << listener.failures[0];
    EXPECT_FALSE(fs::exists(m_work / "none"));
}

// Pictures go in order, rows of the given count (by default the smallest square
// grid), each at its row's top right of the one before, each row as tall as its
// tallest picture; the sheet is as wide as its widest row.
TEST(SpriteSheet, LayOutSheetFillsRowsInOrder)
{
    const struct {
        const char* what;
        std::vector<SheetSize> pictures;
        int columns;
        SheetSize size;
        std::vector<SheetCell> cells;
        std::vector<std::size_t> rowEnds;
    } cases[] = {
        {"nothing", {}, 0, {0, 0}, {}, {}},
        {"one", {{5, 4}}, 0, {5, 4}, {{0, 0, 5, 4}}, {1}},
        {"3 make a 2 x 2 grid",
         {{5, 4}, {5, 4}, {5, 4}},
         0,
         {10, 8},
         {{0, 0, 5, 4}, {5, 0, 5, 4}, {0, 4, 5, 4}},
         {2, 3}},
        {"10 make a 4 x 3 grid",
         std::vector<SheetSize>(10, {2, 3}),
         0,
         {8, 9},
         {{0, 0, 2, 3},
          {2, 0, 2, 3},
          {4, 0, 2, 3},
          {6, 0, 2, 3},
          {0, 3, 2, 3},
          {2, 3, 2, 3},
          {4, 3, 2, 3},
          {6, 3, 2, 3},
          {0, 6, 2, 3},
          {2, 6, 2, 3}},
         {4, 8, 10}},
        {"one column", {{5, 4}, {5, 4}}, 1, {5, 8}, {{0, 0, 5, 4}, {0, 4, 5, 4}}, {1, 2}},
        {"more columns than pictures",
         {{5, 4}, {5, 4}},
         9,
         {10, 4},
         {{0, 0, 5, 4}, {5, 0, 5, 4}},
         {2}},
        {"sizes differ",
         {{48, 48}, {256, 160}, {161, 97}, {320, 200}},
         2,
         {481, 360},
         {{0, 0, 48, 48}, {48, 0, 256, 160}, {0, 160, 161, 97}, {161, 160, 320, 200}},
         {2, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SheetLayout layout = LayOutSheet(c.pictures, c.columns);
        EXPECT_EQ(layout.size, c.size);
        EXPECT_EQ(layout.cells, c.cells);
        EXPECT_EQ(layout.rowEnds, c.rowEnds);
    }
    // A PNG file takes 1,000,000 pixels a side.
    EXPECT_THROW(LayOutSheet(std::vector<SheetSize>(31, {32768, 1}), 31), Error);
    EXPECT_EQ(LayOutSheet(std::vector<SheetSize>(30, {32768, 1}), 30).size, (SheetSize{983040, 1}));
}

// A real JSON parser reads the description back, names with quotes, backslashes,
// controls, UTF-8 and bytes that are no UTF-8 included.
TEST(SpriteSheet, DescriptionIsJsonInThePackersArrayLayout)
{
    const std::vector<SheetFrame> frames = {
        {"A\"B\\C\x01.png", {0, 0, 4, 2}, 14},
        {"\xff\xc3 \xc3\xa9.png", {4, 0, 4, 2}, 15},
    };
    const std::string json = DescribeSheet(frames, "ANIM \"1\".png", {8, 2}, true, 3);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
    const QJsonArray read = document.object()["frames"].toArray();
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(read[0]["filename"].toString(), QString::fromUtf8("A\"B\\C\x01.png"));
    EXPECT_EQ(read[1]["filename"].toString(), QString::fromUtf8("\uFFFD\uFFFD \u00e9.png"));
    const QJsonObject second = read[1].toObject();
    EXPECT_EQ(second["frame"].toObject(), (QJsonObject{{"x", 4}, {"y", 0}, {"w", 4}, {"h", 2}}));
    EXPECT_EQ(second["duration"].toInt(), 15);
    EXPECT_FALSE(second["rotated"].toBool(true));
    EXPECT_EQ(second["sourceSize"].toObject(), (QJsonObject{{"w", 4}, {"h", 2}}));
    const QJsonObject meta = document.object()["meta"].toObject();
    EXPECT_EQ(meta["image"].toString(), "ANIM \"1\".png");
    EXPECT_EQ(meta["format"].toString(), "I8");
    EXPECT_EQ(meta["size"].toObject(), (QJsonObject{{"w", 8}, {"h", 2}}));
    EXPECT_EQ(meta["scale"].toString(), "3");
    // Stills have no duration.
    const std::string still =
        DescribeSheet({{{"S.png", {0, 0, 1, 1}, std::nullopt}}}, "s.png", {1, 1}, false, 1);
    const QJsonObject only = QJsonDocument::fromJson(QByteArray::fromStdString(still))
                                 .object()["frames"]
                                 .toArray()[0]
                                 .toObject();
    EXPECT_FALSE(only.contains("duration")) << still;
    EXPECT_NE(still.find("\"RGB888\""), std::string::npos);
}

}  // namespace
}  // namespace varek::test
