#include <gtest/gtest.h>

#include <filesystem>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "authoring/SampleGame.h"
#include "export/Exporter.h"
#include "support/FolderSnapshot.h"
#include "support/TempFolder.h"
#include "util/Text.h"

namespace varek::test {
namespace {

namespace fs = std::filesystem;

// Requests a stop when the export reaches the point named, and keeps every failure.
class StoppingListener final : public ExportListener {
public:
    enum class At { Never, Start, FileStarted2, Frame3, LastFileFinished };

    StoppingListener(At at, std::stop_source& stop) : m_at(at), m_stop(stop) {}

    void FileStarted(std::size_t position, std::size_t, const std::string&) override
    {
        StopIf(m_at == At::FileStarted2 && position == 2);
    }
    void FrameWritten(std::size_t, std::size_t, const std::string&, std::size_t frame,
                      std::size_t) override
    {
        StopIf(m_at == At::Frame3 && frame == 3);
    }
    void FileFinished(std::size_t position, std::size_t total, const std::string&,
                      std::size_t) override
    {
        StopIf(m_at == At::LastFileFinished && position == total);
    }
    void Failed(const std::string& name, const std::string& reason) override
    {
        failures.push_back(name + ": " + reason);
    }

    std::vector<std::string> failures;

private:
    void StopIf(bool reached)
    {
        if (reached) {
            m_stop.request_stop();
        }
    }

    At m_at;
    std::stop_source& m_stop;
};

// A game folder of two walls and the animations ANIM.FLI (many frames) and
// ZOOM.FLI, exported in that order, and what the whole-folder export writes for it.
class ExportLibraryTest : public ::testing::Test {
protected:
    static constexpr int kFrames = 40;

    void SetUp() override
    {
        m_work.Write("game/PALETTE.PAL", ByteArray(768, 7));
        m_work.Write("game/CELS3/A.CEL", ByteArray(4096, 1));
        m_work.Write("game/CELS3/B.CEL", ByteArray(4096, 2));
        fs::create_directories(m_work / "game/STILLCEL");
        m_work.Write("game/FLI/ANIM.FLI", MakeSampleAnimation(kFrames));
        m_work.Write("game/FLI/ZOOM.FLI", MakeSampleAnimation(3));
        std::stop_source unused;
        StoppingListener listener(StoppingListener::At::Never, unused);
        ExportGameFolder(Game(), m_work / "whole", {}, listener);
        m_whole = TakeSnapshot(m_work / "whole");
        ASSERT_EQ(m_whole.size(), 2u + kFrames + 3u);
    }

    GameFolder Game() const { return GameFolder::Open(m_work / "game"); }

    TempFolder m_work;
    Snapshot m_whole;
};

// Wherever the stop comes, the export writes nothing after it but the images
// already being written, each of them whole, and no temporary file; it is counted
// cancelled only when something was left unwritten.
TEST_F(ExportLibraryTest, StopsSoonLeavingOnlyWholeFiles)
{
    using At = StoppingListener::At;
    const struct {
        At at;
        std::size_t filesRead;
        std::size_t fewest, most;  // images written
        bool cancelled;
    } cases[] = {
        {At::Start, 0, 0, 0, true},
        {At::FileStarted2, 2, 1, 1, true},
        // Each of up to 8 writer threads finishes the frame it holds.
        {At::Frame3, 3, 2 + 3, 2 + 3 + 7, true},
        {At::LastFileFinished, 4, 2 + kFrames + 3, 2 + kFrames + 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.at));
        TempFolder out;
        std::stop_source stop;
        if (c.at == At::Start) {
            stop.request_stop();
        }
        StoppingListener listener(c.at, stop);
        ExportOptions options;
        options.stop = stop.get_token();
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
        if (c.at == At::Frame3) {
            EXPECT_EQ(written.count("FLI/ZOOM-01.bmp"), 0u);
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
    std::stop_source unused;
    StoppingListener listener(StoppingListener::At::Never, unused);
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
