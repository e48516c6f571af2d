#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "authoring/SampleGame.h"
#include "export/Exporter.h"
#include "support/FolderSnapshot.h"
#include "support/TempFolder.h"
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

}  // namespace
}  // namespace varek::test
